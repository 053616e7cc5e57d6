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
#include <atomic>
#include <chrono>
#include <csignal>
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
#include "ScanOptions.h"

namespace {

// Writes all of text to stdout and flushes it; false with a message when it did not all get out.
bool WriteOutput(const std::string& text) {
    if (std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0 &&
        !std::ferror(stdout))
        return true;
    std::fprintf(stderr, "oldiscovery-scan: cannot write the output: %s\n", std::strerror(errno));
    return false;
}

// Collects the devices of one scan and signals its end on an eventfd, so the main thread can
// wait for it and for a signal at once; when streaming, each device is signalled on another.
class CScanCollector : public IScanListener {
public:
    CScanCollector()
        : m_done(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), m_found(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

    void OnDeviceFound(const COrvalink& device) override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_devices.push_back(device);
        }
        if (m_streaming)
            Signal(m_found);
    }

    void OnScanTruncated(long listed) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_truncated = true;
        m_listed = listed;
    }

    void OnScanDone() override { Signal(m_done); }

    int DoneFd() const { return m_done.get(); }
    int FoundFd() const { return m_found.get(); }
    bool Valid() const { return m_done && m_found; }
    // Before the scan: devices are signalled as they come.
    void StreamDevices() { m_streaming = true; }

    // Takes the devices of the scan that ended and makes room for the next one; truncated with
    // the count the engine listed when the scan stopped at its limit, else -1.
    void TakeScan(std::vector<COrvalink>& devices, long& truncated) {
        Drain(m_done);
        std::lock_guard<std::mutex> lock(m_mutex);
        devices.swap(m_devices);
        m_devices.clear();
        m_streamed = 0;
        truncated = m_truncated ? m_listed : -1;
        m_truncated = false;
    }
    // The devices found since the last call, in the order they came.
    std::vector<COrvalink> TakeNew() {
        Drain(m_found);
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<COrvalink> fresh(m_devices.begin() + static_cast<long>(m_streamed), m_devices.end());
        m_streamed = m_devices.size();
        return fresh;
    }

private:
    static void Signal(const UniqueFd& fd) {
        const std::uint64_t one = 1;
        while (::write(fd.get(), &one, sizeof one) < 0 && errno == EINTR) {
        }
    }
    static void Drain(const UniqueFd& fd) {
        std::uint64_t count;
        while (::read(fd.get(), &count, sizeof count) < 0 && errno == EINTR) {
        }
    }

    std::mutex m_mutex;
    std::vector<COrvalink> m_devices;
    std::size_t m_streamed = 0;  // devices of m_devices already taken by TakeNew
    bool m_truncated = false;
    long m_listed = 0;
    std::atomic<bool> m_streaming{false};
    UniqueFd m_done;
    UniqueFd m_found;
};

using Clock = std::chrono::steady_clock;

// The program after the command line: the scan, or the watch, and their output.
class CScanTool {
public:
    CScanTool(const ScanOptions& options, std::vector<int> ifindexes)
        : m_o(options),
          m_ifindexes(std::move(ifindexes)),
          m_watch(static_cast<unsigned>(options.goneAfter)),
          // A person watching a terminal sees each device as it comes; a file or pipe gets the
          // sorted list unless asked otherwise.
          m_streaming(options.stream || (::isatty(STDOUT_FILENO) && !options.prometheus && options.output.empty() &&
                                         !options.watch && !options.haveLocate)) {}

    int Run(const char* argv0);

private:
    // One scan's output in the chosen format.
    std::string Format(const std::vector<COrvalink>& devices, bool success, double seconds,
                       bool truncated = false) const {
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        if (m_o.prometheus)
            return FormatPrometheus(devices, {success, seconds, std::chrono::duration<double>(now).count(),
                                              m_o.interfaces, truncated});
        return m_o.json ? FormatJson(devices) : FormatTable(devices);
    }
    // Writes text to --output (atomically) or standard output; false with a message.
    bool Emit(const std::string& text) const {
        if (m_o.output.empty())
            return WriteOutput(text);
        std::string reason;
        if (!WriteFileAtomically(m_o.output, text, 0644, &reason)) {
            std::fprintf(stderr, "oldiscovery-scan: cannot write %s: %s\n", m_o.output.c_str(),
                         reason.c_str());
            return false;
        }
        return true;
    }
    // Said after a failure the engine's lines explain, when they go nowhere.
    const char* SeeLog() const { return m_o.logFile.empty() ? " (see --log)" : ""; }
    // A scan that could not run: only the Prometheus output says so, for an alert to see.
    int Failed(int status) const {
        if (m_o.prometheus)
            Emit(Format({}, false, 0));
        return status;
    }
    // What ended a wait.
    enum class Wake { ScanEnd, Signal, Deadline, Failed, Found };
    // Waits until deadline for a signal (when there is a signal fd) and, with scanEnd, for the
    // scan's end and (when streaming) a device found; a signal counts before the scan's end.
    Wake WaitUntil(Clock::time_point deadline, bool scanEnd) const;
    // One scan's devices, how long it took and, when it stopped at its limit with answers still
    // arriving, how many the engine listed (else -1); 0, kExitOutput (streaming) or kExitNoScan
    // with a message.
    int ScanOnce(CScanThread& scanner, std::vector<COrvalink>& devices, double& seconds, long& truncated);
    // Writes the lines of the devices found since the last call; false when they did not get out.
    bool StreamNew();
    // The limit's message on stderr.
    void SayTruncated(long listed) const;
    int Watch(CScanThread& scanner);
    // Ends the program at once, a scan perhaps under way: the worker is not waited for.
    [[noreturn]] void QuitNow(CScanThread& scanner);

