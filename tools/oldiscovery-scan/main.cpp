// oldiscovery-scan: one discovery run from the command line, with the program's own engine.
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "discovery/ScanOutput.h"
#include "discovery/ScanListener.h"
#include "discovery/ScanThread.h"
#include "log/Log.h"
#include "platform/Interfaces.h"
#include "platform/LinuxSocketLayer.h"
#include "platform/Privileges.h"
#include "platform/ProgramFile.h"
#include "platform/SocketLayer.h"
#include "res/Resource.h"
#include "res/StringTable.h"

namespace {

const char kUsage[] =
    "usage: oldiscovery-scan [--interface IF]... [--json] [--log FILE]\n"
    "       oldiscovery-scan --locate IP [--log FILE]\n"
    "Finds Orvalink devices on the local network (one ICMP discovery run, about one second\n"
    "after the last answer, at most a few seconds) and prints one line per device:\n"
    "IP address, MAC address, device type and build, separated by tabs (\"n/a\" where a device\n"
    "gave nothing; control characters in a field are written as \\t, \\n, \\r, \\\\ or \\xHH).\n"
    "Type and build are the bytes a device sent: printed as UTF-8 where they are valid UTF-8,\n"
    "otherwise each byte as its Latin-1 character, the same in both forms and in the program's list.\n"
    "  --interface IF send the request only out of IF and take only the replies that come in on\n"
    "                 it; may be given more than once (default: every interface with IPv4)\n"
    "  --json         print a JSON array of {\"ip\", \"mac\", \"type\", \"build\", \"interface\"}\n"
    "                 instead (\"interface\": where the reply came in)\n"
    "  --locate IP    ask the device at IP to make itself known, then exit\n"
    "  --log FILE     write the engine's diagnostic lines, all levels, to FILE\n"
    "  --help         this text\n"
    "Needs raw ICMP sockets: run as root, or give the program the cap_net_raw capability\n"
    "(sudo setcap cap_net_raw+p \"$(command -v oldiscovery-scan)\").\n"
    "Exit status:\n"
    "  0  the run took place (no device found is an empty list, still 0)\n"
    "  1  no scan: no right to raw sockets, the socket or the engine failed\n"
    "  2  bad command line\n"
    "  3  the output could not be written (for example a full device)\n"
    "  4  the --log file could not be opened or written\n"
    "  5  the discover or locate request could not be sent (no interface, no route, dropped)\n";

// The statuses above.
constexpr int kExitNoScan = 1;
constexpr int kExitUsage = 2;
constexpr int kExitOutput = 3;
constexpr int kExitLog = 4;
constexpr int kExitNotSent = 5;

// Writes all of text to stdout and flushes it; false (errno set) when it did not all get out.
bool WriteOutput(const std::string& text) {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size())
        return false;
    return std::fflush(stdout) == 0 && !std::ferror(stdout);
}

// Collects the devices of one scan and wakes the main thread at its end.
class CScanCollector : public IScanListener {
public:
    void OnDeviceFound(const COrvalink& device) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_devices.push_back(device);
    }

    void OnScanDone() override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bDone = true;
        }
        m_cv.notify_one();
    }

    // The devices once the scan has ended within the timeout; false otherwise.
    bool WaitForScan(std::chrono::milliseconds timeout, std::vector<COrvalink>& devices) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_cv.wait_for(lock, timeout, [this] { return m_bDone; }))
            return false;
        devices = m_devices;
        return true;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<COrvalink> m_devices;
    bool m_bDone = false;
};

