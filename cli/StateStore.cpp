#include "StateStore.h"

#include <cstdio>

#include "base/UniqueFd.h"
#include "KnownState.h"

CStateStore::CStateStore(const ScanOptions& options)
    : m_path(options.stateFile),
      m_retireDays(options.retireDays),
      m_maxKnown(options.maxKnown),
      m_watch(static_cast<unsigned>(options.goneAfter), !options.stateFile.empty()) {}

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

bool CStateStore::Record(const std::vector<COrvalink>& devices, WallTime end,
                         const std::vector<std::string>& interfaces, std::vector<WatchEvent>& events) {
    if (m_path.empty()) {
        events = m_watch.Update(devices, end, interfaces);
        ForgetRetired(m_watch.Known(), m_fleet);
        return true;
    }
    std::string reason;
    const UniqueFd lock = LockKnownDevices(m_path, reason);
    // Without the lock the scan still counts for the watch; the file waits for a later scan.
    if (lock && !LoadKnownDevices(m_path, m_watch.Known()))
        reason = "refused when read again";
    events = m_watch.Update(devices, end, interfaces);
    std::string removed;
    if (lock && reason.empty()) {
        CKnownDevices& known = m_watch.Known();
        removed = FormatRemoved(
            "oldiscovery-scan: retired after --retire-after " + std::to_string(m_retireDays) +
                " days of silence:",
            known.Retire(EpochSeconds(end) - 86400.0 * static_cast<double>(m_retireDays), interfaces));
        removed += FormatRemoved("oldiscovery-scan: retired in the fleet file:", ForgetRetired(known, m_fleet));
        removed += FormatRemoved("oldiscovery-scan: Warning: not kept, over --max-known " +
                                     std::to_string(m_maxKnown) + " on its interface:",
                                 known.Cap(static_cast<std::size_t>(m_maxKnown)));
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
