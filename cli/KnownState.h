#pragma once
// oldiscovery-scan's --state file: reading and writing the known devices with their one-line
// errors, and the lock every writer holds across its read and write.
#include <string>

#include "engine/KnownDevices.h"
#include "base/UniqueFd.h"
#include "formats/KnownDevicesLock.h"

// Reads the file into known, replacing what it held (a missing file is an empty inventory,
// unless mustExist); "" or why it was refused or could not be read.
std::string ReadKnownState(const std::string& path, CKnownDevices& known, bool mustExist = false);
// The same, false after one line on standard error that says why.
bool LoadKnownDevices(const std::string& path, CKnownDevices& known, bool mustExist = false);
// Replaces the file in one step; false with reason when it could not be written (then the file
// is left as it was).
bool SaveKnownDevices(const std::string& path, const CKnownDevices& known, std::string& reason);
// The devices as lines "what IF IP MAC" (device text escaped), for what a writer removed.
std::string FormatRemoved(const std::string& what, const std::vector<KnownDevice>& devices);
