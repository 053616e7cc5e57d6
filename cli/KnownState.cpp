#include "KnownState.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "base/SafeFile.h"
#include "formats/KnownDevicesFile.h"
#include "log/DeviceText.h"
#include "res/FailureText.h"

std::string ReadKnownState(const std::string& path, CKnownDevices& known, bool mustExist) {
    const Result<std::optional<std::string>> text = ReadOwnFile(path, kKnownDevicesMaxBytes);
    if (!text)
        return FailureText(text.Error());
    if (!*text) {
        if (mustExist)
            return "it does not exist";
        known.Devices().clear();  // removed meanwhile: a watch starts afresh, as a new one would
        return {};
    }
    const Failure refused = ReadKnownDevices(**text, known);
    return refused ? FailureText(refused) : "";
}

bool LoadKnownDevices(const std::string& path, CKnownDevices& known, bool mustExist) {
    const std::string problem = ReadKnownState(path, known, mustExist);
    if (problem.empty())
        return true;
    // Never started afresh over it: what the file knows would be lost without a word.
    std::fprintf(stderr, "oldiscovery-scan: cannot use the state file %s: %s\n", path.c_str(), problem.c_str());
    return false;
}

bool SaveKnownDevices(const std::string& path, const CKnownDevices& known, std::string& reason) {
    // Only its user reads it: it lists the network's devices.
    const Failure failed = WriteFileAtomically(path, KnownDevicesText(known), 0600);
    if (failed)
        reason = FailureText(failed);
    return !failed;
}

std::string FormatRemoved(const std::string& what, const std::vector<KnownDevice>& devices) {
    std::string out;
    for (const KnownDevice& d : devices)
        out += what + " " + EscapeDeviceText(d.interface) + " " + EscapeDeviceText(d.ip) + " " +
               EscapeDeviceText(d.mac) + "\n";
    return out;
}
