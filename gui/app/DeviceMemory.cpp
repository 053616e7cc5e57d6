#include "gui/app/DeviceMemory.h"

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <utility>

#include "base/SafeFile.h"
#include "formats/KnownDevicesFile.h"
#include "formats/KnownDevicesLock.h"

namespace {

// Makes the folders on the way to path's file that are missing, for this user alone (the file
// lists the network's devices).
Failure MakeParentFolders(const std::string& path) {
    for (std::size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1)) {
        const std::string folder = path.substr(0, at);
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
            return Failure(std::error_code(errno, std::generic_category()), folder);
    }
    return {};
}

Failure ReadInto(const std::string& path, CKnownDevices& known) {
    const Result<std::optional<std::string>> text = ReadOwnFile(path);
    if (!text)
        return text.Error();
    if (!*text) {
        known.Devices().clear();
        return {};
    }
    return ReadKnownDevices(**text, known);
}

}  // namespace

CDeviceMemory::CDeviceMemory(std::string path) : m_path(std::move(path)) {}

std::string CDeviceMemory::DefaultPath() {
    // Relative values are to be ignored, as the base-directory rules say.
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && state[0] == '/')
        return std::string(state) + "/oldiscovery/known-devices.json";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/')
        return std::string(home) + "/.local/state/oldiscovery/known-devices.json";
    return {};
}

Failure CDeviceMemory::Load() {
    if (m_path.empty())
        return {};
    CKnownDevices read;
    if (Failure failed = ReadInto(m_path, read))
        return failed;
    m_known = std::move(read);
    return {};
}

Failure CDeviceMemory::Change(const std::function<void(MemoryScan&)>& change, MemoryScan& scan) {
    if (m_path.empty()) {
        change(scan);
        return {};
    }
    if (Failure failed = MakeParentFolders(m_path)) {
        change(scan);
        return failed;
    }
    // Never waited for on the window's thread: while another writer (a long scan of the command
    // line) holds it, the changes are kept here and written by the next one that gets it.
    std::string reason;
    bool held = false;
    const UniqueFd lock = LockKnownDevices(m_path, reason, -1, std::chrono::milliseconds(0), &held);
    if (!lock) {
        change(scan);
        if (held) {
            // A writer that never lets go (a stopped process) must not make the window grow
            // without end: past the bound the oldest scan is let go, which at worst counts a
            // silent device's missed scans short by the scans let go.
            if (m_unwritten.size() == kMaxUnwritten)
                m_unwritten.erase(m_unwritten.begin());
            m_unwritten.push_back(change);
        }
        return Failure(std::make_error_code(held ? std::errc::resource_unavailable_try_again
                                                 : std::errc::no_lock_available),
                       reason);
    }
    // What another writer did since (a --forget, another window) stays.
    CKnownDevices current;
    if (Failure refused = ReadInto(m_path, current)) {
        change(scan);
        return refused;  // never written over: what it knows would be lost without a word
    }
    m_known = std::move(current);
    for (const auto& unwritten : m_unwritten) {
        MemoryScan told;  // said when it was made
        unwritten(told);
    }
    m_unwritten.clear();
    change(scan);
    // Only its user reads it: it lists the network's devices.
    return WriteFileAtomically(m_path, KnownDevicesText(m_known), 0600);
}

Failure CDeviceMemory::Record(const std::vector<COrvalink>& devices, double time,
                              const std::function<unsigned long(const KnownDevice&)>& goneAfter,
                              MemoryScan& scan, const std::function<bool(const KnownDevice&)>& retired) {
    scan = {};
    // Kept by value: a change made while the file is locked is made again on it later.
    return Change(
        [this, devices, time, goneAfter, retired](MemoryScan& scan) {
            if (retired)
                std::erase_if(m_known.Devices(), [&](const auto& entry) { return retired(entry.second); });
            for (const CKnownDevices::Answer& answer : m_known.Record(devices, time)) {
                if (answer.added)
                    scan.added.push_back(answer.key);
            }
            for (const auto& [key, device] : m_known.Devices()) {
                if (device.missed == 0)
                    continue;
                scan.missing.push_back(device);
                // Said once, when the count reaches the bound.
                if (device.missed == goneAfter(device))
                    scan.gone.push_back(device);
            }
        },
        scan);
}

Failure CDeviceMemory::Forget(const CKnownDevices::Key& key) {
    MemoryScan scan;
    return Change([this, key](MemoryScan&) { m_known.Devices().erase(key); }, scan);
}
