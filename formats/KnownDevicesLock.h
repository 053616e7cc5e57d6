#pragma once
// The lock every writer of a known-devices file holds from reading it to replacing it: an
// exclusive flock on "FILE.lock" beside it. The file itself is replaced by every write, so it
// cannot carry the lock.
#include <string>

#include "base/Error.h"
#include "base/UniqueFd.h"

// Waits for and takes the lock of path's file (the lock file made mode 0600 when missing, never
// through a symbolic link, only the user's own: another user's could be held by them for good).
// Held until the descriptor closes.
Result<UniqueFd> LockKnownDevicesFile(const std::string& path);