int Usage(const char* problem) {
    std::fprintf(stderr, "oldiscovery-scan: %s\n%s", problem, kUsage);
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    bool json = false;
    std::string locate, logFile;
    bool haveLocate = false;
    std::vector<std::string> interfaces;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            if (!WriteOutput(kUsage)) {
                std::fprintf(stderr, "oldiscovery-scan: cannot write the output: %s\n", std::strerror(errno));
                return kExitOutput;
            }
            return 0;
        } else if (a == "--json") {
            json = true;
        } else if (a == "--interface") {
            if (i + 1 >= argc)
                return Usage("--interface needs an argument");
            interfaces.push_back(argv[++i]);
        } else if (a == "--locate" || a == "--log") {
            if (i + 1 >= argc)
                return Usage((a + " needs an argument").c_str());
            (a == "--log" ? logFile : locate) = argv[++i];
            haveLocate = haveLocate || a == "--locate";
        } else {
            return Usage(("unknown argument: " + a).c_str());
        }
    }
    if (haveLocate && !IsDottedQuad(locate))
        return Usage(("not an IPv4 address: " + locate).c_str());
    if (haveLocate && json)
        return Usage("--json and --locate exclude each other");
    if (haveLocate && !interfaces.empty())
        return Usage("--interface and --locate exclude each other");
    std::vector<int> ifindexes;
    for (const std::string& name : interfaces) {
        int index = 0;
        std::string problem = InterfaceProblem(name, &index);
        if (!problem.empty())
            return Usage(problem.c_str());
        if (std::find(ifindexes.begin(), ifindexes.end(), index) == ifindexes.end())
            ifindexes.push_back(index);
    }

    // While this is the only thread: open the raw sockets and give up every capability. Whether
    // the socket opened decides, not who we are: root without CAP_NET_RAW cannot scan either.
    if (!PrepareRawSockets()) {
        std::fprintf(stderr, "oldiscovery-scan: cannot drop capabilities: %s\n", std::strerror(errno));
        return kExitNoScan;
    }
    if (!RawSocketAvailable()) {
        std::string program = GetProgramFilePath();
        std::fprintf(stderr, "oldiscovery-scan: %s\n",
                     FormatString1(IDS_NEED_ADMIN, ShellQuoted(program.empty() ? argv[0] : program)).c_str());
        return kExitNoScan;
    }
    if (!logFile.empty()) {
        LogOpen(logFile.c_str());
        LogSetLevel(LOG_DEBUG);
        // The first line opens the file: a log that cannot be had is known before the scan.
        LogWrite(LOG_DEBUG, "oldiscovery-scan %s", haveLocate ? "locate" : "scan");
        if (LogLostLines() != 0) {
            LogClose();
            std::fprintf(stderr, "oldiscovery-scan: cannot open or write the log file %s\n", logFile.c_str());
            return kExitLog;
        }
    }

    CScanCollector collector;
    CScanThread scanner(CreateSystemSocketLayer());
    scanner.SetListener(&collector);
    scanner.SetInterfaces(ifindexes);
    int status = 0;
    std::vector<COrvalink> devices;

    bool started = scanner.Start();
    // Capabilities belong to each thread: the worker dropped its own after opening the socket,
    // this thread drops the ones it still holds.
    DropCapabilities();
    if (!started) {
        std::fprintf(stderr, "oldiscovery-scan: the raw ICMP socket could not be opened%s\n",
                     logFile.empty() ? " (see --log)" : "");
        status = kExitNoScan;
    } else if (haveLocate) {
        scanner.RequestLocate(locate);  // sent before the stop command below is taken
    } else if (!scanner.RequestScan()) {
        std::fprintf(stderr, "oldiscovery-scan: the scan could not be started\n");
        status = kExitNoScan;
    } else {
        // The engine ends every scan by itself within a few seconds; this bound only guards
        // against a worker that died.
        if (!collector.WaitForScan(std::chrono::seconds(60), devices)) {
            std::fprintf(stderr, "oldiscovery-scan: the scan did not end\n");
            status = kExitNoScan;
        }
    }
    if (!scanner.Stop() && status == 0) {
        std::fprintf(stderr, "oldiscovery-scan: the scan worker did not stop\n");
        status = kExitNoScan;
    } else if (started && status == 0 && scanner.RequestFailed()) {
        // The worker has ended, so its last request's outcome is final.
        std::fprintf(stderr, "oldiscovery-scan: the %s request could not be sent%s\n",
                     haveLocate ? "locate" : "discover", logFile.empty() ? " (see --log)" : "");
        status = kExitNotSent;
    }
    scanner.SetListener(nullptr);

    if (status == 0 && !haveLocate) {
        SortDevices(devices);
        std::string out = json ? FormatJson(devices) : FormatTable(devices);
        if (!WriteOutput(out)) {
            std::fprintf(stderr, "oldiscovery-scan: cannot write the output: %s\n", std::strerror(errno));
            status = kExitOutput;
        }
    }
    if (!logFile.empty()) {
        long lost = LogLostLines();
        LogClose();
        if (lost != 0 && status == 0) {
            std::fprintf(stderr, "oldiscovery-scan: %ld lines could not be written to the log file %s\n",
                         lost, logFile.c_str());
            status = kExitLog;
        }
    }
    return status;
}
