#include "platform/CommandLine.h"

#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "log/Log.h"
#include "log/LogText.h"
#include "platform/UniqueFd.h"

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

// Runs in the child between fork and exec: async-signal-safe calls only.
[[noreturn]] void ExecDetached(const char* file, char* const* argv, int errorFd) {
    setsid();  // away from this program's session, so closing it does not end the child
    pid_t grandchild = fork();
    if (grandchild != 0) {
        if (grandchild < 0) {
            int err = errno;
            (void)!write(errorFd, &err, sizeof err);
        }
        _exit(0);  // the grandchild goes to init, which reaps it
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig)
        sigaction(sig, &dfl, nullptr);
    // Capabilities were dropped at start; ambient ones would still pass through exec.
    prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    // Raw sockets and log files stay with this program.
    close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    execve(file, argv, environ);
    int err = errno;
    (void)!write(errorFd, &err, sizeof err);
    _exit(127);
}

bool Fail(std::string* reason, std::string text) {
    if (reason)
        *reason = std::move(text);
    return false;
}

// The reason comes first: a long command line is cut at the end of the log line.
bool LogStartFailure(const std::string& commandLine, const std::string& why, std::string* reason) {
    LogWrite(LOG_WARNING, "Could not start (%s): \"%s\"", why.c_str(), LogEscape(commandLine).c_str());
    return Fail(reason, why);
}

bool StartLogged(const std::string& commandLine, const std::vector<std::string>& argv, std::string* reason) {
    std::string why;
    return StartDetached(argv, &why) || LogStartFailure(commandLine, why, reason);
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

bool StartDetached(const std::vector<std::string>& argv, std::string* reason) {
    if (argv.empty())
        return Fail(reason, "empty command line");
    std::string why;
    std::string file = ResolveProgram(argv[0], &why);
    if (file.empty())
        return Fail(reason, why);

    // Everything the child needs is built before fork: it may not allocate afterwards.
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0)
        return Fail(reason, std::strerror(errno));
    UniqueFd errorIn(pipeEnds[0]), errorOut(pipeEnds[1]);
    pid_t child = fork();
    if (child == 0)
        ExecDetached(file.c_str(), args.data(), errorOut.get());
    int forkErr = errno;
    errorOut.reset();
    if (child < 0)
        return Fail(reason, std::strerror(forkErr));
    TEMP_FAILURE_RETRY(waitpid(child, nullptr, 0));
    // The pipe closes on a successful exec; an errno arrives only when exec failed.
    int execErr = 0;
    if (TEMP_FAILURE_RETRY(read(errorIn.get(), &execErr, sizeof execErr)) ==
        static_cast<ssize_t>(sizeof execErr))
        return Fail(reason, std::strerror(execErr));
    WarnStartedAsRoot(argv[0]);
    return true;
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

bool StartInTerminal(const std::string& commandLine, std::string* reason) {
    std::vector<std::string> command = SplitCommandLine(commandLine);
    if (command.empty())
        return StartLogged(commandLine, command, reason);

    std::vector<std::string> candidates;
    if (const char* own = std::getenv("TERMINAL"); own && *own)
        candidates.emplace_back(own);
    candidates.insert(candidates.end(), std::begin(kTerminals), std::end(kTerminals));

    // A terminal named as the program opens its own window.
    const std::string program = BaseName(command[0]);
    if (std::ranges::any_of(candidates,
                            [&](const std::string& terminal) { return program == BaseName(terminal); }))
        return StartLogged(commandLine, command, reason);
    // A terminal would open, say nothing useful and close at once: the program is checked here.
    std::string why;
    if (ResolveProgram(command[0], &why).empty())
        return LogStartFailure(commandLine, why, reason);

    for (const std::string& terminal : candidates) {
        std::string ignored;
        if (ResolveProgram(terminal, &ignored).empty())
            continue;
        const std::string name = BaseName(terminal);
        // gnome-terminal ends its options with "--"; xfce4-terminal's -e takes one string.
        const char* runOption = name == "gnome-terminal" ? "--" : name == "xfce4-terminal" ? "-x" : "-e";
        std::vector<std::string> argv{terminal, runOption};
        argv.insert(argv.end(), command.begin(), command.end());
        return StartLogged(commandLine, argv, reason);
    }
    return LogStartFailure(commandLine, "no terminal", reason);
}
