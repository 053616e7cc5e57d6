// oldiscovery-scan: one discovery run from the command line, with the program's own engine.
#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
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
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "engine/DeviceWatch.h"
#include "formats/KnownOutput.h"
#include "formats/ScanOutput.h"
#include "formats/WatchOutput.h"
#include "engine/ScanListener.h"
#include "engine/ScanThread.h"
#include "log/Log.h"
#include "net/DestinationKind.h"
#include "net/Interfaces.h"
#include "net/LinuxSocketLayer.h"
#include "net/Privileges.h"
#include "base/ProgramFile.h"
#include "base/SafeFile.h"
#include "net/SocketLayer.h"
#include "base/UniqueFd.h"
#include "res/FailureText.h"
#include "res/Resource.h"
#include "res/StringTable.h"
#include "ExpectedDevices.h"
#include "KnownState.h"
#include "ScanOptions.h"

namespace {

// How a write to standard output ended.
enum class Written { All, Signal, Failed };

// Writes all of text to standard output; a signal read from signalFd (-1: none) ends the wait
// for a slow reader at once. A failure is said on stderr (a closed pipe too: SIGPIPE is ignored).
Written WriteOutput(std::string_view text, int signalFd = -1) {
    const int flags = ::fcntl(STDOUT_FILENO, F_GETFL);
    // Nonblocking only while writing, so poll, not write, waits for room and sees the signal.
    const bool toggled =
        flags >= 0 && !(flags & O_NONBLOCK) && ::fcntl(STDOUT_FILENO, F_SETFL, flags | O_NONBLOCK) == 0;
    Written result = Written::All;
    while (!text.empty() && result == Written::All) {
        const ssize_t n = ::write(STDOUT_FILENO, text.data(), text.size());
        if (n > 0) {
            text.remove_prefix(static_cast<std::size_t>(n));
        } else if (n < 0 && errno == EAGAIN) {
            pollfd fds[2] = {{STDOUT_FILENO, POLLOUT, 0}, {signalFd, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0 && errno != EINTR)
                result = Written::Failed;
            else if (fds[1].revents)
                result = Written::Signal;
        } else if (n == 0 || errno != EINTR) {
            result = Written::Failed;
        }
    }
    const int error = errno;
    if (toggled)
        ::fcntl(STDOUT_FILENO, F_SETFL, flags);
    if (result == Written::Failed)
        std::fprintf(stderr, "oldiscovery-scan: cannot write the output: %s\n", std::strerror(error));
    return result;
}

// Collects the devices of one scan and signals its end on an eventfd, so the main thread can
// wait for it and for a signal at once; when streaming, each device is signalled on another.
// A device (interface, IP, MAC) is one entry per scan with its last answer, however often it
// answers (another scanner's requests on the segment, a device that repeats itself).
class CScanCollector : public IScanListener {
public:
    CScanCollector()
        : m_done(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), m_found(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

    void OnDeviceFound(const COrvalink& device) override {
        bool fresh = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            auto [at, added] = m_index.try_emplace({device.m_strInterface, device.m_strIP, device.m_strMAC},
                                                   m_devices.size());
            if (added) {
                m_devices.push_back(device);
                fresh = true;
            } else {
                COrvalink& kept = m_devices[at->second];
                // A repeat is shown again only when it says something new.
                fresh = kept.m_strType != device.m_strType || kept.m_strBuild != device.m_strBuild;
                kept = device;
            }
            if (fresh && m_streaming)
                m_fresh.push_back(device);
        }
        if (fresh && m_streaming)
            Signal(m_found);
    }

    void OnScanTruncated(long) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_truncated = true;
    }

    void OnAnswersLost(long lost) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lost = lost;
    }

    void OnScanDone() override { Signal(m_done); }

    int DoneFd() const { return m_done.get(); }
    int FoundFd() const { return m_found.get(); }
    bool Valid() const { return m_done && m_found; }
    // Before the scan: devices are signalled as they come.
    void StreamDevices() { m_streaming = true; }

