#include "formats/KnownDevicesLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/SafeFile.h"

Result<UniqueFd> LockKnownDevicesFile(const std::string& path) {
    std::string name;
    Result<UniqueFd> folder = OpenParentSafely(path, name);
    if (!folder)
        return folder.Error();
    name += ".lock";
    UniqueFd lock(
        ::openat(folder->get(), name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    const auto lastErrno = [&name] { return Failure(std::error_code(errno, std::generic_category()), name); };
    if (!lock)
        return errno == ELOOP ? Failure(Errc::SymbolicLink, name) : lastErrno();
    struct stat st {};
    if (::fstat(lock.get(), &st) != 0)
        return lastErrno();
    if (!S_ISREG(st.st_mode))
        return Failure(Errc::NotRegularFile, name);
    if (st.st_uid != ::geteuid())
        return Failure(Errc::OwnedByOtherUser, name, static_cast<long>(st.st_uid));
    while (::flock(lock.get(), LOCK_EX) != 0) {
        if (errno != EINTR)
            return lastErrno();
    }
    return lock;
}
