#pragma once
// The commands that work on the --state file alone, without a scan: --forget and --known.
#include <string>

#include "formats/FleetFile.h"
#include "ScanOptions.h"

class CKnownDevicesCommand {
public:
    // fleet (may be null) adds names, expectations and approved builds to --known.
    CKnownDevicesCommand(const ScanOptions& options, const Fleet* fleet) : m_options(options), m_fleet(fleet) {}
    // Forgets what --forget names, then lists the file with --known; the exit status.
    int Run() const;

private:
    // Removes what the addresses name from the file under its lock; the lines of what went, or
    // the exit status with a message.
    int Forget(std::string& lines) const;

    const ScanOptions& m_options;
    const Fleet* m_fleet;
};
