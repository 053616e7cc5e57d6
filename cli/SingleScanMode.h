#pragma once
// One scan: its devices listed (streamed as they come, or sorted at the end) and, with --state,
// recorded.
#include "ScanMode.h"
#include "ScanSession.h"
#include "StateStore.h"

class CSingleScanMode : public IScanMode {
public:
    CSingleScanMode(CScanSession& session, CStateStore& store, const CScanLog& log)
        : m_session(session), m_store(store), m_log(log) {}

    const char* Name() const override { return "scan"; }
    int Prepare() override;
    int Run(CScanThread& scanner) override { return m_session.ScanOnce(scanner, m_scan); }
    int Finish(int status, const CScanThread& scanner) override;

private:
    CScanSession& m_session;
    CStateStore& m_store;
    const CScanLog& m_log;
    ScanResult m_scan;
};
