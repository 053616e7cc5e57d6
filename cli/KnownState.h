#pragma once
// oldiscovery-scan's --state file: reading and writing the known devices with their one-line
// errors, and the lock every writer holds across its read and write.
#include <chrono>
#include <string>

#include "engine/KnownDevices.h"
#include "base/UniqueFd.h"

// How long a writer waits for another writer's lock before it gives up.
inline constexpr std::chrono::seconds kStateLockWait{10};

// Reads the file into known, replacing what it held (a missing file is an empty inventory,
// unless mustExist); "" or why it was refused or could not be read.
std::string ReadKnownState(const std::string& path, CKnownDevices& known, bool mustExist = false);
// The same, false after one line on standard error that says why.
bool LoadKnownDevices(const std::string& path, CKnownDevices& known, bool mustExist = false);
// Replaces the file in one step; false with reason when it could not be written (then the file
// is left as it was).
bool SaveKnownDevices(const std::string& path, const CKnownDevices& known, std::string& reason);
// Waits for and takes the lock of the file: an exclusive flock on "FILE.lock" beside it (made
// mode 0600 when missing, never through a symbolic link, only the user's own, and only beside a
// file of this user), held until the descriptor closes. The file itself is replaced by every
// write, so it cannot carry the lock. Waits at most wait, less when stopFd (a signal fd) becomes
// readable. Empty with reason when it cannot be had; a lock held too long names its holder where
// the kernel tells it.
UniqueFd LockKnownDevices(const std::string& path, std::string& reason, int stopFd = -1,
                          std::chrono::milliseconds wait = kStateLockWait);
// The devices as lines "what IF IP MAC" (device text escaped), for what a writer removed.
std::string FormatRemoved(const std::string& what, const std::vector<KnownDevice>& devices);
