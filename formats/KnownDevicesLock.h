#pragma once
// The lock every writer of a known-devices file holds from reading it to replacing it, the window
// and oldiscovery-scan alike.
#include <chrono>
#include <string>

#include "base/UniqueFd.h"

// How long a writer waits for another writer's lock before it gives up.
inline constexpr std::chrono::seconds kStateLockWait{10};

// Takes the lock of the file: an exclusive flock on "FILE.lock" beside it (made mode 0600 when
// missing, never through a symbolic link, only the user's own, and only beside a file of this
// user), held until the descriptor closes. The file itself is replaced by every write, so it
// cannot carry the lock. Waits at most wait (zero: only tries), less when stopFd (a signal fd)
// becomes readable. Empty with reason when it cannot be had; a lock held by another names its
// holder where the kernel tells it, and sets *held.
UniqueFd LockKnownDevices(const std::string& path, std::string& reason, int stopFd = -1,
                          std::chrono::milliseconds wait = kStateLockWait, bool* held = nullptr);
