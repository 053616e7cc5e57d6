#include "KnownState.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "base/SafeFile.h"
#include "formats/KnownDevicesFile.h"
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
