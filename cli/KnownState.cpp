#include "KnownState.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <set>
#include <vector>

#include "base/SafeFile.h"
#include "formats/KnownDevicesFile.h"
#include "formats/KnownOutput.h"
#include "formats/ScanOutput.h"
#include "log/DeviceText.h"
#include "res/FailureText.h"

bool LoadKnownDevices(const std::string& path, CKnownDevices& known, bool mustExist) {
    std::string problem;
    const Result<std::optional<std::string>> text = ReadOwnFile(path);
    if (!text) {
        problem = FailureText(text.Error());
    } else if (!*text) {
        if (mustExist)
            problem = "it does not exist";
        else
            known.Devices().clear();  // removed meanwhile: a watch starts afresh, as a new one would
    } else if (const Failure refused = ReadKnownDevices(**text, known)) {
        problem = FailureText(refused);
    }
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

UniqueFd LockKnownDevices(const std::string& path, std::string& reason) {
    std::string name;
    Result<UniqueFd> folder = OpenParentSafely(path, name);
    if (!folder) {
        reason = FailureText(folder.Error());
        return {};
    }
    name += ".lock";
    UniqueFd lock(
        ::openat(folder->get(), name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    struct stat st {};
    if (!lock || ::fstat(lock.get(), &st) != 0) {
        reason = name + ": " + (errno == ELOOP ? "a symbolic link" : std::strerror(errno));
        return {};
    }
    // Another user's lock file could be held by them for good.
    if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        reason = name + ": not a regular file of this user";
        return {};
    }
    int locked;
    while ((locked = ::flock(lock.get(), LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (locked != 0) {
        reason = name + ": " + std::strerror(errno);
        return {};
    }
    return lock;
}

std::string FormatRemoved(const std::string& what, const std::vector<KnownDevice>& devices) {
    std::string out;
    for (const KnownDevice& d : devices)
        out += what + " " + EscapeDeviceText(d.interface) + " " + EscapeDeviceText(d.ip) + " " +
               EscapeDeviceText(d.mac) + "\n";
    return out;
}

namespace {

// Removes what the addresses name from the file under its lock; the lines of what went, or the
// exit status with a message.
int Forget(const ScanOptions& o, std::string& lines) {
    std::string reason;
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
    for (const std::string& address : o.forget) {
        const std::vector<KnownDevice> gone = known.Forget(address);
        if (gone.empty()) {
            std::fprintf(stderr, "oldiscovery-scan: no known device has the address %s in %s\n",
                         address.c_str(), o.stateFile.c_str());
            return kExitUsage;
        }
        std::set<std::string> macs;
        for (const KnownDevice& d : gone)
            macs.insert(d.mac);
        // An address conflict: the device that keeps answering comes back as a new one.
        if (IsDottedQuad(address) && macs.size() > 1)
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

}  // namespace

int RunKnownDevicesCommand(const ScanOptions& o) {
    std::string text;
    if (!o.forget.empty())
        if (const int status = Forget(o, text))
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
        text += o.json ? FormatKnownJson(known) : FormatKnownTable(known);
    }
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
        std::perror("oldiscovery-scan: cannot write the output");
        return kExitOutput;
    }
    return 0;
}