    // Takes the devices of the scan that ended and makes room for the next one; truncated with
    // the devices listed when the scan stopped at its limit, else -1.
    void TakeScan(std::vector<COrvalink>& devices, long& truncated) {
        Drain(m_done);
        std::lock_guard<std::mutex> lock(m_mutex);
        devices.swap(m_devices);
        m_devices.clear();
        m_index.clear();
        m_fresh.clear();
        truncated = m_truncated ? static_cast<long>(devices.size()) : -1;
        m_truncated = false;
    }
    // The packets the last scan lost to a full receive queue (0: none), once.
    long TakeLost() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return std::exchange(m_lost, 0);
    }
    // The lines to show since the last call: new devices and repeats that changed, in the order
    // they came.
    std::vector<COrvalink> TakeNew() {
        Drain(m_found);
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<COrvalink> fresh;
        fresh.swap(m_fresh);
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
    std::vector<COrvalink> m_devices;  // one per device, in the order they first answered
    std::map<std::tuple<std::string, std::string, std::string>, std::size_t> m_index;  // into m_devices
    std::vector<COrvalink> m_fresh;  // streaming: lines not yet taken by TakeNew
    bool m_truncated = false;
    long m_lost = 0;
    std::atomic<bool> m_streaming{false};
    UniqueFd m_done;
    UniqueFd m_found;
};

using Clock = std::chrono::steady_clock;
using WallTime = std::chrono::time_point<std::chrono::system_clock, std::chrono::milliseconds>;

// A scan's end as the state and the metrics both record it: whole milliseconds, so the time read
// back from the state file is the same number.
WallTime ScanEndTime() {
    return std::chrono::floor<std::chrono::milliseconds>(std::chrono::system_clock::now());
}
// As the watch counts it, from the clock's own units.
double EpochSeconds(WallTime time) {
    return std::chrono::duration<double>(std::chrono::system_clock::time_point(time).time_since_epoch()).count();
}

// Replaces the --output file with text; false, said on stderr, when it could not be.
bool WriteOutputFile(const std::string& path, std::string_view text) {
    const Failure failed = WriteFileAtomically(path, text, 0644);
    if (!failed)
        return true;
    std::fprintf(stderr, "oldiscovery-scan: cannot write %s: %s\n", path.c_str(), FailureText(failed).c_str());
    return false;
}

// The Prometheus text of a scan that could not run on these interfaces.
std::string FailedScanText(const std::vector<std::string>& interfaces) {
    return FormatPrometheus({}, {false, 0, EpochSeconds(ScanEndTime()), interfaces});
}

// Why the folder of a file this program writes must not be used, "" when it may or when it
// cannot be had at all (the file's own open then says so): walked as for --output and --state,
// so a link another user made on the way is refused for every file alike.
std::string FolderRefusal(const std::string& path) {
    std::string name;
    const Result<UniqueFd> folder = OpenParentSafely(path, name);
    const Failure failure = folder ? FolderWriteRefusal(folder->get()) : folder.Error();
    const bool refused = folder || failure == Errc::LinkOfOtherUser ||
                         failure.code == std::errc::too_many_symbolic_link_levels;
    return failure && refused ? FailureText(failure) : "";
}

// True when standard output is the journal (systemd names its stream in JOURNAL_STREAM as
// "device:inode"): then each line may start with a syslog priority.
bool OutputIsJournal() {
    const char* stream = std::getenv("JOURNAL_STREAM");
    struct stat st {};
    unsigned long long device = 0, inode = 0;
    return stream && std::sscanf(stream, "%llu:%llu", &device, &inode) == 2 && ::fstat(STDOUT_FILENO, &st) == 0 &&
           static_cast<unsigned long long>(st.st_dev) == device && static_cast<unsigned long long>(st.st_ino) == inode;
}

// The sd-daemon priority of a watch event: what went or changed is a warning, a new device a notice.
const char* JournalPriority(WatchEvent::Kind kind) {
    return kind == WatchEvent::Kind::Appeared ? "<5>" : "<4>";
}

