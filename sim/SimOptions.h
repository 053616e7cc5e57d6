#pragma once
// orvalink-sim's command line: the simulated devices and how they answer, or the relay.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "SimProtocol.h"

namespace sim {

struct Device {
    std::uint32_t ip = 0;
    Mac mac{};
};

struct Options {
    std::string interface;
    std::vector<Device> devices;
    Bytes extra;
    bool marked = true;
    bool arpFirst = true;
    bool answerArp = true;
    int delayMs = 0;
    int repeatMs = 0;  // 0: each answer once
    int copies = 1;
    int prefixLength = 24;
    Bytes ipOptions;
    bool zeroSource = false;
    std::uint32_t gateway = 0;
    std::string recordPath;
    std::string readyPath;
    std::string reportPath;
    std::string relayFrom, relayTo;
};

// Reads the command line into options: "" or the problem for the usage message. --help or -h sets
// help and ends the reading; a problem before it still counts. Only the exact option names are
// taken (no abbreviations); "--option=value" works as "--option value".
std::string ParseOptions(int argc, char** argv, Options& options, bool& help);

// The usage text on stream, after "orvalink-sim: problem" when there is one; returns the exit
// status: 0 for the asked-for help, 2 for a problem.
int Usage(const std::string& problem, std::FILE* stream);

}  // namespace sim
