#include "base/SafeFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <string_view>

namespace {

Failure OwnerRefusal(const struct stat& st) {
    if (st.st_uid != ::geteuid())
        return Failure(Errc::OwnedByOtherUser, {}, static_cast<long>(st.st_uid));
    return {};
}

// Why an existing file must not be replaced; empty when it may.
Failure ExistingFileRefusal(const struct stat& st) {
    if (S_ISLNK(st.st_mode))
        return Errc::SymbolicLink;
    if (S_ISDIR(st.st_mode))
        return ErrnoFailure(EISDIR);
    // Replacing a device or a FIFO would turn it into a plain file (as root, /dev/null too).
    if (!S_ISREG(st.st_mode))
        return Errc::NotRegularFile;
    return OwnerRefusal(st);
}

void SplitInto(const std::string& path, std::deque<std::string>& parts) {
    std::deque<std::string> found;
    for (std::size_t at = 0; at <= path.size();) {
        std::size_t slash = path.find('/', at);
        if (slash == std::string::npos)
            slash = path.size();
        if (slash > at)
            found.push_back(path.substr(at, slash - at));
        at = slash + 1;
    }
    parts.insert(parts.begin(), found.begin(), found.end());
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

// "<name>.<random>.tmp" within NAME_MAX: not guessable by another user who could plant it first,
// and not ending like the real name (the node exporter reads *.prom).
std::string TemporaryName(const std::string& name) {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char random[8] = {};
    if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random))
        for (unsigned char& byte : random)
            byte = static_cast<unsigned char>(std::rand());
    std::string suffix = ".";
    for (unsigned char byte : random)
        suffix += kLetters[byte % (sizeof kLetters - 1)];
    suffix += ".tmp";
    return name.substr(0, NAME_MAX - suffix.size()) + suffix;
}

// How long a temporary of a write may stand before it counts as left by a write that was killed.
constexpr time_t kStaleTemporarySeconds = 600;

// Removes what writes of name killed before their rename left in the folder: temporaries of
// TemporaryName's shape, of this user, untouched for kStaleTemporarySeconds (younger ones may be
// another writer's, still at work).
void RemoveStaleTemporaries(int folder, const std::string& name) {
    const std::string shape = TemporaryName(name);
    const std::string stem = shape.substr(0, shape.size() - 12);  // up to the dot before the random part
    DIR* dir = ::fdopendir(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir)
        return;
    const time_t stale = ::time(nullptr) - kStaleTemporarySeconds;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view found = entry->d_name;
        struct stat st {};
        if (found.size() == shape.size() && found.starts_with(stem) && found.ends_with(".tmp") &&
            ::fstatat(folder, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
            st.st_uid == ::geteuid() && st.st_mtime < stale)
            ::unlinkat(folder, entry->d_name, 0);
    }
    ::closedir(dir);
}

}  // namespace

Failure WriteRefusal(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return {};  // nothing there yet, or the write itself will name the problem
    if (S_ISLNK(st.st_mode))
        return Errc::SymbolicLink;
    return OwnerRefusal(st);
}

int SafeFileOps::Fsync(int fd) {
    return ::fsync(fd);
}

int SafeFileOps::Rename(int folder, const char* from, const char* to) {
    return ::renameat(folder, from, folder, to);
}

SafeFileOps& SafeFileOps::System() {
    static SafeFileOps ops;
    return ops;
}