    const ScanOptions& m_o;
    std::vector<int> m_ifindexes;
    CScanCollector m_collector;
    UniqueFd m_signals;
    CDeviceWatch m_watch;
    bool m_streaming;
};

CScanTool::Wake CScanTool::WaitUntil(Clock::time_point deadline, bool scanEnd) const {
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return Wake::Deadline;
        // poll passes over a negative descriptor: what is not waited for is -1.
        pollfd fds[3] = {{scanEnd ? m_collector.DoneFd() : -1, POLLIN, 0},
                         {m_signals ? m_signals.get() : -1, POLLIN, 0},
                         {scanEnd && m_streaming ? m_collector.FoundFd() : -1, POLLIN, 0}};
        const int ready = ::poll(fds, 3, static_cast<int>(left));
        if (ready < 0 && errno != EINTR)
            return Wake::Failed;
        if (ready > 0 && fds[1].revents)
            return Wake::Signal;
        if (ready > 0 && fds[2].revents)
            return Wake::Found;
        if (ready > 0 && fds[0].revents)
            return Wake::ScanEnd;
    }
}

void CScanTool::QuitNow(CScanThread& scanner) {
    scanner.SetListener(nullptr);
    std::fflush(stdout);
    if (!m_o.logFile.empty())
        LogClose();
    std::_Exit(0);
}

bool CScanTool::StreamNew() {
    std::string lines;
    for (const COrvalink& device : m_collector.TakeNew())
        lines += m_o.json ? FormatJsonLine(device) : FormatTable({device});
    return lines.empty() || WriteOutput(lines);
}

void CScanTool::SayTruncated(long listed) const {
    std::fprintf(stderr,
                 "oldiscovery-scan: scan stopped at its %ld s limit with answers still arriving; %ld devices "
                 "listed (--max-time raises the limit)\n",
                 m_o.maxTimeSeconds ? m_o.maxTimeSeconds : static_cast<long>(CScanWorker::kScanLimit.count()),
                 listed);
}

int CScanTool::ScanOnce(CScanThread& scanner, std::vector<COrvalink>& devices, double& seconds, long& truncated) {
    const auto start = Clock::now();
    if (m_streaming)
        m_collector.StreamDevices();
    if (!scanner.RequestScan()) {
        std::fprintf(stderr, "oldiscovery-scan: the scan could not be started\n");
        return kExitNoScan;
    }
    // The engine ends every scan by itself shortly after its time limit; this bound only guards
    // against a worker that died. A signal (when there is a signal fd) ends the program at once.
    const auto bound = Clock::now() + std::chrono::seconds(m_o.maxTimeSeconds + 60);
    Wake wake;
    while ((wake = WaitUntil(bound, true)) == Wake::Found)
        if (!StreamNew())
            return kExitOutput;
    if (wake == Wake::Signal)
        QuitNow(scanner);
    if (wake != Wake::ScanEnd) {
        std::fprintf(stderr, "oldiscovery-scan: the scan did not end\n");
        return kExitNoScan;
    }
    // The last devices, reported after the last wake-up.
    if (m_streaming && !StreamNew())
        return kExitOutput;
    m_collector.TakeScan(devices, truncated);
    seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return 0;
}

