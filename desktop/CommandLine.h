#pragma once
// Starting the user's own programs from a command line, with no shell in between.
#include <sys/types.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "base/Error.h"
#include "base/UniqueFd.h"

// Splits a command line into program and arguments the way a program on the original
// desktop platform splits its own command line (blanks/tabs separate words; double quotes
// group blanks into one word and are removed; the backslash rule written down in the header).
//
// The backslash rule, the same for every word including the program:
//  - 2n backslashes followed by a double quote give n backslashes, and the quote opens or
//    closes a quoted part;
//  - 2n+1 backslashes followed by a double quote give n backslashes and a literal quote;
//  - backslashes not followed by a double quote are kept as they are (so "C:\dir\" style
//    paths and Linux file names with a backslash survive);
//  - inside a quoted part, two double quotes in a row give one literal quote and the part
//    stays open.
// A quoted part with nothing in it ("") is an empty word of its own.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// One word of a command line that SplitCommandLine gives back as exactly that word: in double
// quotes, with a quote and the backslashes before it escaped.
std::string QuoteWord(const std::string& word);

// How a started program fared while it was watched.
struct ProgramEnd {
    enum class Kind { Running, Exited, Signalled, NotStarted };
    Kind kind = Kind::Running;  // Running: still running when the watch ended
    int value = 0;              // exit status or signal number
    Failure failure;            // NotStarted: why (ProgramNotFound, NotExecutable, exec's errno, ...)
    bool Failed() const { return kind != Kind::Running && !(kind == Kind::Exited && value == 0); }
};

// A program this process has started, which stays its child until TakeEnd has reaped it: its
// process id and a pidfd that becomes readable when it ends (none on a kernel before 5.3, which
// has no pidfd_open: then only TakeEnd tells, when asked). Dropping one that still runs
// leaves the program running (it goes to init when this process ends); whoever keeps a
// program for the life of the process keeps this until it has ended.
class StartedProgram {
public:
    StartedProgram(pid_t pid, UniqueFd pidfd) : m_pid(pid), m_pidfd(std::move(pidfd)) {}
    StartedProgram(StartedProgram&& other) noexcept
        : m_pid(std::exchange(other.m_pid, -1)), m_pidfd(std::move(other.m_pidfd)) {}
    StartedProgram& operator=(StartedProgram&& other) noexcept {
        m_pid = std::exchange(other.m_pid, -1);
        m_pidfd = std::move(other.m_pidfd);
        return *this;
    }

    pid_t Pid() const { return m_pid; }
    // Readable once the program has ended; -1 once it has been reaped, or without a pidfd.
    int EndFd() const { return m_pidfd.get(); }
    // How the program ended, reaping it; Running while it still runs.
    ProgramEnd TakeEnd();
    // TakeEnd once the program has ended or the bound has passed.
    ProgramEnd WaitEnd(std::chrono::milliseconds bound);

private:
    pid_t m_pid = -1;
    UniqueFd m_pidfd;
};

// Starts argv (argv[0] looked up on PATH when it has no slash) without a shell, in a session of
// its own with default signal handling and no blocked signals, with this process's standard
// streams, environment and working folder and none of its other descriptors, and without
// capabilities (unless this process runs as root: see WarnStartedAsRoot); does not wait for it.
// The Failure when it did not run: EmptyCommandLine, ProgramNotFound, NotExecutable, or the
// errno exec gave.
Result<StartedProgram> SpawnProgram(const std::vector<std::string>& argv);

// Called for every program this process has started (SpawnProgram calls it itself): when the
// process runs as root, the program does too, with every capability, so the first one of the
// run gets a Warning line naming it. True when it wrote that line.
bool WarnStartedAsRoot(const std::string& program);

// Splits and starts a command line directly (a windowed program such as a browser).
// On failure writes a Warning line to the log with the reason and the command line:
// Could not start (<reason>): "<command line>".
Result<StartedProgram> StartCommandLine(const std::string& commandLine);

// Splits and starts a console command line inside a terminal window ($TERMINAL, else
// x-terminal-emulator, else the first of gnome-terminal, konsole, xfce4-terminal, xterm on
// PATH; a program that is itself one of those terminals runs directly). The program is looked
// up first, so a missing one is reported rather than flashed in a terminal. On failure writes
// the same Warning line as StartCommandLine (NoTerminal among the reasons).
Result<StartedProgram> StartInTerminal(const std::string& commandLine);
// The argument vector StartInTerminal runs for the command line, or why there is none (with the
// same Warning line).
Result<std::vector<std::string>> TerminalArgv(const std::string& commandLine);
// Writes the Warning line of a program that could not be started:
// Could not start (<reason>): "<command line>".
void LogStartFailure(const std::string& commandLine, const Failure& reason);
// Writes the Warning line of a watched program that failed: LogStartFailure's when it never ran;
// one that ran and ended in failure within the watch gets
// Started, then exited with status <N>: "<command line>" (or "ended by signal <N>").
void LogProgramFailure(const std::string& commandLine, const ProgramEnd& end);