Result<UniqueFd> OpenFolderSafely(const std::string& path) {
    std::deque<std::string> parts;
    SplitInto(path, parts);
    UniqueFd folder(::open(path.starts_with('/') ? "/" : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    std::string walked = path.starts_with('/') ? "" : ".";
    int links = 0;
    while (folder && !parts.empty()) {
        const std::string part = std::move(parts.front());
        parts.pop_front();
        if (part == ".")
            continue;
        if (UniqueFd next(
                ::openat(folder.get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            next) {
            folder = std::move(next);
            walked += "/" + part;
            continue;
        }
        struct stat st {};
        if ((errno != ELOOP && errno != ENOTDIR) ||
            ::fstatat(folder.get(), part.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(st.st_mode))
            return LastErrno();
        // A user who owns a folder on the way could point a link of theirs anywhere, also into
        // folders only root may write.
        if (st.st_uid != 0 && st.st_uid != ::geteuid())
            return Failure(Errc::LinkOfOtherUser, walked + "/" + part, static_cast<long>(st.st_uid));
        char target[PATH_MAX];
        const ssize_t length = ::readlinkat(folder.get(), part.c_str(), target, sizeof target - 1);
        if (length <= 0 || ++links > 40)
            return ErrnoFailure(length <= 0 ? errno : ELOOP);
        target[length] = '\0';
        if (target[0] == '/')
            folder.reset(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        SplitInto(target, parts);
        walked += "/" + part;
    }
    if (!folder)
        return LastErrno();
    return folder;
}

Result<UniqueFd> OpenParentSafely(const std::string& path, std::string& name) {
    const std::size_t slash = path.rfind('/');
    name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty() || name == "." || name == "..")
        return Errc::IsFolder;
    return OpenFolderSafely(slash == std::string::npos ? "." : path.substr(0, slash + 1));
}

Failure FolderWriteRefusal(int folder) {
    struct stat st {};
    if (::fstat(folder, &st) != 0)
        return LastErrno();
    // Whoever may rename entries of the folder decides what a reader finds there.
    if (st.st_uid != 0 && st.st_uid != ::geteuid())
        return Failure(Errc::FolderOwnedByOtherUser, {}, static_cast<long>(st.st_uid));
    if ((st.st_mode & S_IWOTH) && !(st.st_mode & S_ISVTX))
        return Errc::FolderWritableByAll;
    return {};
}

Failure WriteFileAtomically(const std::string& path, std::string_view data, mode_t mode, SafeFileOps& ops) {
    std::string name;
    Result<UniqueFd> opened = OpenParentSafely(path, name);
    if (!opened)
        return opened.Error();
    const UniqueFd folder = std::move(*opened);
    if (Failure refusal = FolderWriteRefusal(folder.get()))
        return refusal;
    struct stat st {};
    if (::fstatat(folder.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (Failure refusal = ExistingFileRefusal(st))
            return refusal;
    } else if (errno != ENOENT) {
        return LastErrno();
    }

    RemoveStaleTemporaries(folder.get(), name);
    // A file without a name while it is written where the file system has them: a write killed
    // half way leaves nothing behind. Elsewhere a named temporary, cleared by a later write.
    UniqueFd fd(::openat(folder.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
    const bool unnamed = static_cast<bool>(fd);
    std::string temp;
    for (int attempt = 0; !fd && attempt < 100; ++attempt) {
        temp = TemporaryName(name);
        fd.reset(
            ::openat(folder.get(), temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd && errno != EEXIST)
            break;
    }
    if (!fd)
        return LastErrno();
    auto abandon = [&](int error) {
        fd.reset();
        if (!temp.empty())
            ::unlinkat(folder.get(), temp.c_str(), 0);
        return ErrnoFailure(error);
    };
    // fchmod, not the open mode: the umask must not decide what readers of the folder may see.
    // The data reach the disk before the name does, or a crash could leave an empty file.
    if (!WriteAll(fd.get(), data) || ::fchmod(fd.get(), mode) != 0 || ops.Fsync(fd.get()) != 0)
        return abandon(errno);
    // Named once whole, through /proc: linkat of the descriptor itself needs CAP_DAC_READ_SEARCH.
    const std::string self = "/proc/self/fd/" + std::to_string(fd.get());
    for (int attempt = 0; unnamed && temp.empty() && attempt < 100; ++attempt) {
        temp = TemporaryName(name);
        if (::linkat(AT_FDCWD, self.c_str(), folder.get(), temp.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            const int error = errno;
            temp.clear();
            if (error != EEXIST)
                return abandon(error);
        }
    }
    if (temp.empty())
        return abandon(EEXIST);
    if (::close(fd.release()) != 0)
        return abandon(errno);
    if (ops.Rename(folder.get(), temp.c_str(), name.c_str()) != 0)
        return abandon(errno);
    // The rename itself survives a crash only once the folder is on disk too.
    ops.Fsync(folder.get());
    return {};
}

Result<std::optional<std::string>> ReadOwnFile(const std::string& path, std::size_t maxBytes) {
    using Contents = std::optional<std::string>;
    std::string name;
    Result<UniqueFd> opened = OpenParentSafely(path, name);
    if (!opened) {
        // A folder that is not there holds no file either.
        if (opened.Error().code == std::errc::no_such_file_or_directory)
            return Contents();
        return opened.Error();
    }
    const UniqueFd folder = std::move(*opened);
    // Not even for reading through a link: a link here is someone else's choice of file.
    UniqueFd fd(::openat(folder.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        if (errno == ENOENT)
            return Contents();
        if (errno == ELOOP)
            return Failure(Errc::SymbolicLink);
        // Read without the capability to pass over permissions, another user's file is refused
        // for its owner all the same.
        const int error = errno;
        struct stat st {};
        if (error == EACCES && ::fstatat(folder.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
            if (Failure refusal = OwnerRefusal(st))
                return refusal;
        return ErrnoFailure(error);
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        return LastErrno();
    if (!S_ISREG(st.st_mode))
        return Failure(Errc::NotRegularFile);
    if (Failure refusal = OwnerRefusal(st))
        return refusal;
    if (static_cast<std::uintmax_t>(st.st_size) > maxBytes)
        return ErrnoFailure(EFBIG);
    std::string data;
    char buffer[65536];
    for (;;) {
        const ssize_t n = TEMP_FAILURE_RETRY(::read(fd.get(), buffer, sizeof buffer));
        if (n < 0)
            return LastErrno();
        if (n == 0)
            return Contents(std::move(data));
        // It may grow while it is read.
        if (data.size() + static_cast<std::size_t>(n) > maxBytes)
            return ErrnoFailure(EFBIG);
        data.append(buffer, static_cast<std::size_t>(n));
    }
}
