#include "InterfaceChoice.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "formats/ScanOutput.h"
#include "res/FailureText.h"
#include "net/Interfaces.h"
#include "OutputSinks.h"
#include "ScanClock.h"

namespace {

// The Prometheus text of a scan that could not run on these interfaces.
std::string FailedScanText(const std::vector<std::string>& interfaces) {
    return FormatPrometheus({}, {false, 0, EpochSeconds(ScanEndTime()), interfaces});
}

}  // namespace

int ChosenInterfaces(const ScanOptions& options, std::vector<int>& ifindexes) {
    for (const std::string& name : options.interfaces) {
        int index = 0;
        if (const Failure failure = InterfaceProblem(name, &index)) {
            const std::string problem = FailureText(failure);
            const bool down = InterfaceNotReady(failure);
            // An interface that is down or gone is a scan that failed, for the alerts to see.
            if (options.prometheus && !options.output.empty())
                WriteOutputFile(options.output, FailedScanText(options.interfaces));
            else if (options.prometheus && down)
                WriteOutput(FailedScanText(options.interfaces));
            // Down or without an address is the network's state, not a wrong command line: a
            // timer's scan says it every time without pointing at the help.
            if (down) {
                std::fprintf(stderr, "oldiscovery-scan: %s; no scan\n", problem.c_str());
                return kExitInterfaceDown;
            }
            return ScanUsage(problem);
        }
        if (std::find(ifindexes.begin(), ifindexes.end(), index) == ifindexes.end())
            ifindexes.push_back(index);
    }
    return 0;
}
