#include "OutputSinks.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/SafeFile.h"
#include "formats/WatchOutput.h"
#include "res/FailureText.h"

Written WriteOutput(std::string_view text, int signalFd) {
    const int flags = ::fcntl(STDOUT_FILENO, F_GETFL);
    // Nonblocking only while writing, so poll, not write, waits for room and sees the signal.
    const bool toggled =
        flags >= 0 && !(flags & O_NONBLOCK) && ::fcntl(STDOUT_FILENO, F_SETFL, flags | O_NONBLOCK) == 0;
    Written result = Written::All;
    while (!text.empty() && result == Written::All) {
        const ssize_t n = ::write(STDOUT_FILENO, text.data(), text.size());
        if (n > 0) {
            text.remove_prefix(static_cast<std::size_t>(n));
        } else if (n < 0 && errno == EAGAIN) {
            pollfd fds[2] = {{STDOUT_FILENO, POLLOUT, 0}, {signalFd, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0 && errno != EINTR)
                result = Written::Failed;
            else if (fds[1].revents)
                result = Written::Signal;
        } else if (n == 0 || errno != EINTR) {
            result = Written::Failed;
        }
    }
    const int error = errno;
    if (toggled)
        ::fcntl(STDOUT_FILENO, F_SETFL, flags);
    if (result == Written::Failed)
        std::fprintf(stderr, "oldiscovery-scan: cannot write the output: %s\n", std::strerror(error));
    return result;
}

bool WriteOutputFile(const std::string& path, std::string_view text) {
    const Failure failed = WriteFileAtomically(path, text, 0644);
    if (!failed)
        return true;
    std::fprintf(stderr, "oldiscovery-scan: cannot write %s: %s\n", path.c_str(), FailureText(failed).c_str());
    return false;
}

bool OutputIsJournal() {
    const char* stream = std::getenv("JOURNAL_STREAM");
    struct stat st {};
    unsigned long long device = 0, inode = 0;
    return stream && std::sscanf(stream, "%llu:%llu", &device, &inode) == 2 &&
           ::fstat(STDOUT_FILENO, &st) == 0 && static_cast<unsigned long long>(st.st_dev) == device &&
           static_cast<unsigned long long>(st.st_ino) == inode;
}

namespace {

// The sd-daemon priority of a watch event: what went or changed is a warning, a new device a notice.
const char* JournalPriority(WatchEvent::Kind kind) {
    return kind == WatchEvent::Kind::Appeared ? "<5>" : "<4>";
}

}  // namespace

std::string WatchEventLines(const std::vector<WatchEvent>& events, bool journal) {
    std::string lines;
    for (const WatchEvent& event : events)
        lines += (journal ? JournalPriority(event.kind) : "") + FormatWatchEvent(event);
    return lines;
}
