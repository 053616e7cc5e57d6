#pragma once
// Where oldiscovery-scan's output goes: standard output (which a signal may cut short), the
// --output file, and the lines of watch events, with a priority when the journal reads them.
#include <string>
#include <string_view>
#include <vector>

#include "engine/DeviceWatch.h"

// How a write to standard output ended.
enum class Written { All, Signal, Failed };

// Writes all of text to standard output; a signal read from signalFd (-1: none) ends the wait
// for a slow reader at once. A failure is said on stderr (a closed pipe too: SIGPIPE is ignored).
Written WriteOutput(std::string_view text, int signalFd = -1);

// Replaces the --output file with text; false, said on stderr, when it could not be.
bool WriteOutputFile(const std::string& path, std::string_view text);

// True when standard output is the journal (systemd names its stream in JOURNAL_STREAM as
// "device:inode"): then each line may start with a syslog priority.
bool OutputIsJournal();

// The watch events as lines, each with its sd-daemon priority when journal is set.
std::string WatchEventLines(const std::vector<WatchEvent>& events, bool journal);
