// oldiscovery-scan: one discovery run from the command line, with the program's own engine.
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/ProgramFile.h"
#include "engine/ScanThread.h"
#include "formats/FleetFile.h"
#include "net/LinuxSocketLayer.h"
#include "res/FailureText.h"
#include "res/Resource.h"
#include "res/StringTable.h"
#include "InterfaceChoice.h"
#include "KnownDevicesCommand.h"
#include "LocateMode.h"
#include "OutputSinks.h"
#include "ScanLog.h"
#include "ScanOptions.h"
#include "ScanSession.h"
#include "ScanWait.h"
#include "SingleScanMode.h"
#include "StateStore.h"
#include "WatchMode.h"

namespace {

std::unique_ptr<IScanMode> PickMode(const ScanOptions& options, CScanSession& session, CStateStore& store,
                                    CScanWait& wait, const CScanLog& log) {
    if (options.haveLocate)
        return std::make_unique<CLocateMode>(options.locate, session, log);
    if (options.watch)
        return std::make_unique<CWatchMode>(options, session, store, wait, log);
    return std::make_unique<CSingleScanMode>(session, store, log);
}

}  // namespace

int main(int argc, char** argv) {
    // A reader that went away is an output error with a message and exit 3, not a silent end.
    std::signal(SIGPIPE, SIG_IGN);
    ScanOptions options;
    bool help = false;
    const std::string problem = ParseScanOptions(argc, argv, options, help);
    if (help)
        return WriteOutput(kScanUsage) == Written::All ? 0 : kExitOutput;
    if (options.version)
        return WriteOutput(ScanVersion()) == Written::All ? 0 : kExitOutput;
    if (!problem.empty())
        return ScanUsage(problem);
    // The fleet file named, or the usual one when it is there; a fault costs the run, before any
    // scan, since names and expectations would be wrong without it.
    CFleetWatch fleet(options.haveFleet ? options.fleetFile : kDefaultFleetFile, options.haveFleet);
    const bool fleetRead = fleet.Refresh() != CFleetWatch::Outcome::Refused;
    if (!fleetRead)
        std::fprintf(stderr, "oldiscovery-scan: %s\n", FailureText(fleet.Fault()).c_str());
    if (!options.forget.empty() || options.known)
        return fleetRead ? CKnownDevicesCommand(options, fleet.Active()).Run() : kExitUsage;
    // Before the scan: a typing error in an interface name costs no scan and sends nothing.
    std::vector<int> ifindexes;
    if (const int status = ChosenInterfaces(options, ifindexes))
        return status;

    CStateStore store(options);
    CScanWait wait;
    CScanLog log(options.logFile);
    CScanSession session(options, store, wait, log, fleet);
    if (!fleetRead)
        return session.Failed(kExitUsage);
    const std::unique_ptr<IScanMode> mode = PickMode(options, session, store, wait, log);
    if (const int status = mode->Prepare())
        return status;

    // While this is the only thread: open the raw sockets and give up every capability. Whether
    // the socket opened decides, not who we are: root without CAP_NET_RAW cannot scan either.
    RawSockets opened = OpenRawSockets();
    if (opened.dropFailure) {
        std::fprintf(stderr, "oldiscovery-scan: cannot drop capabilities: %s\n",
                     FailureText(opened.dropFailure).c_str());
        return session.Failed(kExitNoScan);
    }
    // The packet socket goes to the resolver, the raw ICMP socket to the layer that sends on it.
    auto arp = std::make_shared<CLinuxArpResolver>(std::move(opened.link));
    auto sockets = std::make_shared<CLinuxSocketLayer>(std::move(opened), arp);
    if (!sockets->RawIcmpOpened()) {
        const Result<std::string> program = GetProgramFilePath();
        std::fprintf(stderr, "oldiscovery-scan: %s\n",
                     FormatString1(IDS_NEED_ADMIN, ShellQuoted(program ? *program : argv[0])).c_str());
        return session.Failed(kExitNoScan);
    }
    if (const int status = log.Open(mode->Name()))
        return status;

    CScanThread scanner(sockets, arp);
    session.Attach(scanner, std::move(ifindexes));
    int status = 0;
    if (!scanner.Start()) {
        std::fprintf(stderr, "oldiscovery-scan: the raw ICMP socket could not be opened%s\n", log.SeeLog());
        status = kExitNoScan;
    } else {
        status = mode->Run(scanner);
    }
    if (!scanner.Stop() && status == 0) {
        std::fprintf(stderr, "oldiscovery-scan: the scan worker did not stop\n");
        status = kExitNoScan;
    }
    scanner.SetListener(nullptr);
    return log.Close(mode->Finish(status, scanner));
}
