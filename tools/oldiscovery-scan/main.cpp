// oldiscovery-scan: one discovery run from the command line, with the program's own engine.
#include <arpa/inet.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "discovery/DeviceWatch.h"
#include "discovery/ScanOutput.h"
#include "discovery/ScanListener.h"
#include "discovery/ScanThread.h"
#include "log/Log.h"
#include "platform/DestinationKind.h"
#include "platform/Interfaces.h"
#include "platform/LinuxSocketLayer.h"
#include "platform/Privileges.h"
#include "platform/ProgramFile.h"
#include "platform/SafeFile.h"
#include "platform/SocketLayer.h"
#include "platform/UniqueFd.h"
#include "res/Resource.h"
#include "res/StringTable.h"

namespace {

const char kUsage[] =
    "usage: oldiscovery-scan [--interface IF]... [--json|--prometheus] [--output FILE]\n"
    "                        [--watch [SECONDS]] [--gone-after N] [--wait MS] [--log FILE]\n"
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
    "  --prometheus   print the scan in Prometheus's text format 0.0.4: orvalink_device_info,\n"
    "                 orvalink_devices, orvalink_scan_success, orvalink_scan_duration_seconds,\n"
    "                 orvalink_scan_timestamp_seconds; also when the scan fails (exit 1 or 5),\n"
    "                 then with orvalink_scan_success 0 and no device series\n"
    "  --output FILE  write the output to FILE instead of standard output, in one step (a\n"
    "                 temporary file beside it, renamed; mode 0644): never half a file\n"
    "  --watch [SECONDS]  scan every SECONDS (default 10) until SIGTERM or SIGINT, and print a\n"
    "                 JSON line per change: {\"time\", \"event\", \"interface\", \"ip\", \"mac\", \"type\",\n"
    "                 \"build\"}, event \"appeared\", \"gone\" or \"changed\" (with \"old\": {\"mac\",\n"
    "                 \"type\", \"build\"}); with --output, FILE holds the latest scan in the chosen\n"
    "                 format (--prometheus needs --output), rewritten after every scan\n"
    "  --gone-after N with --watch: a device is \"gone\" after N scans in a row without it (default 3)\n"
    "  --wait MS      end a scan after MS milliseconds without an answer, 100 to 5000 (default 1000)\n"
    "  --locate IP    ask the device at IP to make itself known, then exit (one device: not a\n"
    "                 broadcast, network or multicast address; no other option but --log)\n"
    "  --log FILE     write the engine's diagnostic lines, all levels, to FILE\n"
    "  --help         this text\n"
    "Needs raw ICMP sockets: run as root, or give the program the cap_net_raw capability\n"
    "(sudo setcap cap_net_raw+p \"$(command -v oldiscovery-scan)\").\n"
    "Exit status:\n"
    "  0  the run took place (no device found is an empty list, still 0); --watch: ended by\n"
    "     SIGTERM or SIGINT\n"
    "  1  no scan: no right to raw sockets, the socket or the engine failed\n"
    "  2  bad command line (also an unknown interface, or one that is down or has no IPv4)\n"
    "  3  the output could not be written (for example a full device, a missing or read-only\n"
    "     folder); an --output FILE is then left as it was\n"
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

// Collects the devices of one scan and signals its end on an eventfd, so the main thread can
// wait for it and for a signal at once.
class CScanCollector : public IScanListener {
public:
    CScanCollector() : m_done(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

    void OnDeviceFound(const COrvalink& device) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_devices.push_back(device);
    }

    void OnScanDone() override {
        const std::uint64_t one = 1;
        ssize_t n;
        do {
            n = ::write(m_done.get(), &one, sizeof one);
        } while (n < 0 && errno == EINTR);
    }

    int DoneFd() const { return m_done.get(); }
    bool Valid() const { return static_cast<bool>(m_done); }

