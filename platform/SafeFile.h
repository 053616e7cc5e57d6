#pragma once
// Writing files that other people and programs read: never through a symbolic link, never into
// a file that belongs to another user, never half a file.
#include <sys/types.h>

#include <string>
#include <string_view>

// Why path must not be written by this process, or "" when it may: it is a symbolic link, or
// it exists and the effective user does not own it. A path that does not exist yet may be.
std::string WriteRefusal(const std::string& path);

// Replaces path with data in one step: a temporary file beside it (created exclusively, never
// through a link), written, flushed to disk, given mode, then renamed over path. A reader sees
// the old file or the new one, never a part. On failure path is left as it was, the temporary
// file is removed, and the result is false with the reason in *reason (when given).
bool WriteFileAtomically(const std::string& path, std::string_view data, mode_t mode = 0644,
                         std::string* reason = nullptr);

// Reads path whole into data when it is a regular file of the effective user, opened without
// following a symbolic link: "" then, or why it is refused or could not be read. A path that does
// not exist is no error: *exists (when given) tells.
std::string ReadOwnFile(const std::string& path, std::string& data, bool* exists = nullptr);
