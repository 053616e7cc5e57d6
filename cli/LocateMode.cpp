#include "LocateMode.h"

#include <cstdio>

#include "net/DestinationKind.h"
#include "res/FailureText.h"
#include "ScanOptions.h"

int CLocateMode::Prepare() {
    // A locate request names one device; sent to a group, every device in it would blink.
    if (const Failure refusal = LocateRefusal(m_ip))
        return ScanUsage(FailureText(refusal) + "; --locate names one device");
    return m_session.Ready();
}

int CLocateMode::Run(CScanThread& scanner) {
    scanner.RequestLocate(m_ip);  // sent before the stop command that follows is taken
    return 0;
}

int CLocateMode::Finish(int status, const CScanThread& scanner) {
    if (status == 0 && scanner.RequestFailed()) {
        // The worker has ended, so its last request's outcome is final.
        std::fprintf(stderr, "oldiscovery-scan: the locate request could not be sent%s\n", m_log.SeeLog());
        status = kExitNotSent;
    }
    return status;
}