    // Takes the devices of the scan that ended and makes room for the next one.
    void TakeScan(std::vector<COrvalink>& devices) {
        std::uint64_t count;
        while (::read(m_done.get(), &count, sizeof count) < 0 && errno == EINTR) {
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        devices.swap(m_devices);
        m_devices.clear();
    }

private:
    std::mutex m_mutex;
    std::vector<COrvalink> m_devices;
    UniqueFd m_done;
};

int Usage(const std::string& problem) {
    std::fprintf(stderr, "oldiscovery-scan: %s\n%s", problem.c_str(), kUsage);
    return kExitUsage;
}

// A whole decimal number from low to high, nothing else (no sign, no spaces).
bool ParseNumber(const char* text, long low, long high, long& value) {
    if (!*text || std::strlen(text) > 9)
        return false;
    long n = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        n = n * 10 + (*p - '0');
    }
    if (n < low || n > high)
        return false;
    value = n;
    return true;
}

struct Options {
    bool json = false;
    bool prometheus = false;
    std::string output;
    bool watch = false;
    long watchSeconds = 10;
    long goneAfter = 3;
    bool haveGoneAfter = false;
    long waitMs = 0;  // 0: the engine's own
    std::string locate, logFile;
    bool haveLocate = false;
    std::vector<std::string> interfaces;
};

// Reads the command line into options; "" or the usage problem. --help sets help.
std::string ParseOptions(int argc, char** argv, Options& o, bool& help) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasNext = i + 1 < argc;
        if (a == "--help" || a == "-h") {
            help = true;
            return {};
        } else if (a == "--json") {
            o.json = true;
        } else if (a == "--prometheus") {
            o.prometheus = true;
        } else if (a == "--watch") {
            o.watch = true;
            // The number is optional: a next argument that is no option is taken as it.
            if (hasNext && std::strncmp(argv[i + 1], "--", 2) != 0) {
                if (!ParseNumber(argv[++i], 1, 86400, o.watchSeconds))
                    return std::string("--watch needs a whole number of seconds from 1 to 86400: ") + argv[i];
            }
        } else if (a == "--gone-after" || a == "--wait" || a == "--interface" || a == "--output" ||
                   a == "--locate" || a == "--log") {
            if (!hasNext)
                return a + " needs an argument";
            const char* value = argv[++i];
            if (a == "--gone-after") {
                o.haveGoneAfter = true;
                if (!ParseNumber(value, 1, 1000000, o.goneAfter))
                    return std::string("--gone-after needs a whole number of scans from 1 to 1000000: ") +
                           value;
            } else if (a == "--wait") {
                if (!ParseNumber(value, 100, 5000, o.waitMs))
                    return std::string("--wait needs a whole number of milliseconds from 100 to 5000: ") +
                           value;
            } else if (a == "--interface") {
                o.interfaces.push_back(value);
            } else if (a == "--output") {
                if (!*value)
                    return "--output needs a file name";
                o.output = value;
            } else if (a == "--locate") {
                o.locate = value;
                o.haveLocate = true;
            } else {
                o.logFile = value;
            }
        } else {
            return "unknown argument: " + a;
        }
    }
    if (o.haveLocate) {
        if (!IsDottedQuad(o.locate))
            return "not an IPv4 address: " + o.locate;
        if (o.json)
            return "--json and --locate exclude each other";
        if (o.prometheus || !o.output.empty() || o.watch || o.haveGoneAfter || o.waitMs ||
            !o.interfaces.empty())
            return "--locate takes no other option than --log";
    }
    if (o.json && o.prometheus)
        return "--json and --prometheus exclude each other";
    if (o.haveGoneAfter && !o.watch)
        return "--gone-after needs --watch";
    if (o.watch && o.prometheus && o.output.empty())
        return "--watch --prometheus needs --output FILE (standard output carries the events)";
    return {};
}

using Clock = std::chrono::steady_clock;

// The program after the command line: the scan, or the watch, and their output.
class CScanTool {
public:
    CScanTool(const Options& options, std::vector<int> ifindexes)
        : m_o(options),
          m_ifindexes(std::move(ifindexes)),
          m_watch(static_cast<unsigned>(options.goneAfter)) {}

    int Run(const char* argv0);

private:
    // One scan's output in the chosen format.
    std::string Format(const std::vector<COrvalink>& devices, bool success, double seconds) const {
        if (m_o.prometheus) {
            ScanSummary summary;
            summary.success = success;
            summary.durationSeconds = seconds;
            summary.timestampSeconds =
                std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
            summary.interfaces = m_o.interfaces;
            return FormatPrometheus(devices, summary);
        }
        return m_o.json ? FormatJson(devices) : FormatTable(devices);
    }
    // Writes text to --output (atomically) or standard output; false with a message.
    bool Emit(const std::string& text) const {
        if (!m_o.output.empty()) {
            std::string reason;
            if (!WriteFileAtomically(m_o.output, text, 0644, &reason)) {
                std::fprintf(stderr, "oldiscovery-scan: cannot write %s: %s\n", m_o.output.c_str(),
                             reason.c_str());
                return false;
            }
            return true;
        }
        if (!WriteOutput(text)) {
            std::fprintf(stderr, "oldiscovery-scan: cannot write the output: %s\n", std::strerror(errno));
            return false;
        }
        return true;
    }
    // A scan that could not run: only the Prometheus output says so, for an alert to see.
    int Failed(int status) const {
        if (m_o.prometheus)
            Emit(Format({}, false, 0));
        return status;
    }
    // Waits for the scan's end, or for a signal (true in interrupted) when there is a signal fd.
    bool WaitForScanEnd(bool& interrupted);
    int Watch(CScanThread& scanner);
    // Ends the program at once, a scan perhaps under way: the worker is not waited for.
    [[noreturn]] void QuitNow(CScanThread& scanner);

