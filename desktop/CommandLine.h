#pragma once
// Starting the user's own programs from a command line, with no shell in between.
#include <string>
#include <vector>

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
    int value = 0;              // exit status, signal number, or errno for NotStarted
    std::string reason;         // NotStarted: why ("not found", strerror text, ...)
    bool Failed() const { return kind != Kind::Running && !(kind == Kind::Exited && value == 0); }
};

// A started program's watcher: the descriptor its one report arrives on, and its process.
struct ProgramWatch {
    int reportFd = -1;
    int watcherPid = -1;
};

// Starts argv as StartDetached does, through a watcher process that stays for at most watchMs
// to learn whether the program ended (and how) and then writes one report to reportFd. False
// with the reason when nothing could be started (program not found, no process).
bool StartWatched(const std::vector<std::string>& argv, int watchMs, ProgramWatch* watch,
                  std::string* reason);
// Reads the watcher's report (waiting for it when it has not come yet), closes the descriptor
// and reaps the watcher.
ProgramEnd FinishWatch(ProgramWatch& watch);

// Starts argv (argv[0] looked up on PATH when it has no slash) detached, without a shell,
// without capabilities (unless this process runs as root: see WarnStartedAsRoot), in the
// program's working directory; does not wait for it.
// False with a short reason ("not found", "not executable", strerror text, ...) when it could
// not be started.
bool StartDetached(const std::vector<std::string>& argv, std::string* reason = nullptr);

// Called for every program this process has started (StartDetached calls it itself): when the
// process runs as root, the program does too, with every capability, so the first one of the
// run gets a Warning line naming it. True when it wrote that line.
bool WarnStartedAsRoot(const std::string& program);

// Splits and starts a command line directly (a windowed program such as a browser).
// On failure writes a Warning line to the log with the reason and the command line:
// Could not start (<reason>): "<command line>".
bool StartCommandLine(const std::string& commandLine, std::string* reason = nullptr);

// Splits and starts a console command line inside a terminal window ($TERMINAL, else
// x-terminal-emulator, else the first of gnome-terminal, konsole, xfce4-terminal, xterm on
// PATH; a program that is itself one of those terminals runs directly). The program is looked
// up first, so a missing one is reported rather than flashed in a terminal. On failure writes
// the same Warning line as StartCommandLine ("no terminal" among the reasons).
bool StartInTerminal(const std::string& commandLine, std::string* reason = nullptr);
// The argument vector StartInTerminal runs for the command line: false with the reason (and the
// same Warning line) when there is none.
bool TerminalArgv(const std::string& commandLine, std::vector<std::string>* argv, std::string* reason);
// Writes the Warning line of a program that could not be started:
// Could not start (<reason>): "<command line>".
void LogStartFailure(const std::string& commandLine, const std::string& reason);
// Writes the Warning line of a watched program that failed: LogStartFailure's when it never ran;
// one that ran and ended in failure within the watch gets
// Started, then exited with status <N>: "<command line>" (or "ended by signal <N>").
void LogProgramFailure(const std::string& commandLine, const ProgramEnd& end);
