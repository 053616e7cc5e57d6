#pragma once
// oldiscovery-scan's command line: what it asks for, its usage text and the exit statuses.
#include <cstdio>
#include <string>
#include <vector>

// The exit statuses the usage text lists.
constexpr int kExitNoScan = 1;
constexpr int kExitUsage = 2;
constexpr int kExitOutput = 3;
constexpr int kExitLog = 4;
constexpr int kExitNotSent = 5;
constexpr int kExitState = 6;
constexpr int kExitTruncated = 7;
constexpr int kExitInterfaceDown = 8;

extern const char kScanUsage[];

struct ScanOptions {
    bool json = false;
    bool prometheus = false;
    std::string output;
    bool watch = false;
    long watchSeconds = 10;
    long goneAfter = 3;
    bool haveGoneAfter = false;
    long waitMs = 0;  // 0: the engine's own
    long maxTimeSeconds = 0;  // 0: the engine's own
    bool adaptiveEnd = false;  // --adaptive-end: the quiet time follows the answers
    bool knownEnd = false;     // --known-end: the adaptive end once every known device answered
    bool stream = false;
    std::string locate, logFile;
    bool haveLocate = false;
    std::vector<std::string> interfaces;
    std::string stateFile;            // --state: the known devices, kept across runs
    std::vector<std::string> forget;  // IP or MAC addresses to remove from it
    bool known = false;               // print the known devices instead of scanning
    long retireDays = 30;             // --retire-after: known devices silent longer are dropped
    long maxKnown = 10000;            // --max-known: known devices kept per interface
    bool haveRetire = false, haveMaxKnown = false;
    bool version = false;             // -V/--version: print ScanVersion() and nothing else
    std::string fleetFile;            // --fleet: names, expectations and approved builds
    bool haveFleet = false;
};

// Reads the command line into options: "" or the problem for the usage message. --help or -h sets
// help, --version or -V sets options.version; either ends the reading, and a problem before it
// still counts. Only the exact option names are
// taken (no abbreviations); "--option=value" works as "--option value".
std::string ParseScanOptions(int argc, char** argv, ScanOptions& options, bool& help);

// Writes "oldiscovery-scan: problem" and where to find the usage text to stream (one problem, two
// lines: a unit restarted with a bad argument does not fill the journal); returns the usage status.
int ScanUsage(const std::string& problem, std::FILE* stream = stderr);

// "oldiscovery-scan <version>\n", from the program's version block.
std::string ScanVersion();