    const Options& m_o;
    std::vector<int> m_ifindexes;
    CScanCollector m_collector;
    UniqueFd m_signals;
    CDeviceWatch m_watch;
};

bool CScanTool::WaitForScanEnd(bool& interrupted) {
    interrupted = false;
    // The engine ends every scan by itself within a few seconds; this bound only guards
    // against a worker that died.
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    for (;;) {
        pollfd fds[2] = {{m_collector.DoneFd(), POLLIN, 0}, {m_signals ? m_signals.get() : -1, POLLIN, 0}};
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        int ready = ::poll(fds, 2, static_cast<int>(left) + 1);
        if (ready < 0 && errno != EINTR)
            return false;
        if (ready > 0 && fds[1].revents) {
            interrupted = true;
            return false;
        }
        if (ready > 0 && fds[0].revents)
            return true;
    }
}

void CScanTool::QuitNow(CScanThread& scanner) {
    scanner.SetListener(nullptr);
    std::fflush(stdout);
    if (!m_o.logFile.empty())
        LogClose();
    std::_Exit(0);
}

int CScanTool::Watch(CScanThread& scanner) {
    std::vector<COrvalink> devices;
    bool failing = false;  // reported once per streak of scans that could not be sent
    for (;;) {
        const auto start = Clock::now();
        if (!scanner.RequestScan()) {
            std::fprintf(stderr, "oldiscovery-scan: the scan could not be started\n");
            return kExitNoScan;
        }
        bool interrupted;
        if (!WaitForScanEnd(interrupted)) {
            if (interrupted)
                QuitNow(scanner);
            std::fprintf(stderr, "oldiscovery-scan: the scan did not end\n");
            return kExitNoScan;
        }
        m_collector.TakeScan(devices);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        const bool sent = !scanner.RequestFailed();
        if (!sent && !failing)
            std::fprintf(stderr, "oldiscovery-scan: the discover request could not be sent%s\n",
                         m_o.logFile.empty() ? " (see --log)" : "");
        failing = !sent;
        // A request that did not go out says nothing about the devices: no one misses a scan.
        if (sent) {
            std::string events;
            for (const WatchEvent& event : m_watch.Update(devices, std::chrono::system_clock::now()))
                events += FormatWatchEvent(event);
            if (!events.empty() && !WriteOutput(events)) {
                std::fprintf(stderr, "oldiscovery-scan: cannot write the output: %s\n", std::strerror(errno));
                return kExitOutput;
            }
        }
        if (!m_o.output.empty()) {
            SortDevices(devices);
            if (!Emit(Format(sent ? devices : std::vector<COrvalink>{}, sent, seconds)))
                return kExitOutput;
        }
        // The next scan starts SECONDS after this one started, or at once when it took longer.
        const auto next = start + std::chrono::seconds(m_o.watchSeconds);
        for (;;) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count();
            if (left <= 0)
                break;
            pollfd fd{m_signals.get(), POLLIN, 0};
            int ready = ::poll(&fd, 1, static_cast<int>(left));
            if (ready > 0)
                return 0;  // a signal between scans: the worker is idle and stops at once
            if (ready < 0 && errno != EINTR)
                return kExitNoScan;
        }
    }
}

