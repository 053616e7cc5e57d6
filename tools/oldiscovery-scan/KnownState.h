#pragma once
// oldiscovery-scan's --state file: reading and writing the known devices with their one-line
// errors, and the commands that only work on the file (--forget, --known).
#include <string>

#include "discovery/KnownDevices.h"
#include "ScanOptions.h"

// Reads the file into known (a missing file is an empty inventory, unless mustExist); false
// after one line on standard error when it is refused or cannot be read.
bool LoadKnownDevices(const std::string& path, CKnownDevices& known, bool mustExist = false);
// Replaces the file in one step; false with reason when it could not be written (then the file
// is left as it was).
bool SaveKnownDevices(const std::string& path, const CKnownDevices& known, std::string& reason);
// --forget and --known: the exit status.
int RunKnownDevicesCommand(const ScanOptions& options);
