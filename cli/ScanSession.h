#pragma once
// The scans of one run on its scan thread, one after another, and a scan's text in the chosen
// format: what the single scan and the watch share.
#include <string>
#include <vector>

#include "engine/Orvalink.h"
#include "engine/ScanThread.h"
#include "formats/FleetFile.h"
#include "ScanClock.h"
#include "ScanCollector.h"
#include "ScanLog.h"
#include "ScanOptions.h"
#include "ScanWait.h"
#include "StateStore.h"

// One scan's devices, how long it took and, when it stopped at its limit with answers still
// arriving, how many the engine listed (else -1).
struct ScanResult {
    std::vector<COrvalink> devices;
    double seconds = 0;
    long truncated = -1;
    // Why a chosen interface was gone, down or made again when the scan ended, else empty: its
    // answers cannot be trusted then (a device whose hardware address was still being asked
    // for is listed without one, a device that never was).
    std::string interfaceLost;
};

class CScanSession {
public:
    // Reads the interfaces, the format, --output, the scan's timing and whether to stream.
    // fleet: read again before each scan, for names, expectations and approved builds.
    CScanSession(const ScanOptions& options, CStateStore& store, const CScanWait& wait, const CScanLog& log,
                 CFleetWatch& fleet);

    // 0, or kExitNoScan with its message when a scan's end could not be waited for.
    int Ready() const;
    // Reads the state file now when --known-end needs its devices for the first scan's end, else
    // the first scan reads it once its request is out; false after its message.
    bool LoadBeforeScan() { return !m_knownEnd || LoadState(); }
    // Before the scan thread starts: it reports here and scans as the options say.
    void Attach(CScanThread& scanner, std::vector<int> ifindexes);
    // Each device's line is written as it comes, not the list at the end.
    bool Streaming() const { return m_streaming; }

    // One scan; 0, kExitOutput (streaming), kExitState (the state file refused) or kExitNoScan
    // with a message. A signal ends the program at once.
    int ScanOnce(CScanThread& scanner, ScanResult& result);
    // The limit's message on stderr.
    void SayTruncated(long listed) const;
    // A scan that ran, recorded by the store on the interfaces it covered.
    bool Record(const std::vector<COrvalink>& devices, WallTime end, std::vector<WatchEvent>& events) {
        // A scan that lost answers or stopped at its limit says nothing by a device's silence.
        return m_store.Record(devices, end, ScannedInterfaces(devices), events,
                              m_lastLost == 0 && m_lastTruncated < 0);
    }

    // One scan's output in the chosen format; end is when it ended (a failed scan: now).
    std::string Format(const std::vector<COrvalink>& devices, bool success, double seconds,
                       WallTime end = ScanEndTime()) const;
    // Writes text to --output (atomically) or standard output; false with a message.
    bool Emit(const std::string& text) const;
    // A scan that could not run: only the Prometheus output says so, for an alert to see.
    int Failed(int status) const;

private:
    bool LoadState() {
        m_stateRead = true;
        return m_store.Load();
    }
    // The interfaces a scan's series are labelled with: the chosen ones, or those a request
    // without a choice went out on (and those replies came in on), so that every file of a
    // host says which segment it is about.
    std::vector<std::string> ScannedInterfaces(const std::vector<COrvalink>& devices) const;
    // Why one of the chosen interfaces is not the one the scan started on (m_startIndexes), else empty.
    std::string InterfaceLost() const;
    // Writes the lines of the devices found since the last call; false when they did not get out.
    bool StreamNew();
    // The table or JSON, with names when there is a fleet.
    std::string Listed(const std::vector<COrvalink>& devices) const;

    std::vector<std::string> m_interfaces;
    bool m_json;
    bool m_prometheus;
    std::string m_output;
    long m_waitMs;
    long m_maxTimeSeconds;
    bool m_adaptiveEnd;
    bool m_knownEnd;
    bool m_streaming;
    CStateStore& m_store;
    const CScanWait& m_wait;
    const CScanLog& m_log;
    CFleetWatch& m_fleet;
    CScanCollector m_collector;
    std::vector<std::string> m_requestInterfaces;  // without a choice: where the last request went
    std::vector<unsigned> m_startIndexes;          // the chosen interfaces' indexes as a scan started
    long m_lastTruncated = -1;  // the last scan's devices when its limit stopped it short, else -1
    long m_lastLost = 0;        // the packets the last scan lost to a full receive queue
    bool m_stateRead;           // the state file was read (or there is none)
};
