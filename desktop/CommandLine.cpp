#include "desktop/CommandLine.h"

#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>

#include "log/Log.h"
#include "log/LogText.h"

extern char** environ;

namespace {

// The terminals tried when $TERMINAL names none that can be found, in this order.
constexpr const char* kTerminals[] = {"x-terminal-emulator", "gnome-terminal", "konsole", "xfce4-terminal",
                                      "xterm"};

// How often WaitEnd asks about a program it has no pidfd for.
constexpr std::chrono::milliseconds kEndPoll{20};

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

// The file execve would run for this name, or why it cannot be run.
Result<std::string> ResolveProgram(const std::string& name) {
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
    return Failure(exists ? Errc::NotExecutable : Errc::ProgramNotFound);
}

// posix_spawn's attributes, freed however the start ends.
struct SpawnSetup {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    SpawnSetup() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSetup() {
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
};

Result<StartedProgram> StartLogged(const std::string& commandLine, const std::vector<std::string>& argv) {
    Result<StartedProgram> started = SpawnProgram(argv);
    if (!started)
        LogStartFailure(commandLine, started.Error());
    return started;
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

ProgramEnd StartedProgram::TakeEnd() {
    if (m_pid < 0)
        return {};
    // The child's process id stays its own until it is reaped here, so it names the child as
    // surely as its pidfd would, on every kernel (waitid's P_PIDFD needs Linux 5.4).
    siginfo_t info{};
    if (TEMP_FAILURE_RETRY(waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG)) != 0 ||
        info.si_pid == 0)
        return {};
    m_pidfd.reset();
    m_pid = -1;
    if (info.si_code == CLD_EXITED)
        return {ProgramEnd::Kind::Exited, info.si_status, {}};
    return {ProgramEnd::Kind::Signalled, info.si_status, {}};
}

ProgramEnd StartedProgram::WaitEnd(std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (m_pid < 0 || left.count() <= 0)
            return TakeEnd();
        if (!m_pidfd) {
            // No pidfd to wait on (a kernel before 5.3): asked again and again until the bound.
            if (ProgramEnd end = TakeEnd(); end.kind != ProgramEnd::Kind::Running)
                return end;
            const timespec step{0, std::chrono::nanoseconds(std::min(left, kEndPoll)).count()};
            nanosleep(&step, nullptr);
            continue;
        }
        pollfd ended{m_pidfd.get(), POLLIN, 0};
        if (poll(&ended, 1, static_cast<int>(left.count())) >= 0 || errno != EINTR)
            return TakeEnd();
    }
}

Result<StartedProgram> SpawnProgram(const std::vector<std::string>& argv) {
    if (argv.empty())
        return Failure(Errc::EmptyCommandLine);
    const Result<std::string> file = ResolveProgram(argv[0]);
    if (!file)
        return file.Error();
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    SpawnSetup setup;
    // Raw sockets and log files stay with this program: the started one keeps only the
    // standard streams.
    posix_spawn_file_actions_addclosefrom_np(&setup.actions, 3);
    // Its own session, so closing this program's terminal or session does not end it; and the
    // signal handling a freshly started program expects, whatever this one has set up.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&setup.attributes, &none);
    posix_spawnattr_setsigdefault(&setup.attributes, &all);
    posix_spawnattr_setflags(&setup.attributes,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    // Capabilities were dropped at start; ambient ones would still pass through exec. They
    // belong to the thread, which the started program is copied from.
    prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    pid_t pid = -1;
    // The C library reports exec's own failure here and has then reaped the child.
    if (const int error =
            posix_spawn(&pid, file->c_str(), &setup.actions, &setup.attributes, args.data(), environ))
        return ErrnoFailure(error);
    // Without one (a kernel before 5.3) the program is watched by its process id alone.
    UniqueFd pidfd(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
    if (!pidfd && errno != ENOSYS) {
        // A program that could not be watched could not be reaped either: it is ended at once.
        const int error = errno;
        kill(pid, SIGKILL);
        TEMP_FAILURE_RETRY(waitpid(pid, nullptr, 0));
        return ErrnoFailure(error);
    }
    WarnStartedAsRoot(argv[0]);
    return StartedProgram(pid, std::move(pidfd));
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

Result<StartedProgram> StartCommandLine(const std::string& commandLine) {
    return StartLogged(commandLine, SplitCommandLine(commandLine));
}

void LogStartFailure(const std::string& commandLine, const Failure& reason) {
    // The reason comes first: a long command line is cut at the end of the log line.
    LogWrite(LOG_WARNING, "Could not start (%s): \"%s\"", reason.code.message().c_str(),
             LogEscape(commandLine).c_str());
}

void LogProgramFailure(const std::string& commandLine, const ProgramEnd& end) {
    if (end.kind == ProgramEnd::Kind::NotStarted) {
        LogStartFailure(commandLine, end.failure);
        return;
    }
    // A terminal or an opener that ran and gave up (no display, no handler) did start.
    LogWrite(LOG_WARNING, "Started, then %s %d: \"%s\"",
             end.kind == ProgramEnd::Kind::Signalled ? "ended by signal" : "exited with status", end.value,
             LogEscape(commandLine).c_str());
}

Result<std::vector<std::string>> TerminalArgv(const std::string& commandLine) {
    auto fail = [&commandLine](Failure why) {
        LogStartFailure(commandLine, why);
        return why;
    };
    std::vector<std::string> command = SplitCommandLine(commandLine);
    if (command.empty())
        return fail(Errc::EmptyCommandLine);

    std::vector<std::string> candidates;
    if (const char* own = std::getenv("TERMINAL"); own && *own)
        candidates.emplace_back(own);
    candidates.insert(candidates.end(), std::begin(kTerminals), std::end(kTerminals));

    // A terminal named as the program opens its own window.
    const std::string program = BaseName(command[0]);
    if (std::ranges::any_of(candidates,
                            [&](const std::string& terminal) { return program == BaseName(terminal); }))
        return command;
    // A terminal would open, say nothing useful and close at once: the program is checked here.
    if (const Result<std::string> file = ResolveProgram(command[0]); !file)
        return fail(file.Error());

    for (const std::string& terminal : candidates) {
        if (!ResolveProgram(terminal))
            continue;
        const std::string name = BaseName(terminal);
        // gnome-terminal ends its options with "--"; xfce4-terminal's -e takes one string.
        const char* runOption = name == "gnome-terminal" ? "--" : name == "xfce4-terminal" ? "-x" : "-e";
        std::vector<std::string> argv{terminal, runOption};
        argv.insert(argv.end(), command.begin(), command.end());
        return argv;
    }
    return fail(Errc::NoTerminal);
}

Result<StartedProgram> StartInTerminal(const std::string& commandLine) {
    Result<std::vector<std::string>> argv = TerminalArgv(commandLine);
    if (!argv)
        return argv.Error();
    return StartLogged(commandLine, *argv);
}
