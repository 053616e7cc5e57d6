#include "WatchMode.h"

#include <net/if.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/SafeFile.h"
#include "formats/ScanOutput.h"
#include "res/FailureText.h"
#include "OutputSinks.h"

int CWatchMode::Prepare() {
    // A state that cannot be had lists nothing: nothing known would be lost, nothing new recorded.
    if (!m_session.LoadBeforeScan())
        return m_session.Failed(kExitState);
    m_journal = OutputIsJournal();
    if (!m_wait.WatchSignals()) {
        std::fprintf(stderr, "oldiscovery-scan: cannot watch for signals: %s\n", std::strerror(errno));
        return kExitNoScan;
    }
    m_store.SetStopFd(m_wait.SignalFd());
    return m_session.Ready();
}

int CWatchMode::Run(CScanThread& scanner) {
    ScanResult scan;
    for (bool first = true;; first = false) {
        const auto start = Clock::now();
        FollowInterfaces(scanner);
        if (const int status = m_session.ScanOnce(scanner, scan))
            return status;
        const WallTime end = ScanEndTime();
        if (scan.truncated >= 0)
            m_session.SayTruncated(scan.truncated);
        // A scan whose interface went away under it counts as one that did not go out.
        const bool sent = !scanner.RequestFailed() && scan.interfaceLost.empty();
        if (!sent && !m_failing) {
            if (scanner.RequestFailed())
                std::fprintf(stderr, "oldiscovery-scan: the discover request could not be sent%s\n",
                             m_log.SeeLog());
            else
                std::fprintf(stderr, "oldiscovery-scan: %s by the scan's end; its answers are not counted\n",
                             scan.interfaceLost.c_str());
        }
        m_failing = !sent;
        // A request that did not go out says nothing about the devices: no one misses a scan.
        if (sent) {
            std::vector<WatchEvent> changes;
            // A watch goes on without its file, and tries again after the next scan.
            m_session.Record(scan.devices, end, changes);
            const std::string events = WatchEventLines(changes, m_journal);
            // The scan has ended: the worker is idle, and a signal ends the program at once.
            if (const Written written =
                    events.empty() ? Written::All : WriteOutput(events, m_wait.SignalFd());
                written != Written::All)
                return written == Written::Signal ? 0 : kExitOutput;
        }
        if (const int status = WriteListFile(scan, sent, end, first))
            return status;
        // The next scan starts SECONDS after this one started, or at once when it took longer.
        const Wake wake = m_wait.WaitUntil(start + std::chrono::seconds(m_watchSeconds));
        if (wake == Wake::Signal)
            return 0;  // a signal between scans: the worker is idle and stops at once
        if (wake == Wake::Failed)
            return kExitNoScan;
    }
}

void CWatchMode::FollowInterfaces(CScanThread& scanner) {
    // One that is gone now keeps its old index: its request fails, and says so, until the name
    // is back.
    m_ifindexes.resize(m_interfaces.size());
    std::vector<int> indexes = m_ifindexes;
    for (std::size_t i = 0; i < m_interfaces.size(); ++i)
        if (const unsigned index = if_nametoindex(m_interfaces[i].c_str()))
            indexes[i] = static_cast<int>(index);
    if (indexes == m_ifindexes)
        return;
    // The worker is idle between scans; the next scan command orders this before it.
    m_ifindexes = indexes;
    scanner.Worker().SetInterfaces(std::move(indexes));
}

int CWatchMode::WriteListFile(ScanResult& scan, bool sent, WallTime end, bool first) {
    if (m_output.empty())
        return 0;
    SortDevices(scan.devices);
    const Failure failed = WriteFileAtomically(
        m_output, m_session.Format(sent ? scan.devices : std::vector<COrvalink>{}, sent, scan.seconds, end),
        0644);
    const bool wrote = !failed;
    const std::string reason = failed ? FailureText(failed) : "";
    // A file that cannot be written at all ends the watch at once; later, a full disk or
    // another passing fault keeps the last file until a scan writes it again.
    if (!wrote && first) {
        std::fprintf(stderr, "oldiscovery-scan: cannot write %s: %s\n", m_output.c_str(), reason.c_str());
        return kExitOutput;
    }
    if (!wrote && !m_fileFailing)
        std::fprintf(stderr,
                     "oldiscovery-scan: Warning: cannot write %s: %s; the last file stays until a "
                     "later scan writes it\n",
                     m_output.c_str(), reason.c_str());
    m_fileFailing = !wrote;
    return 0;
}

int CWatchMode::Finish(int status, const CScanThread&) {
    // Each scan said its own request's failure; what is left is a watch that could not go on.
    if (status == kExitNoScan || status == kExitNotSent || status == kExitState)
        return m_session.Failed(status);
    return status;
}
