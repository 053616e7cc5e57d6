#pragma once
// The known devices a scan with --state expects to answer, so that it can end early once they have.
#include <string>
#include <vector>

#include "engine/KnownDevices.h"
#include "engine/ScanWorker.h"

// Every known device of the scanned interfaces (interfaces: the chosen ones; empty, every one).
// A device whose interface is gone is expected on any: it still keeps the scan to its usual end.
std::vector<CScanWorker::ExpectedDevice> ExpectedDevices(const CKnownDevices& known,
                                                         const std::vector<std::string>& interfaces);
