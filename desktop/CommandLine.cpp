#include "desktop/CommandLine.h"

#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "log/Log.h"
#include "log/LogText.h"
#include "base/UniqueFd.h"

extern char** environ;

namespace {

// The terminals tried when $TERMINAL names none that can be found, in this order.
constexpr const char* kTerminals[] = {"x-terminal-emulator", "gnome-terminal", "konsole", "xfce4-terminal",
                                      "xterm"};

std::string BaseName(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsExecutableFile(const std::string& path, bool* exists) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return false;
    *exists = true;
    return S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// The file execve would run for this name, or empty with the reason it cannot be run.
std::string ResolveProgram(const std::string& name, std::string* reason) {
    bool exists = false;
    if (name.find('/') != std::string::npos) {
        if (IsExecutableFile(name, &exists))
            return name;
    } else if (!name.empty()) {
        const char* path = std::getenv("PATH");
        std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
        for (std::size_t start = 0, end; start <= dirs.size(); start = end + 1) {
            end = std::min(dirs.find(':', start), dirs.size());
            std::string candidate = (end == start ? "." : dirs.substr(start, end - start)) + "/" + name;
            if (IsExecutableFile(candidate, &exists))
                return candidate;
        }
    }
    *reason = exists ? "not executable" : "not found";
    return {};
}

// The watcher's one report, written in one piece (shorter than PIPE_BUF).
struct WatchReport {
    int kind;
    int value;
};

// The watcher and the program before its exec run between fork and exec of a threaded
// process: async-signal-safe calls only.
void Report(int fd, ProgramEnd::Kind kind, int value) {
    const WatchReport report{static_cast<int>(kind), value};
    (void)!write(fd, &report, sizeof report);
}

void OnWatchAlarm(int) {}

bool WatchTimeLeft(const timespec& deadline) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec < deadline.tv_sec || (now.tv_sec == deadline.tv_sec && now.tv_nsec < deadline.tv_nsec);
}

// Starts the program, waits up to watchMs for it to end and reports how it went. It leaves
// without waiting longer: the program then goes to init, which reaps it.
[[noreturn]] void RunWatcher(const char* file, char* const* argv, int reportFd, int watchMs) {
    setsid();  // away from this program's session, so closing it does not end the program
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig)
        sigaction(sig, &dfl, nullptr);
    // Raw sockets and log files stay with this program: the watcher keeps only its report.
    if (reportFd > 3)
        close_range(3, static_cast<unsigned>(reportFd) - 1, 0);
    close_range(static_cast<unsigned>(reportFd) + 1, ~0U, 0);
    int execPipe[2];
    if (pipe2(execPipe, O_CLOEXEC) != 0) {
        Report(reportFd, ProgramEnd::Kind::NotStarted, errno);
        _exit(0);
    }
    const pid_t program = fork();
    if (program == 0) {
        // Capabilities were dropped at start; ambient ones would still pass through exec.
        prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
        execve(file, argv, environ);
        const int err = errno;
        (void)!write(execPipe[1], &err, sizeof err);
        _exit(127);
    }
    const int forkErr = errno;
    close(execPipe[1]);
    if (program < 0) {
        Report(reportFd, ProgramEnd::Kind::NotStarted, forkErr);
        _exit(0);
    }
    // The pipe closes on a successful exec; an errno arrives only when exec failed.
    int execErr = 0;
    if (TEMP_FAILURE_RETRY(read(execPipe[0], &execErr, sizeof execErr)) ==
        static_cast<ssize_t>(sizeof execErr)) {
        TEMP_FAILURE_RETRY(waitpid(program, nullptr, 0));
        Report(reportFd, ProgramEnd::Kind::NotStarted, execErr);
        _exit(0);
    }
    int status = 0;
    pid_t ended = 0;
    if (watchMs > 0) {
        timespec deadline{};
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        deadline.tv_sec += watchMs / 1000;
        deadline.tv_nsec += (watchMs % 1000) * 1000000L;
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_nsec -= 1000000000L;
            ++deadline.tv_sec;
        }
        // No SA_RESTART: each tick ends the wait, which then looks at the time. The ticks
        // repeat, so one that comes before the wait has begun loses nothing.
        struct sigaction tick {};
        tick.sa_handler = OnWatchAlarm;
        sigaction(SIGALRM, &tick, nullptr);
        const itimerval ticks{{0, 50000}, {0, 50000}};
        setitimer(ITIMER_REAL, &ticks, nullptr);
        while ((ended = waitpid(program, &status, 0)) < 0 && errno == EINTR && WatchTimeLeft(deadline)) {
        }
    } else {
        ended = waitpid(program, &status, WNOHANG);
    }
    if (ended != program)
        Report(reportFd, ProgramEnd::Kind::Running, 0);
    else if (WIFSIGNALED(status))
        Report(reportFd, ProgramEnd::Kind::Signalled, WTERMSIG(status));
    else
        Report(reportFd, ProgramEnd::Kind::Exited, WEXITSTATUS(status));
    _exit(0);
}

