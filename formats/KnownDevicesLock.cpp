#include "formats/KnownDevicesLock.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/SafeFile.h"
#include "res/FailureText.h"

namespace {

// Who holds the lock on the open file, as the kernel lists it: "process PID (NAME)", or "another
// process" when it does not say.
std::string LockHolder(int fd) {
    struct stat st {};
    std::FILE* locks = std::fopen("/proc/locks", "re");
    if (!locks || ::fstat(fd, &st) != 0) {
        if (locks)
            std::fclose(locks);
        return "another process";
    }
    char line[256], kind[16];
    long pid = 0;
    unsigned major = 0, minor = 0;
    unsigned long inode = 0;
    std::string holder = "another process";
    while (std::fgets(line, sizeof line, locks))
        // "1: FLOCK  ADVISORY  WRITE 1234 08:01:5678 0 EOF"; a waiter's line has "->" after the number.
        if (std::sscanf(line, "%*d: %15s %*s %*s %ld %x:%x:%lu", kind, &pid, &major, &minor, &inode) == 5 &&
            std::strcmp(kind, "FLOCK") == 0 && inode == st.st_ino && major == ::major(st.st_dev) &&
            minor == ::minor(st.st_dev) && pid > 0) {
            holder = "process " + std::to_string(pid);
            char name[64] = "";
            if (std::FILE* comm = std::fopen(("/proc/" + std::to_string(pid) + "/comm").c_str(), "re")) {
                if (std::fgets(name, sizeof name, comm))
                    holder += " (" + std::string(name, std::strcspn(name, "\n")) + ")";
                std::fclose(comm);
            }
            break;
        }
    std::fclose(locks);
    return holder;
}

}  // namespace

UniqueFd LockKnownDevices(const std::string& path, std::string& reason, int stopFd,
                          std::chrono::milliseconds wait, bool* held) {
    std::string name;
    Result<UniqueFd> folder = OpenParentSafely(path, name);
    if (!folder) {
        reason = FailureText(folder.Error());
        return {};
    }
    // Nothing is made beside another user's state: root's lock file there would lock its owner out.
    if (const Failure refused = WriteRefusal(path)) {
        reason = FailureText(refused);
        return {};
    }
    name += ".lock";
    UniqueFd lock(
        ::openat(folder->get(), name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    struct stat st {};
    if (!lock || ::fstat(lock.get(), &st) != 0) {
        reason = name + ": " + (errno == ELOOP ? "a symbolic link" : std::strerror(errno));
        return {};
    }
    // Another user's lock file could be held by them for good.
    if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        reason = name + ": not a regular file of this user";
        return {};
    }
    // A holder lets go when it closes the file: woken by that, tried again, up to the bound.
    UniqueFd closes(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (closes)
        ::inotify_add_watch(closes.get(), ("/proc/self/fd/" + std::to_string(lock.get())).c_str(), IN_CLOSE);
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        if (::flock(lock.get(), LOCK_EX | LOCK_NB) == 0)
            return lock;
        if (errno != EWOULDBLOCK && errno != EINTR) {
            reason = name + ": " + std::strerror(errno);
            return {};
        }
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd fds[2] = {{closes.get(), POLLIN, 0}, {stopFd, POLLIN, 0}};
        if (::poll(fds, 2, static_cast<int>(left.count())) > 0 && fds[1].revents) {
            reason = name + ": a signal ended the wait for it";
            return {};
        }
        char events[4096];
        while (closes && ::read(closes.get(), events, sizeof events) > 0) {
        }
    }
    reason = name + ": held by " + LockHolder(lock.get());
    if (wait.count() > 0)
        reason += " for more than " +
                  std::to_string(std::chrono::duration_cast<std::chrono::seconds>(wait).count()) + " s";
    if (held)
        *held = true;
    return {};
}
