#include "ScanSession.h"

#include <net/if.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "engine/KnownDevices.h"
#include "formats/FleetOutput.h"
#include "formats/KnownOutput.h"
#include "formats/ScanOutput.h"
#include "net/Interfaces.h"
#include "res/FailureText.h"
#include "ExpectedDevices.h"
#include "OutputSinks.h"

CScanSession::CScanSession(const ScanOptions& options, CStateStore& store, const CScanWait& wait,
                           const CScanLog& log, CFleetWatch& fleet)
    : m_interfaces(options.interfaces),
      m_json(options.json),
      m_prometheus(options.prometheus),
      m_output(options.output),
      m_waitMs(options.waitMs),
      m_maxTimeSeconds(options.maxTimeSeconds),
      m_adaptiveEnd(options.adaptiveEnd),
      m_knownEnd(options.knownEnd),
      // A person watching a terminal sees each device's line as it comes; a file or pipe gets
      // the sorted list, and JSON keeps its one array, unless asked otherwise.
      m_streaming(options.stream || (::isatty(STDOUT_FILENO) && !options.json && !options.prometheus &&
                                     options.output.empty() && !options.watch && !options.haveLocate)),
      m_store(store),
      m_wait(wait),
      m_log(log),
      m_fleet(fleet),
      m_stateRead(!store.HasFile()) {
    m_store.SetFleet(m_fleet.Active());
}

int CScanSession::Ready() const {
    if (m_collector.Valid())
        return 0;
    std::fprintf(stderr, "oldiscovery-scan: cannot wait for the scan: %s\n", std::strerror(errno));
    return kExitNoScan;
}

void CScanSession::Attach(CScanThread& scanner, std::vector<int> ifindexes) {
    scanner.SetListener(&m_collector);
    scanner.Worker().SetInterfaces(std::move(ifindexes));
    if (m_waitMs)
        scanner.Worker().SetQuietWait(std::chrono::milliseconds(m_waitMs));
    if (m_maxTimeSeconds)
        scanner.Worker().SetScanLimit(std::chrono::seconds(m_maxTimeSeconds));
    scanner.Worker().SetAdaptiveEnd(m_adaptiveEnd);
    // Pings and other ICMP at this host do not keep a scan of devices running.
    scanner.Worker().SetQuietFromAnswers(true);
}

int CScanSession::ScanOnce(CScanThread& scanner, ScanResult& result) {
    const auto start = Clock::now();
    // A new version of the fleet file counts from this scan on; one with a fault is said once
    // and the last good one stays.
    if (m_fleet.Refresh() == CFleetWatch::Outcome::Refused)
        std::fprintf(stderr, "oldiscovery-scan: Warning: %s; the fleet file as read before stays in use\n",
                     FailureText(m_fleet.Fault()).c_str());
    m_store.SetFleet(m_fleet.Active());
    if (m_interfaces.empty())
        m_requestInterfaces = BroadcastInterfaceNames();
    if (m_streaming)
        m_collector.StreamDevices();
    if (m_knownEnd)
        scanner.Worker().SetExpectedDevices(ExpectedDevices(m_store.Known(), m_interfaces));
    m_startIndexes.clear();
    for (const std::string& name : m_interfaces)
        m_startIndexes.push_back(if_nametoindex(name.c_str()));
    if (!scanner.RequestScan()) {
        std::fprintf(stderr, "oldiscovery-scan: the scan could not be started\n");
        return kExitNoScan;
    }
    // The engine ends every scan by itself shortly after its time limit; this bound only guards
    // against a worker that died. A signal (when there is a signal fd) ends the program at once.
    const auto bound = Clock::now() + std::chrono::seconds(m_maxTimeSeconds + 60);
    // Read while the first scan waits for answers, so that a large file does not delay its
    // request; no device is shown before the file is known to be good.
    if (!m_stateRead && m_wait.WaitUntil(bound, m_collector.SentFd()) != Wake::Signal && !LoadState())
        return kExitState;
    const int foundFd = m_streaming ? m_collector.FoundFd() : -1;
    Wake wake;
    while ((wake = m_wait.WaitUntil(bound, m_collector.DoneFd(), foundFd)) == Wake::Found)
        if (!StreamNew())
            return kExitOutput;
    if (wake == Wake::Signal)
        QuitNow(scanner, m_log.Wanted());
    if (wake != Wake::ScanEnd) {
        std::fprintf(stderr, "oldiscovery-scan: the scan did not end\n");
        return kExitNoScan;
    }
    // The last devices, reported after the last wake-up.
    if (m_streaming && !StreamNew())
        return kExitOutput;
    m_collector.TakeScan(result.devices, result.truncated);
    result.interfaceLost = InterfaceLost();
    // Down and up again within the scan keeps the index the check above compares.
    if (m_collector.TakeInterfaceLost() && result.interfaceLost.empty())
        result.interfaceLost = m_interfaces.size() == 1 ? "the link of interface " + m_interfaces[0] + " went down"
                                                        : "a link the scan went out on went down";
    m_lastTruncated = result.truncated;
    m_lastLost = m_collector.TakeLost();
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return 0;
}

