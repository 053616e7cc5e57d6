#pragma once
// Where the running program lives, for messages that tell an administrator what to run.
#include <string>

// The absolute path of the running program file (without the " (deleted)" the kernel adds once
// the file was replaced), or an empty text when it cannot be read.
std::string GetProgramFilePath();
// The text as one word for a POSIX shell: unchanged when it holds only harmless characters,
// otherwise in single quotes.
std::string ShellQuoted(const std::string& text);
