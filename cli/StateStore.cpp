#include "StateStore.h"

#include <cstdio>

#include "base/UniqueFd.h"
#include "log/DeviceText.h"
#include "KnownState.h"

CStateStore::CStateStore(const ScanOptions& options)
    : m_path(options.stateFile),
      m_retireDays(options.retireDays),
      m_maxKnown(options.maxKnown),
      m_watch(static_cast<unsigned>(options.goneAfter), !options.stateFile.empty()) {
    if (!m_path.empty())
        m_watch.Known().SetLimit(static_cast<std::size_t>(m_maxKnown));
}

namespace {

// Removes the devices the fleet file calls retired; the devices that went.
std::vector<KnownDevice> ForgetRetired(CKnownDevices& known, const Fleet* fleet) {
    std::vector<KnownDevice> gone;
    if (fleet)
        for (const auto& [mac, device] : fleet->devices)
            if (device.retired)
                for (KnownDevice& d : known.Forget(mac))
                    gone.push_back(std::move(d));
    return gone;
}

}  // namespace

bool CStateStore::Load() {
    return m_path.empty() || LoadKnownDevices(m_path, m_watch.Known());
}

bool CStateStore::Record(const std::vector<COrvalink>& answered, WallTime end,
                         const std::vector<std::string>& interfaces, std::vector<WatchEvent>& events,
                         bool countMisses) {
    // A retired device that still answers is listed by the scan but never known again, so a
    // watch does not announce it anew after every scan.
    std::vector<COrvalink> devices;
    for (const COrvalink& d : answered) {
        const FleetDevice* f = m_fleet ? m_fleet->Find(d.m_strMAC) : nullptr;
        if (!f || !f->retired)
            devices.push_back(d);
    }
    if (m_path.empty()) {
        events = m_watch.Update(devices, end, interfaces, countMisses);
        ForgetRetired(m_watch.Known(), m_fleet);
        return true;
    }
    std::string reason;
    const UniqueFd lock = LockKnownDevices(m_path, reason, m_stopFd);
    // Without the lock the scan still counts for the watch; the file waits for a later scan.
    if (lock) {
        if (const std::string problem = ReadKnownState(m_path, m_watch.Known()); !problem.empty())
            reason = "refused when read again: " + problem;
    }
    events = m_watch.Update(devices, end, interfaces, countMisses);
    CKnownDevices& known = m_watch.Known();
    std::size_t refused = 0;
    std::string full;
    for (const auto& [name, count] : known.Refused()) {
        refused += count;
        full += " " + EscapeDeviceText(name);
    }
    if (refused)
        std::fprintf(stderr,
                     "oldiscovery-scan: Warning: %zu new devices not kept: --max-known %ld reached on%s\n",
                     refused, m_maxKnown, full.c_str());
    std::string removed;
    m_removed.clear();
    // Each removal said on stderr and counted for the metrics, by interface and why.
    const auto remove = [&](const char* why, const std::string& line, const std::vector<KnownDevice>& gone) {
        removed += FormatRemoved(line, gone);
        for (const KnownDevice& d : gone)
            ++m_removed[{d.interface, why}];
    };
    if (lock && reason.empty()) {
        remove("retire_after",
               "oldiscovery-scan: retired after --retire-after " + std::to_string(m_retireDays) +
                   (m_retireDays == 1 ? " day of silence:" : " days of silence:"),
               known.Retire(EpochSeconds(end) - 86400.0 * static_cast<double>(m_retireDays), interfaces));
        remove("fleet_retired", "oldiscovery-scan: retired in the fleet file:", ForgetRetired(known, m_fleet));
        if (SaveKnownDevices(m_path, known, reason)) {
            std::fputs(removed.c_str(), stderr);
            m_failing = false;
            return true;
        }
    }
    if (!m_failing)
        std::fprintf(stderr, "oldiscovery-scan: cannot write the state file %s: %s\n", m_path.c_str(),
                     reason.c_str());
    m_failing = true;
    return false;
}