int CScanTool::Watch(CScanThread& scanner) {
    std::vector<COrvalink> devices;
    bool failing = false;  // reported once per streak of scans that could not be sent
    for (;;) {
        const auto start = Clock::now();
        double seconds;
        long truncated;
        if (const int status = ScanOnce(scanner, devices, seconds, truncated))
            return status;
        if (truncated >= 0)
            SayTruncated(truncated);
        const bool sent = !scanner.RequestFailed();
        if (!sent && !failing)
            std::fprintf(stderr, "oldiscovery-scan: the discover request could not be sent%s\n", SeeLog());
        failing = !sent;
        // A request that did not go out says nothing about the devices: no one misses a scan.
        if (sent) {
            std::string events;
            for (const WatchEvent& event : m_watch.Update(devices, std::chrono::system_clock::now()))
                events += FormatWatchEvent(event);
            if (!events.empty() && !WriteOutput(events))
                return kExitOutput;
        }
        if (!m_o.output.empty()) {
            SortDevices(devices);
            if (!Emit(Format(sent ? devices : std::vector<COrvalink>{}, sent, seconds, truncated >= 0)))
                return kExitOutput;
        }
        // The next scan starts SECONDS after this one started, or at once when it took longer.
        const Wake wake = WaitUntil(start + std::chrono::seconds(m_o.watchSeconds), false);
        if (wake == Wake::Signal)
            return 0;  // a signal between scans: the worker is idle and stops at once
        if (wake == Wake::Failed)
            return kExitNoScan;
    }
}

int CScanTool::Run(const char* argv0) {
    if (m_o.watch) {
        // Blocked in every thread (the worker inherits the mask) and read from a descriptor,
        // so a signal is an event the main thread waits for, whatever the scan is doing.
        // A shell starts background commands with SIGINT ignored; a watch ends on it all the same.
        std::signal(SIGTERM, SIG_DFL);
        std::signal(SIGINT, SIG_DFL);
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
    if (const std::error_code error = PrepareRawSockets()) {
        std::fprintf(stderr, "oldiscovery-scan: cannot drop capabilities: %s\n", error.message().c_str());
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
    if (m_o.maxTimeSeconds)
        scanner.SetScanLimit(std::chrono::seconds(m_o.maxTimeSeconds));
    int status = 0;
    std::vector<COrvalink> devices;
    double seconds = 0;
    long truncated = -1;

    bool started = scanner.Start();
    // Capabilities belong to each thread: the worker dropped its own after opening the socket,
    // this thread drops the ones it still holds.
    DropCapabilities();
    if (!started) {
        std::fprintf(stderr, "oldiscovery-scan: the raw ICMP socket could not be opened%s\n", SeeLog());
        status = kExitNoScan;
    } else if (m_o.haveLocate) {
        scanner.RequestLocate(m_o.locate);  // sent before the stop command below is taken
    } else if (m_o.watch) {
        status = Watch(scanner);
    } else {
        status = ScanOnce(scanner, devices, seconds, truncated);
    }
    if (!scanner.Stop() && status == 0) {
        std::fprintf(stderr, "oldiscovery-scan: the scan worker did not stop\n");
        status = kExitNoScan;
    } else if (started && status == 0 && !m_o.watch && scanner.RequestFailed()) {
        // The worker has ended, so its last request's outcome is final.
        std::fprintf(stderr, "oldiscovery-scan: the %s request could not be sent%s\n",
                     m_o.haveLocate ? "locate" : "discover", SeeLog());
        status = kExitNotSent;
    }
    scanner.SetListener(nullptr);

    if (!m_o.haveLocate) {
        if (status == 0 && !m_o.watch) {
            SortDevices(devices);
            if (!m_streaming && !Emit(Format(devices, true, seconds, truncated >= 0)))
                status = kExitOutput;
            // The list as far as it goes is out; that it may be incomplete is said after it.
            if (status == 0 && truncated >= 0) {
                SayTruncated(truncated);
                status = kExitTruncated;
            }
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
    ScanOptions options;
    bool help = false;
    std::string problem = ParseScanOptions(argc, argv, options, help);
    if (help)
        return WriteOutput(kScanUsage) ? 0 : kExitOutput;
    if (!problem.empty())
        return ScanUsage(problem);
    // Before the scan: a typing error in an interface name costs no scan and sends nothing.
    std::vector<int> ifindexes;
    for (const std::string& name : options.interfaces) {
        int index = 0;
        problem = InterfaceProblem(name, &index);
        if (!problem.empty())
            return ScanUsage(problem);
        if (std::find(ifindexes.begin(), ifindexes.end(), index) == ifindexes.end())
            ifindexes.push_back(index);
    }
    // A locate request names one device; sent to a group, every device in it would blink.
    if (options.haveLocate) {
        const DestinationKind kind = DestinationKindOf(inet_addr(options.locate.c_str()));
        if (kind != DestinationKind::OneHost)
            return ScanUsage(options.locate + " is a " + DestinationKindName(kind) +
                             " address; --locate names one device");
    }
    CScanTool tool(options, std::move(ifindexes));
    return tool.Run(argv[0]);
}
