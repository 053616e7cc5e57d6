#pragma once
// --locate: one request that makes a device show where it is, no scan.
#include <string>

#include "ScanLog.h"
#include "ScanMode.h"
#include "ScanSession.h"

class CLocateMode : public IScanMode {
public:
    CLocateMode(std::string ip, const CScanSession& session, const CScanLog& log)
        : m_ip(std::move(ip)), m_session(session), m_log(log) {}

    const char* Name() const override { return "locate"; }
    int Prepare() override;
    int Run(CScanThread& scanner) override;
    int Finish(int status, const CScanThread& scanner) override;

private:
    std::string m_ip;
    const CScanSession& m_session;
    const CScanLog& m_log;
};
