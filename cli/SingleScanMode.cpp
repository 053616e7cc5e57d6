#include "SingleScanMode.h"

#include <cstdio>

#include "formats/ScanOutput.h"

int CSingleScanMode::Prepare() {
    // A state that cannot be had lists nothing: nothing known would be lost, nothing new recorded.
    if (!m_session.LoadBeforeScan())
        return m_session.Failed(kExitState);
    return m_session.Ready();
}

int CSingleScanMode::Finish(int status, const CScanThread& scanner) {
    if (status == 0 && scanner.RequestFailed()) {
        // The worker has ended, so its last request's outcome is final.
        std::fprintf(stderr, "oldiscovery-scan: the discover request could not be sent%s\n", m_log.SeeLog());
        status = kExitNotSent;
    }
    if (status == 0 && !m_scan.interfaceLost.empty()) {
        std::fprintf(stderr, "oldiscovery-scan: %s by the scan's end; its answers are not counted\n",
                     m_scan.interfaceLost.c_str());
        status = kExitInterfaceDown;
    }
    if (status == kExitNoScan || status == kExitNotSent || status == kExitState || status == kExitInterfaceDown)
        return m_session.Failed(status);
    if (status != 0)
        return status;
    const WallTime end = ScanEndTime();
    std::vector<WatchEvent> events;
    if (m_store.HasFile() && !m_session.Record(m_scan.devices, end, events))
        status = kExitState;
    SortDevices(m_scan.devices);
    if (!m_session.Streaming() &&
        !m_session.Emit(m_session.Format(m_scan.devices, true, m_scan.seconds, end)))
        status = kExitOutput;
    // The list as far as it goes is out; that it may be incomplete is said after it.
    if (status == 0 && m_scan.truncated >= 0) {
        m_session.SayTruncated(m_scan.truncated);
        status = kExitTruncated;
    }
    return status;
}
