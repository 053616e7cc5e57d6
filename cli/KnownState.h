#pragma once
// oldiscovery-scan's --state file: reading and writing the known devices with their one-line
// errors, and the lock every writer holds across its read and write.
#include <string>

#include "engine/KnownDevices.h"
#include "base/UniqueFd.h"

// Reads the file into known, replacing what it held (a missing file is an empty inventory,
// unless mustExist); false
// after one line on standard error when it is refused or cannot be read.
bool LoadKnownDevices(const std::string& path, CKnownDevices& known, bool mustExist = false);
// Replaces the file in one step; false with reason when it could not be written (then the file
// is left as it was).
bool SaveKnownDevices(const std::string& path, const CKnownDevices& known, std::string& reason);
// Waits for and takes the lock of the file: an exclusive flock on "FILE.lock" beside it (made
// mode 0600 when missing, never through a symbolic link, only the user's own), held until the
// descriptor closes. The file itself is replaced by every write, so it cannot carry the lock.
// Empty with reason when it cannot be had.
UniqueFd LockKnownDevices(const std::string& path, std::string& reason);
// The devices as lines "what IF IP MAC" (device text escaped), for what a writer removed.
std::string FormatRemoved(const std::string& what, const std::vector<KnownDevice>& devices);
