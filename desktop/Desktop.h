#pragma once
// The desktop's own services: its URL opener, the programs the user's actions start, and its
// clipboard.
#include <functional>
#include <string>
#include <vector>

#include "desktop/CommandLine.h"

class QObject;
class QUrl;

// How long a started program is watched for a failure: long enough for an opener to find no
// handler or a terminal to find no display, short enough to still belong to the user's click.
constexpr int kProgramWatchMs = 5000;

// Told, on the UI thread, how a started program fared: the program as the user knows it (the
// first word of its command line) and how it ended, or that it still ran when the watch ended.
using ProgramOutcome = std::function<void(const std::string& program, const ProgramEnd& end)>;

// Starts argv and reports through done once the program has ended or the watch (watchMs) is
// over, whichever comes first; a program that cannot be started at all is reported as well, from
// the event loop, never before this returns. A failure gets the Warning line of
// LogProgramFailure with commandLine. done is dropped when context goes first. The program is
// watched through its pidfd on this thread's event loop and reaped whenever it ends, during the
// watch or long after.
void StartProgram(const std::vector<std::string>& argv, const std::string& commandLine, QObject* context,
                  ProgramOutcome done, int watchMs = kProgramWatchMs);

// Starts a command line as StartCommandLine does, unwatched: the application keeps the program
// and reaps it whenever it ends. Why it did not start, after the Warning line.
Failure LaunchCommandLine(const std::string& commandLine);

// Hands the URL to the desktop's opener, xdg-open (which honours $BROWSER), and reports as
// StartProgram does: an opener that exits with a failure has not opened it. Without xdg-open
// Qt's own search for a browser takes it, and done learns only whether one was found.
void OpenWithDesktop(const QUrl& url, QObject* context, ProgramOutcome done);

// The same for an address given as text.
void OpenUrl(const std::string& address, QObject* context, ProgramOutcome done);

// Starts a console command line in a terminal window (TerminalArgv) and reports as StartProgram.
void StartInTerminalWatched(const std::string& commandLine, QObject* context, ProgramOutcome done);

// Puts the text on the clipboard as plain text, exactly as given.
void SetClipboardText(const std::string& text);