int CScanTool::Run(const char* argv0) {
    if (m_o.watch) {
        // Blocked in every thread (the worker inherits the mask) and read from a descriptor,
        // so a signal is an event the main thread waits for, whatever the scan is doing.
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGTERM);
        sigaddset(&set, SIGINT);
        pthread_sigmask(SIG_BLOCK, &set, nullptr);
        m_signals.reset(::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
        if (!m_signals) {
            std::fprintf(stderr, "oldiscovery-scan: cannot watch for signals: %s\n", std::strerror(errno));
            return kExitNoScan;
        }
    }
    if (!m_collector.Valid()) {
        std::fprintf(stderr, "oldiscovery-scan: cannot wait for the scan: %s\n", std::strerror(errno));
        return kExitNoScan;
    }

    // While this is the only thread: open the raw sockets and give up every capability. Whether
    // the socket opened decides, not who we are: root without CAP_NET_RAW cannot scan either.
    if (!PrepareRawSockets()) {
        std::fprintf(stderr, "oldiscovery-scan: cannot drop capabilities: %s\n", std::strerror(errno));
        return Failed(kExitNoScan);
    }
    if (!RawSocketAvailable()) {
        std::string program = GetProgramFilePath();
        std::fprintf(stderr, "oldiscovery-scan: %s\n",
                     FormatString1(IDS_NEED_ADMIN, ShellQuoted(program.empty() ? argv0 : program)).c_str());
        return Failed(kExitNoScan);
    }
    if (!m_o.logFile.empty()) {
        LogOpen(m_o.logFile.c_str());
        LogSetLevel(LOG_DEBUG);
        // The first line opens the file: a log that cannot be had is known before the scan.
        LogWrite(LOG_DEBUG, "oldiscovery-scan %s", m_o.haveLocate ? "locate" : m_o.watch ? "watch" : "scan");
        if (LogLostLines() != 0) {
            LogClose();
            std::fprintf(stderr, "oldiscovery-scan: cannot open or write the log file %s\n",
                         m_o.logFile.c_str());
            return kExitLog;
        }
    }

    CScanThread scanner(CreateSystemSocketLayer());
    scanner.SetListener(&m_collector);
    scanner.SetInterfaces(m_ifindexes);
    if (m_o.waitMs)
        scanner.SetQuietWait(std::chrono::milliseconds(m_o.waitMs));
    int status = 0;
    std::vector<COrvalink> devices;
    double seconds = 0;

    bool started = scanner.Start();
    // Capabilities belong to each thread: the worker dropped its own after opening the socket,
    // this thread drops the ones it still holds.
    DropCapabilities();
    if (!started) {
        std::fprintf(stderr, "oldiscovery-scan: the raw ICMP socket could not be opened%s\n",
                     m_o.logFile.empty() ? " (see --log)" : "");
        status = kExitNoScan;
    } else if (m_o.haveLocate) {
        scanner.RequestLocate(m_o.locate);  // sent before the stop command below is taken
    } else if (m_o.watch) {
        status = Watch(scanner);
    } else if (!scanner.RequestScan()) {
        std::fprintf(stderr, "oldiscovery-scan: the scan could not be started\n");
        status = kExitNoScan;
    } else {
        const auto start = Clock::now();
        bool interrupted;
        if (!WaitForScanEnd(interrupted)) {
            std::fprintf(stderr, "oldiscovery-scan: the scan did not end\n");
            status = kExitNoScan;
        } else {
            m_collector.TakeScan(devices);
            seconds = std::chrono::duration<double>(Clock::now() - start).count();
        }
    }
    if (!scanner.Stop() && status == 0) {
        std::fprintf(stderr, "oldiscovery-scan: the scan worker did not stop\n");
        status = kExitNoScan;
    } else if (started && status == 0 && !m_o.watch && scanner.RequestFailed()) {
        // The worker has ended, so its last request's outcome is final.
        std::fprintf(stderr, "oldiscovery-scan: the %s request could not be sent%s\n",
                     m_o.haveLocate ? "locate" : "discover", m_o.logFile.empty() ? " (see --log)" : "");
        status = kExitNotSent;
    }
    scanner.SetListener(nullptr);

    if (!m_o.haveLocate) {
        if (status == 0 && !m_o.watch) {
            SortDevices(devices);
            if (!Emit(Format(devices, true, seconds)))
                status = kExitOutput;
        } else if (status == kExitNoScan || status == kExitNotSent) {
            Failed(status);
        }
    }
    if (!m_o.logFile.empty()) {
        long lost = LogLostLines();
        LogClose();
        if (lost != 0 && status == 0) {
            std::fprintf(stderr, "oldiscovery-scan: %ld lines could not be written to the log file %s\n",
                         lost, m_o.logFile.c_str());
            status = kExitLog;
        }
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    bool help = false;
    std::string problem = ParseOptions(argc, argv, options, help);
    if (help) {
        if (!WriteOutput(kUsage)) {
            std::fprintf(stderr, "oldiscovery-scan: cannot write the output: %s\n", std::strerror(errno));
            return kExitOutput;
        }
        return 0;
    }
    if (!problem.empty())
        return Usage(problem);
    // Before the scan: a typing error in an interface name costs no scan and sends nothing.
    std::vector<int> ifindexes;
    for (const std::string& name : options.interfaces) {
        int index = 0;
        problem = InterfaceProblem(name, &index);
        if (!problem.empty())
            return Usage(problem);
        if (std::find(ifindexes.begin(), ifindexes.end(), index) == ifindexes.end())
            ifindexes.push_back(index);
    }
    // A locate request names one device; sent to a group, every device in it would blink.
    if (options.haveLocate) {
        const DestinationKind kind = DestinationKindOf(inet_addr(options.locate.c_str()));
        if (kind != DestinationKind::OneHost)
            return Usage(options.locate + " is a " + DestinationKindName(kind) +
                         " address; --locate names one device");
    }
    CScanTool tool(options, std::move(ifindexes));
    return tool.Run(argv[0]);
}