// The program after the command line: the scan, or the watch, and their output.
class CScanTool {
public:
    CScanTool(const ScanOptions& options, std::vector<int> ifindexes)
        : m_o(options),
          m_ifindexes(std::move(ifindexes)),
          m_watch(static_cast<unsigned>(options.goneAfter), !options.stateFile.empty()),
          // A person watching a terminal sees each device's line as it comes; a file or pipe gets
          // the sorted list, and JSON keeps its one array, unless asked otherwise.
          m_streaming(options.stream || (::isatty(STDOUT_FILENO) && !options.json && !options.prometheus &&
                                         options.output.empty() && !options.watch && !options.haveLocate)) {}

    int Run(const char* argv0);

private:
    // One scan's output in the chosen format; end is when it ended (a failed scan: now).
    std::string Format(const std::vector<COrvalink>& devices, bool success, double seconds,
                       WallTime end = ScanEndTime()) const {
        if (!m_o.prometheus)
            return m_o.json ? FormatJson(devices) : FormatTable(devices);
        const std::vector<std::string> interfaces = ScannedInterfaces(devices);
        std::string text = FormatPrometheus(
            devices, {success, seconds, EpochSeconds(end), interfaces, success && m_lastTruncated >= 0});
        if (success && !m_o.stateFile.empty())
            text += FormatKnownPrometheus(m_watch.Known(), EpochSeconds(end), interfaces);
        return text;
    }
    // The interfaces a scan's series are labelled with: the chosen ones, or those a request
    // without a choice went out on (and those replies came in on), so that every file of a
    // host says which segment it is about.
    std::vector<std::string> ScannedInterfaces(const std::vector<COrvalink>& devices) const;
    // A scan that ran, recorded: its watch events into events and, with --state, into the file
    // under its lock, read again first so that what another writer did meanwhile (a --forget,
    // another interface's scan) stays; there, too, devices silent too long retire and each
    // interface keeps its most recent --max-known. False when the file could not be written,
    // said once per streak of such scans.
    bool Record(const std::vector<COrvalink>& devices, WallTime end, std::vector<WatchEvent>& events);
    // Writes text to --output (atomically) or standard output; false with a message.
    bool Emit(const std::string& text) const {
        if (m_o.output.empty())
            return WriteOutput(text) == Written::All;
        return WriteOutputFile(m_o.output, text);
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
    std::vector<std::string> m_requestInterfaces;  // without a choice: where the last request went
    bool m_stateFailing = false;
    bool m_journal = false;
    CScanCollector m_collector;
    UniqueFd m_signals;
    CDeviceWatch m_watch;
    bool m_streaming;
    long m_lastTruncated = -1;  // the last scan's devices when its limit stopped it short, else -1
    long m_lastLost = 0;        // the packets the last scan lost to a full receive queue
};

std::vector<std::string> CScanTool::ScannedInterfaces(const std::vector<COrvalink>& devices) const {
    if (!m_o.interfaces.empty())
        return m_o.interfaces;
    std::vector<std::string> names = m_requestInterfaces.empty() ? BroadcastInterfaceNames() : m_requestInterfaces;
    auto add = [&names](const std::string& name) {
        if (name != "n/a" && std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(name);
    };
    // No interface to send on at all: the segments the known devices were seen on are what failed.
    if (names.empty())
        for (const auto& [key, known] : m_watch.Known().Devices())
            add(known.interface);
    for (const COrvalink& d : devices)
        add(d.m_strInterface);
    return names;
}

bool CScanTool::Record(const std::vector<COrvalink>& devices, WallTime end, std::vector<WatchEvent>& events) {
    const std::vector<std::string> interfaces = ScannedInterfaces(devices);
    if (m_o.stateFile.empty()) {
        events = m_watch.Update(devices, end, interfaces);
        return true;
    }
    std::string reason;
    const UniqueFd lock = LockKnownDevices(m_o.stateFile, reason);
    // Without the lock the scan still counts for the watch; the file waits for a later scan.
    if (lock && !LoadKnownDevices(m_o.stateFile, m_watch.Known()))
        reason = "refused when read again";
    events = m_watch.Update(devices, end, interfaces);
    std::string removed;
    if (lock && reason.empty()) {
        CKnownDevices& known = m_watch.Known();
        removed = FormatRemoved(
            "oldiscovery-scan: retired after --retire-after " + std::to_string(m_o.retireDays) +
                " days of silence:",
            known.Retire(EpochSeconds(end) - 86400.0 * static_cast<double>(m_o.retireDays), interfaces));
        removed += FormatRemoved("oldiscovery-scan: Warning: not kept, over --max-known " +
                                     std::to_string(m_o.maxKnown) + " on its interface:",
                                 known.Cap(static_cast<std::size_t>(m_o.maxKnown)));
        if (SaveKnownDevices(m_o.stateFile, known, reason)) {
            std::fputs(removed.c_str(), stderr);
            m_stateFailing = false;
            return true;
        }
    }
    if (!m_stateFailing)
        std::fprintf(stderr, "oldiscovery-scan: cannot write the state file %s: %s\n", m_o.stateFile.c_str(),
                     reason.c_str());
    m_stateFailing = true;
    return false;
}

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
    return lines.empty() || WriteOutput(lines) == Written::All;
}

void CScanTool::SayTruncated(long listed) const {
    if (m_lastLost > 0) {
        std::fprintf(stderr,
                     "oldiscovery-scan: scan lost %ld packets to a full receive queue; %ld devices listed (see "
                     "net.core.rmem_max in docs/performance.md)\n",
                     m_lastLost, listed);
        return;
    }
    std::fprintf(stderr,
                 "oldiscovery-scan: scan stopped at its %ld s limit with answers still arriving; %ld devices "
                 "listed (--max-time raises the limit)\n",
                 m_o.maxTimeSeconds ? m_o.maxTimeSeconds : static_cast<long>(CScanWorker::kScanLimit.count()),
                 listed);
}

int CScanTool::ScanOnce(CScanThread& scanner, std::vector<COrvalink>& devices, double& seconds, long& truncated) {
    const auto start = Clock::now();
    if (m_o.interfaces.empty())
        m_requestInterfaces = BroadcastInterfaceNames();
    if (m_streaming)
        m_collector.StreamDevices();
    if (!m_o.stateFile.empty())
        scanner.SetExpectedDevices(ExpectedDevices(m_watch.Known(), m_o.interfaces));
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
    m_lastTruncated = truncated;
    m_lastLost = m_collector.TakeLost();
    seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return 0;
}

int CScanTool::Watch(CScanThread& scanner) {
    std::vector<COrvalink> devices;
    bool failing = false;      // reported once per streak of scans that could not be sent
    bool fileFailing = false;  // the same for --output
    for (bool first = true;; first = false) {
        const auto start = Clock::now();
        double seconds;
        long truncated;
        if (const int status = ScanOnce(scanner, devices, seconds, truncated))
            return status;
        const WallTime end = ScanEndTime();
        if (truncated >= 0)
            SayTruncated(truncated);
        const bool sent = !scanner.RequestFailed();
        if (!sent && !failing)
            std::fprintf(stderr, "oldiscovery-scan: the discover request could not be sent%s\n", SeeLog());
        failing = !sent;
        // A request that did not go out says nothing about the devices: no one misses a scan.
        if (sent) {
            std::vector<WatchEvent> changes;
            Record(devices, end,
                   changes);  // a watch goes on without its file, and tries again after the next scan
            std::string events;
            for (const WatchEvent& event : changes)
                events += (m_journal ? JournalPriority(event.kind) : "") + FormatWatchEvent(event);
            // The scan has ended: the worker is idle, and a signal ends the program at once.
            if (const Written written = events.empty() ? Written::All : WriteOutput(events, m_signals.get());
                written != Written::All)
                return written == Written::Signal ? 0 : kExitOutput;
        }
        if (!m_o.output.empty()) {
            SortDevices(devices);
            const Failure failed = WriteFileAtomically(
                m_o.output, Format(sent ? devices : std::vector<COrvalink>{}, sent, seconds, end), 0644);
            const bool wrote = !failed;
            const std::string reason = failed ? FailureText(failed) : "";
            // A file that cannot be written at all ends the watch at once; later, a full disk or
            // another passing fault keeps the last file until a scan writes it again.
            if (!wrote && first) {
                std::fprintf(stderr, "oldiscovery-scan: cannot write %s: %s\n", m_o.output.c_str(),
                             reason.c_str());
                return kExitOutput;
            }
            if (!wrote && !fileFailing)
                std::fprintf(stderr,
                             "oldiscovery-scan: Warning: cannot write %s: %s; the last file stays until a "
                             "later scan writes it\n",
                             m_o.output.c_str(), reason.c_str());
            fileFailing = !wrote;
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
    // A state that cannot be had costs no scan: nothing known would be lost, nothing new recorded.
    if (!m_o.stateFile.empty() && !LoadKnownDevices(m_o.stateFile, m_watch.Known()))
        return Failed(kExitState);
    m_journal = m_o.watch && OutputIsJournal();
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
    RawSockets opened = OpenRawSockets();
    if (opened.dropFailure) {
        std::fprintf(stderr, "oldiscovery-scan: cannot drop capabilities: %s\n",
                     FailureText(opened.dropFailure).c_str());
        return Failed(kExitNoScan);
    }
    auto sockets = std::make_shared<CLinuxSocketLayer>(std::move(opened));
    if (!sockets->RawIcmpOpened()) {
        const Result<std::string> program = GetProgramFilePath();
        std::fprintf(stderr, "oldiscovery-scan: %s\n",
                     FormatString1(IDS_NEED_ADMIN, ShellQuoted(program ? *program : argv0)).c_str());
        return Failed(kExitNoScan);
    }
    if (!m_o.logFile.empty()) {
        if (const std::string refusal = FolderRefusal(m_o.logFile); !refusal.empty()) {
            std::fprintf(stderr, "oldiscovery-scan: cannot use the log file %s: %s\n", m_o.logFile.c_str(),
                         refusal.c_str());
            return kExitLog;
        }
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

    CScanThread scanner(sockets);
    scanner.SetListener(&m_collector);
    scanner.SetInterfaces(m_ifindexes);
    if (m_o.waitMs)
        scanner.SetQuietWait(std::chrono::milliseconds(m_o.waitMs));
    if (m_o.maxTimeSeconds)
        scanner.SetScanLimit(std::chrono::seconds(m_o.maxTimeSeconds));
    scanner.SetAdaptiveEnd(m_o.adaptiveEnd);
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
            const WallTime end = ScanEndTime();
            std::vector<WatchEvent> events;
            if (!m_o.stateFile.empty() && !Record(devices, end, events))
                status = kExitState;
            SortDevices(devices);
            if (!m_streaming && !Emit(Format(devices, true, seconds, end)))
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
    // A reader that went away is an output error with a message and exit 3, not a silent end.
    std::signal(SIGPIPE, SIG_IGN);
    ScanOptions options;
    bool help = false;
    std::string problem = ParseScanOptions(argc, argv, options, help);
    if (help)
        return WriteOutput(kScanUsage) == Written::All ? 0 : kExitOutput;
    if (options.version)
        return WriteOutput(ScanVersion()) == Written::All ? 0 : kExitOutput;
    if (!problem.empty())
        return ScanUsage(problem);
    if (!options.forget.empty() || options.known)
        return RunKnownDevicesCommand(options);
    // Before the scan: a typing error in an interface name costs no scan and sends nothing.
    std::vector<int> ifindexes;
    for (const std::string& name : options.interfaces) {
        int index = 0;
        if (const Failure failure = InterfaceProblem(name, &index)) {
            problem = FailureText(failure);
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
    // A locate request names one device; sent to a group, every device in it would blink.
    if (options.haveLocate) {
        if (const std::string refusal = LocateRefusal(options.locate); !refusal.empty())
            return ScanUsage(refusal + "; --locate names one device");
    }
    CScanTool tool(options, std::move(ifindexes));
    return tool.Run(argv[0]);
}
