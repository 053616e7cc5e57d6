#pragma once
// Where the running program lives, for messages that tell an administrator what to run.
#include <string>

#include "base/Error.h"

// The absolute path of the running program file (without the " (deleted)" the kernel adds once
// the file was replaced), or why it cannot be read.
Result<std::string> GetProgramFilePath();
// The text as one word for a POSIX shell: unchanged when it holds only harmless characters,
// otherwise in single quotes.
std::string ShellQuoted(const std::string& text);