bool Fail(std::string* reason, std::string text) {
    if (reason)
        *reason = std::move(text);
    return false;
}

bool LogFailure(const std::string& commandLine, const std::string& why, std::string* reason) {
    LogStartFailure(commandLine, why);
    return Fail(reason, why);
}

bool StartLogged(const std::string& commandLine, const std::vector<std::string>& argv, std::string* reason) {
    std::string why;
    return StartDetached(argv, &why) || LogFailure(commandLine, why, reason);
}

// Root's programs get every capability back at exec, whatever this process gave up.
std::atomic<bool> g_rootStartWarned{false};

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    bool quoted = false;
    const std::size_t n = commandLine.size();
    for (std::size_t i = 0; i < n;) {
        char c = commandLine[i];
        if (!quoted && (c == ' ' || c == '\t')) {
            if (inWord)
                words.push_back(std::move(word));
            word.clear();
            inWord = false;
            ++i;
            continue;
        }
        inWord = true;
        if (c == '\\') {
            const std::size_t run = std::min(commandLine.find_first_not_of('\\', i), n) - i;
            i += run;
            if (i < n && commandLine[i] == '"') {
                word.append(run / 2, '\\');
                if (run % 2 == 1) {
                    word += '"';
                    ++i;
                }
            } else {
                word.append(run, '\\');
            }
        } else if (c == '"') {
            if (quoted && i + 1 < n && commandLine[i + 1] == '"') {
                word += '"';
                i += 2;
            } else {
                quoted = !quoted;
                ++i;
            }
        } else {
            word += c;
            ++i;
        }
    }
    if (inWord)
        words.push_back(std::move(word));
    return words;
}

bool StartWatched(const std::vector<std::string>& argv, int watchMs, ProgramWatch* watch,
                  std::string* reason) {
    if (argv.empty())
        return Fail(reason, "empty command line");
    std::string why;
    std::string file = ResolveProgram(argv[0], &why);
    if (file.empty())
        return Fail(reason, why);

    // Everything the watcher needs is built before fork: it may not allocate afterwards.
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0)
        return Fail(reason, std::strerror(errno));
    UniqueFd reportIn(pipeEnds[0]), reportOut(pipeEnds[1]);
    const pid_t watcher = fork();
    if (watcher == 0)
        RunWatcher(file.c_str(), args.data(), reportOut.get(), watchMs);
    const int forkErr = errno;
    reportOut.reset();
    if (watcher < 0)
        return Fail(reason, std::strerror(forkErr));
    watch->reportFd = reportIn.release();
    watch->watcherPid = watcher;
    WarnStartedAsRoot(argv[0]);
    return true;
}

ProgramEnd FinishWatch(ProgramWatch& watch) {
    WatchReport report{};
    const ssize_t got = TEMP_FAILURE_RETRY(read(watch.reportFd, &report, sizeof report));
    close(watch.reportFd);
    TEMP_FAILURE_RETRY(waitpid(watch.watcherPid, nullptr, 0));
    watch = ProgramWatch();
    ProgramEnd end;
    if (got != static_cast<ssize_t>(sizeof report)) {
        end.kind = ProgramEnd::Kind::Running;  // the watcher was ended before it knew more
        return end;
    }
    end.kind = static_cast<ProgramEnd::Kind>(report.kind);
    end.value = report.value;
    if (end.kind == ProgramEnd::Kind::NotStarted)
        end.reason = std::strerror(report.value);
    return end;
}

