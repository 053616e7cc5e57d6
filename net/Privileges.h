#pragma once
// Rights for raw sockets on Linux: root, or CAP_NET_RAW (usually granted as a file capability,
// `setcap cap_net_raw+p`).
#include <system_error>

// True when the process runs as root or holds CAP_NET_RAW in its permitted set.
bool HasNetRawPermitted();
// Raises CAP_NET_RAW into the effective set for creating a raw socket; false if not permitted.
// Root needs nothing raised.
bool RaiseNetRaw();
// Drops every capability from the effective and permitted sets once the socket exists, so the
// rest of the run holds no privilege it does not need. The error when the system refused; the
// failure is remembered for CapabilityDropError.
std::error_code DropCapabilities();
// The error of the last DropCapabilities call of this process that failed; none while none did.
std::error_code CapabilityDropError();
