#pragma once
// Writing files that other people and programs read: never through a symbolic link, never into
// a file that belongs to another user, never half a file.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/Error.h"
#include "base/UniqueFd.h"

// Why path must not be written by this process, empty when it may: it is a symbolic link
// (Errc::SymbolicLink), or it exists and the effective user does not own it
// (Errc::OwnedByOtherUser). A path that does not exist yet may be.
Failure WriteRefusal(const std::string& path);

// The calls of an atomic write whose order and failures decide what survives a crash; a test
// puts its own in place to see them or make them fail.
class SafeFileOps {
public:
    virtual ~SafeFileOps() = default;
    virtual int Fsync(int fd);
    virtual int Rename(int folder, const char* from, const char* to);
    static SafeFileOps& System();
};

// The folder path names, opened without following a symbolic link that a user other than root
// and the effective user made (a link root made, such as /var/run, is the system's own;
// Errc::LinkOfOtherUser names the other's link).
Result<UniqueFd> OpenFolderSafely(const std::string& path);
// The folder of path, walked as OpenFolderSafely does, and the file's name in it (a path that
// names no file in a folder: Errc::IsFolder).
Result<UniqueFd> OpenParentSafely(const std::string& path, std::string& name);
// Why a file may not be written into the open folder: it belongs to another user, not root
// (Errc::FolderOwnedByOtherUser), or every user may write it without the sticky bit
// (Errc::FolderWritableByAll); empty when it may.
Failure FolderWriteRefusal(int folder);

// Replaces path with data in one step: a temporary file of a random name beside it (created
// exclusively, never through a link), written, flushed to disk, given mode, then renamed over
// path, all through a descriptor of the folder. A reader sees the old file or the new one, never
// a part. Refused: a path that is not a regular file (a device, a FIFO), a folder that another
// user owns or that every user may write without the sticky bit. On failure path is left as it
// was, the temporary file is removed, and the Failure says why.
Failure WriteFileAtomically(const std::string& path, std::string_view data, mode_t mode = 0644,
                            SafeFileOps& ops = SafeFileOps::System());

// The whole of path when it is a regular file of the effective user, opened without following a
// symbolic link; nothing when it does not exist (nor its folder), which is no error. A file longer
// than maxBytes is refused (EFBIG) before it costs the memory.
Result<std::optional<std::string>> ReadOwnFile(const std::string& path, std::size_t maxBytes = SIZE_MAX);