bool StartDetached(const std::vector<std::string>& argv, std::string* reason) {
    ProgramWatch watch;
    if (!StartWatched(argv, 0, &watch, reason))
        return false;
    const ProgramEnd end = FinishWatch(watch);
    return end.kind != ProgramEnd::Kind::NotStarted || Fail(reason, end.reason);
}

bool WarnStartedAsRoot(const std::string& program) {
    if ((getuid() != 0 && geteuid() != 0) || g_rootStartWarned.exchange(true))
        return false;
    LogWrite(LOG_WARNING,
             "\"%s\" runs as root with every capability, since OLDiscovery runs as root; give OLDiscovery "
             "cap_net_raw instead",
             LogEscape(BaseName(program)).c_str());
    return true;
}

std::string QuoteWord(const std::string& word) {
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char c : word) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count only before a quote: there they are doubled, and the quote escaped.
        if (c == '"')
            quoted.append(2 * backslashes + 1, '\\');
        else
            quoted.append(backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, '\\');  // before the closing quote
    return quoted + "\"";
}

bool StartCommandLine(const std::string& commandLine, std::string* reason) {
    return StartLogged(commandLine, SplitCommandLine(commandLine), reason);
}

void LogStartFailure(const std::string& commandLine, const std::string& reason) {
    // The reason comes first: a long command line is cut at the end of the log line.
    LogWrite(LOG_WARNING, "Could not start (%s): \"%s\"", reason.c_str(), LogEscape(commandLine).c_str());
}

void LogProgramFailure(const std::string& commandLine, const ProgramEnd& end) {
    if (end.kind == ProgramEnd::Kind::NotStarted) {
        LogStartFailure(commandLine, end.reason);
        return;
    }
    // A terminal or an opener that ran and gave up (no display, no handler) did start.
    LogWrite(LOG_WARNING, "Started, then %s %d: \"%s\"",
             end.kind == ProgramEnd::Kind::Signalled ? "ended by signal" : "exited with status", end.value,
             LogEscape(commandLine).c_str());
}

bool TerminalArgv(const std::string& commandLine, std::vector<std::string>* argv, std::string* reason) {
    std::vector<std::string> command = SplitCommandLine(commandLine);
    if (command.empty())
        return LogFailure(commandLine, "empty command line", reason);

    std::vector<std::string> candidates;
    if (const char* own = std::getenv("TERMINAL"); own && *own)
        candidates.emplace_back(own);
    candidates.insert(candidates.end(), std::begin(kTerminals), std::end(kTerminals));

    // A terminal named as the program opens its own window.
    const std::string program = BaseName(command[0]);
    if (std::ranges::any_of(candidates,
                            [&](const std::string& terminal) { return program == BaseName(terminal); })) {
        *argv = std::move(command);
        return true;
    }
    // A terminal would open, say nothing useful and close at once: the program is checked here.
    std::string why;
    if (ResolveProgram(command[0], &why).empty())
        return LogFailure(commandLine, why, reason);

    for (const std::string& terminal : candidates) {
        std::string ignored;
        if (ResolveProgram(terminal, &ignored).empty())
            continue;
        const std::string name = BaseName(terminal);
        // gnome-terminal ends its options with "--"; xfce4-terminal's -e takes one string.
        const char* runOption = name == "gnome-terminal" ? "--" : name == "xfce4-terminal" ? "-x" : "-e";
        *argv = {terminal, runOption};
        argv->insert(argv->end(), command.begin(), command.end());
        return true;
    }
    return LogFailure(commandLine, "no terminal", reason);
}

bool StartInTerminal(const std::string& commandLine, std::string* reason) {
    std::vector<std::string> argv;
    return TerminalArgv(commandLine, &argv, reason) && StartLogged(commandLine, argv, reason);
}
