#include "KnownState.h"

#include <cstdio>
#include <vector>

#include "discovery/ScanOutput.h"
#include "platform/SafeFile.h"

bool LoadKnownDevices(const std::string& path, CKnownDevices& known, bool mustExist) {
    std::string text;
    bool exists = false;
    std::string problem = ReadOwnFile(path, text, &exists);
    if (problem.empty() && exists)
        problem = known.Parse(text);
    else if (problem.empty() && mustExist)
        problem = "it does not exist";
    if (problem.empty())
        return true;
    // Never started afresh over it: what the file knows would be lost without a word.
    std::fprintf(stderr, "oldiscovery-scan: cannot use the state file %s: %s\n", path.c_str(), problem.c_str());
    return false;
}

bool SaveKnownDevices(const std::string& path, const CKnownDevices& known, std::string& reason) {
    // Only its user reads it: it lists the network's devices.
    return WriteFileAtomically(path, known.Serialize(), 0600, &reason);
}

int RunKnownDevicesCommand(const ScanOptions& o) {
    CKnownDevices known;
    // Listing or forgetting in a file that is not there is a wrong name, not an empty list.
    if (!LoadKnownDevices(o.stateFile, known, true))
        return kExitState;
    if (!o.forget.empty()) {
        for (const std::string& address : o.forget) {
            if (known.Forget(address) == 0) {
                std::fprintf(stderr, "oldiscovery-scan: no known device has the address %s in %s\n",
                             address.c_str(), o.stateFile.c_str());
                return kExitUsage;
            }
        }
        std::string reason;
        if (!SaveKnownDevices(o.stateFile, known, reason)) {
            std::fprintf(stderr, "oldiscovery-scan: cannot write the state file %s: %s\n", o.stateFile.c_str(),
                         reason.c_str());
            return kExitState;
        }
    }
    if (!o.known)
        return 0;
    std::vector<COrvalink> devices;
    for (const auto& [key, d] : known.Devices())
        devices.push_back(AsDevice(d));
    SortDevices(devices);
    const std::string text = o.json ? FormatJson(devices) : FormatTable(devices);
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
        std::perror("oldiscovery-scan: cannot write the output");
        return kExitOutput;
    }
    return 0;
}
