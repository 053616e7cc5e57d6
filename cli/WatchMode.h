#pragma once
// --watch: a scan every few seconds until a signal, each scan's events on standard output (the
// journal's priorities when it reads them) and its list in the --output file.
#include <string>
#include <vector>

#include "ScanLog.h"
#include "ScanMode.h"
#include "ScanSession.h"
#include "ScanWait.h"
#include "StateStore.h"

class CWatchMode : public IScanMode {
public:
    // Reads --output and the seconds between scans.
    CWatchMode(const ScanOptions& options, CScanSession& session, CStateStore& store, CScanWait& wait,
               const CScanLog& log)
        : m_output(options.output),
          m_interfaces(options.interfaces),
          m_watchSeconds(options.watchSeconds),
          m_session(session),
          m_store(store),
          m_wait(wait),
          m_log(log) {}

    const char* Name() const override { return "watch"; }
    int Prepare() override;
    int Run(CScanThread& scanner) override;
    int Finish(int status, const CScanThread& scanner) override;

private:
    // The --output file after a scan; 0, or kExitOutput when the first scan's file could not be
    // written.
    int WriteListFile(ScanResult& scan, bool sent, WallTime end, bool first);
    // Between scans: the chosen interfaces looked up again by name, so that one deleted and made
    // again under its name (a new index) is scanned again.
    void FollowInterfaces(CScanThread& scanner);

    std::string m_output;
    std::vector<std::string> m_interfaces;  // --interface names; empty: every interface
    std::vector<int> m_ifindexes;           // their indexes as the scans use them, by name
    long m_watchSeconds;
    CScanSession& m_session;
    CStateStore& m_store;
    CScanWait& m_wait;
    const CScanLog& m_log;
    bool m_journal = false;
    bool m_failing = false;      // reported once per streak of scans that could not be sent
    bool m_fileFailing = false;  // the same for --output
};