std::string CScanSession::InterfaceLost() const {
    for (std::size_t i = 0; i < m_interfaces.size(); ++i) {
        int index = 0;
        if (const Failure problem = InterfaceProblem(m_interfaces[i], &index))
            return FailureText(problem);
        if (static_cast<unsigned>(index) != m_startIndexes[i])
            return "interface " + m_interfaces[i] + " was made anew";
    }
    return {};
}

bool CScanSession::StreamNew() {
    std::string lines;
    const Fleet* fleet = m_fleet.Active();
    for (const COrvalink& device : m_collector.TakeNew())
        lines += fleet ? (m_json ? FormatFleetJsonLine(device, *fleet) : FormatFleetTable({device}, *fleet))
                       : (m_json ? FormatJsonLine(device) : FormatTable({device}));
    return lines.empty() || WriteOutput(lines) == Written::All;
}

void CScanSession::SayTruncated(long listed) const {
    if (m_lastLost > 0) {
        std::fprintf(
            stderr,
            "oldiscovery-scan: scan lost %ld packets to a full receive queue; %ld devices listed (see "
            "net.core.rmem_max in docs/performance.md)\n",
            m_lastLost, listed);
        return;
    }
    std::fprintf(stderr,
                 "oldiscovery-scan: scan stopped at its %ld s limit with answers still arriving; %ld devices "
                 "listed (--max-time raises the limit)\n",
                 m_maxTimeSeconds ? m_maxTimeSeconds : static_cast<long>(CScanWorker::kScanLimit.count()),
                 listed);
}

std::vector<std::string> CScanSession::ScannedInterfaces(const std::vector<COrvalink>& devices) const {
    if (!m_interfaces.empty())
        return m_interfaces;
    std::vector<std::string> names =
        m_requestInterfaces.empty() ? BroadcastInterfaceNames() : m_requestInterfaces;
    auto add = [&names](const std::string& name) {
        if (name != "n/a" && std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(name);
    };
    // No interface to send on at all: the segments the known devices were seen on are what failed.
    if (names.empty())
        for (const auto& [key, known] : m_store.Known().Devices())
            add(known.interface);
    for (const COrvalink& d : devices)
        add(d.m_strInterface);
    return names;
}

std::string CScanSession::Format(const std::vector<COrvalink>& devices, bool success, double seconds,
                                 WallTime end) const {
    if (!m_prometheus)
        return Listed(devices);
    const std::vector<std::string> interfaces = ScannedInterfaces(devices);
    const Fleet* fleet = m_fleet.Active();
    const std::map<std::string, std::string> names = fleet ? FleetNames(*fleet) : std::map<std::string, std::string>();
    std::string text = FormatPrometheus(
        devices, {success, seconds, EpochSeconds(end), interfaces, success && m_lastTruncated >= 0, names});
    if (success && m_store.HasFile())
        text += FormatKnownPrometheus(m_store.Known(), EpochSeconds(end), interfaces, names) +
                FormatRemovedPrometheus(m_store.Removed(), interfaces);
    if (success && fleet)
        text += FormatFleetPrometheus(devices, m_store.HasFile() ? &m_store.Known() : nullptr, *fleet, interfaces);
    return text;
}

std::string CScanSession::Listed(const std::vector<COrvalink>& devices) const {
    if (const Fleet* fleet = m_fleet.Active())
        return m_json ? FormatFleetJson(devices, *fleet) : FormatFleetTable(devices, *fleet);
    return m_json ? FormatJson(devices) : FormatTable(devices);
}

bool CScanSession::Emit(const std::string& text) const {
    if (m_output.empty())
        return WriteOutput(text) == Written::All;
    return WriteOutputFile(m_output, text);
}

int CScanSession::Failed(int status) const {
    if (m_prometheus)
        Emit(Format({}, false, 0));
    return status;
}
