#pragma once
// The commands that work on the --state file alone, without a scan: --forget and --known.
#include <string>

#include "ScanOptions.h"

class CKnownDevicesCommand {
public:
    explicit CKnownDevicesCommand(const ScanOptions& options) : m_options(options) {}
    // Forgets what --forget names, then lists the file with --known; the exit status.
    int Run() const;

private:
    // Removes what the addresses name from the file under its lock; the lines of what went, or
    // the exit status with a message.
    int Forget(std::string& lines) const;

    const ScanOptions& m_options;
};
