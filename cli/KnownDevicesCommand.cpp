#include "KnownDevicesCommand.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <vector>

#include "formats/KnownOutput.h"
#include "formats/ScanOutput.h"
#include "net/AddressText.h"
#include "KnownState.h"

int CKnownDevicesCommand::Forget(std::string& lines) const {
    const ScanOptions& o = m_options;
    std::string reason;
    // A stop signal keeps its default action here: it ends the wait with the program.
    const UniqueFd lock = LockKnownDevices(o.stateFile, reason);
    if (!lock) {
        std::fprintf(stderr, "oldiscovery-scan: cannot lock the state file %s: %s\n", o.stateFile.c_str(),
                     reason.c_str());
        return kExitState;
    }
    // Read under the lock: what a scan wrote a moment ago is what is changed.
    CKnownDevices known;
    if (!LoadKnownDevices(o.stateFile, known, true))
        return kExitState;
    std::vector<std::string> warnings;
    std::vector<KnownDevice> forgotten;
    for (const std::string& address : o.forget) {
        const std::vector<KnownDevice> gone = known.Forget(address);
        // A device named twice (by its IP and by its MAC) goes once.
        const auto named = [&](const KnownDevice& d) { return AddressNames(address, d); };
        if (gone.empty() && std::any_of(forgotten.begin(), forgotten.end(), named))
            continue;
        forgotten.insert(forgotten.end(), gone.begin(), gone.end());
        if (gone.empty()) {
            std::fprintf(stderr, "oldiscovery-scan: no known device has the address %s in %s\n",
                         address.c_str(), o.stateFile.c_str());
            return kExitUsage;
        }
        std::set<std::string> macs;
        for (const KnownDevice& d : gone)
            macs.insert(d.mac);
        // An address conflict: the device that keeps answering comes back as a new one.
        if (ParseIpv4(address) && macs.size() > 1)
            warnings.push_back(
                "oldiscovery-scan: Warning: " + address + " was the address of " +
                std::to_string(macs.size()) +
                " devices (different MACs), all forgotten; --forget MAC or IP,MAC names one\n");
        lines += FormatRemoved("forgot", gone);
    }
    if (!SaveKnownDevices(o.stateFile, known, reason)) {
        std::fprintf(stderr, "oldiscovery-scan: cannot write the state file %s: %s\n", o.stateFile.c_str(),
                     reason.c_str());
        return kExitState;
    }
    for (const std::string& warning : warnings)
        std::fputs(warning.c_str(), stderr);
    return 0;
}

int CKnownDevicesCommand::Run() const {
    const ScanOptions& o = m_options;
    std::string text;
    if (!o.forget.empty())
        if (const int status = Forget(text))
            return status;
    // The JSON list stays one document; what was forgotten is said beside it.
    if (o.known && o.json) {
        std::fputs(text.c_str(), stderr);
        text.clear();
    }
    if (o.known) {
        CKnownDevices known;
        // Listing a file that is not there is a wrong name, not an empty list.
        if (!LoadKnownDevices(o.stateFile, known, true))
            return kExitState;
        text += o.json ? FormatKnownJson(known, m_fleet) : FormatKnownTable(known, m_fleet);
    }
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
        std::perror("oldiscovery-scan: cannot write the output");
        return kExitOutput;
    }
    return 0;
}
