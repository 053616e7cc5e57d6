#pragma once
// Rights for raw sockets on Linux: root, or CAP_NET_RAW (usually granted as a file capability,
// `setcap cap_net_raw+p`).
#include "base/Error.h"

// Raises CAP_NET_RAW into the effective set for creating a raw socket; EPERM when it is not
// permitted, the errno when the system refused. Root needs nothing raised.
Failure RaiseNetRaw();
// Drops every capability from the effective and permitted sets of the calling thread once the
// sockets exist, so the rest of the run holds no privilege it does not need; the errno when the
// system refused.
Failure DropCapabilities();
