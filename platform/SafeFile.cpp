#include "platform/SafeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/UniqueFd.h"

std::string WriteRefusal(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return {};  // nothing there yet, or the write itself will name the problem
    if (S_ISLNK(st.st_mode))
        return "it is a symbolic link";
    if (st.st_uid != ::geteuid())
        return "it belongs to another user (uid " + std::to_string(st.st_uid) + ")";
    return {};
}

namespace {

bool Fail(std::string* reason, std::string text) {
    if (reason)
        *reason = std::move(text);
    return false;
}

std::string FolderOf(const std::string& path) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = TEMP_FAILURE_RETRY(::write(fd, data.data(), data.size()));
        if (n <= 0)
            return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, std::string_view data, mode_t mode, std::string* reason) {
    if (std::string refusal = WriteRefusal(path); !refusal.empty())
        return Fail(reason, refusal);
    // The pid keeps two writers apart; a name that does not end like the real one keeps
    // folder readers (the node exporter reads *.prom) away from the file being written.
    std::string temp = path + "." + std::to_string(::getpid()) + ".tmp";
    UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd)
        return Fail(reason, std::strerror(errno));
    auto abandon = [&](int error) {
        fd.reset();
        ::unlink(temp.c_str());
        return Fail(reason, std::strerror(error));
    };
    // fchmod, not the open mode: the umask must not decide what readers of the folder may see.
    if (!WriteAll(fd.get(), data) || ::fchmod(fd.get(), mode) != 0 || ::fsync(fd.get()) != 0)
        return abandon(errno);
    if (::close(fd.release()) != 0)
        return abandon(errno);
    if (::rename(temp.c_str(), path.c_str()) != 0)
        return abandon(errno);
    // The rename itself survives a crash only once the folder is on disk too.
    if (UniqueFd folder(::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)); folder)
        ::fsync(folder.get());
    return true;
}

std::string ReadOwnFile(const std::string& path, std::string& data, bool* exists) {
    // Not even for reading through a link: a link here is someone else's choice of file.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (exists)
        *exists = fd || errno != ENOENT;
    if (!fd) {
        if (errno == ENOENT)
            return {};
        return errno == ELOOP ? "it is a symbolic link" : std::strerror(errno);
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        return std::strerror(errno);
    if (!S_ISREG(st.st_mode))
        return "it is not a regular file";
    if (st.st_uid != ::geteuid())
        return "it belongs to another user (uid " + std::to_string(st.st_uid) + ")";
    data.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t n = TEMP_FAILURE_RETRY(::read(fd.get(), buffer, sizeof buffer));
        if (n < 0)
            return std::strerror(errno);
        if (n == 0)
            return {};
        data.append(buffer, static_cast<std::size_t>(n));
    }
}
