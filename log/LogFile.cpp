#include "log/LogFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <fcntl.h>
#include <memory>
#include <new>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

int CLogFileOps::Open(const char* fileName) {
    // O_NONBLOCK: a FIFO or a device must not hold the open; it is refused once it is open.
    return TEMP_FAILURE_RETRY(::open(fileName, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644));
}

int CLogFileOps::Lock(int fd) {
    return TEMP_FAILURE_RETRY(::flock(fd, LOCK_EX | LOCK_NB));
}

off_t CLogFileOps::Size(int fd) {
    struct stat st;
    return ::fstat(fd, &st) == 0 ? st.st_size : -1;
}

ssize_t CLogFileOps::ReadAt(int fd, void* buf, size_t count, off_t offset) {
    return ::pread(fd, buf, count, offset);
}

ssize_t CLogFileOps::WriteAt(int fd, const void* buf, size_t count, off_t offset) {
    return ::pwrite(fd, buf, count, offset);
}

int CLogFileOps::Truncate(int fd, off_t length) {
    return ::ftruncate(fd, length);
}

int CLogFileOps::Close(int fd) {
    // Linux releases the descriptor even when close reports an error, so it is never retried.
    return ::close(fd);
}

CLogFileOps& CLogFileOps::Posix() {
    // Never destroyed: the application object closes the log from its destructor, which runs
    // among the static destructors, after a function-local static of this file would be gone.
    static CLogFileOps* ops = new CLogFileOps;
    return *ops;
}

CLogFile::CLogFile(CLogFileOps& ops) : m_ops(ops) {}

CLogFile::~CLogFile() {
    Close();
    m_nMaxSize.store(0, std::memory_order_relaxed);
}

void CLogFile::Refuse(const char* fileName, const std::string& reason) {
    // The log cannot carry its own refusal; said once, however often the log tries again.
    if (m_bRefusalSaid)
        return;
    m_bRefusalSaid = true;
    std::fprintf(stderr, "%s: Warning: log file %s not used: %s\n", program_invocation_short_name, fileName,
                 reason.c_str());
}

void CLogFile::Open(const char* fileName) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (!fileName || m_bOpen.load(std::memory_order_relaxed))
        return;
    int fd = m_ops.Open(fileName);
    if (fd < 0) {
        if (errno == ELOOP)
            Refuse(fileName, "it is a symbolic link");
        return;
    }
    // Another user's file (root started in someone's folder, or a file planted for it) is
    // neither written nor cut short.
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        m_ops.Close(fd);
        return;
    }
    // A block device would take the lines over its first sectors.
    if (!S_ISREG(st.st_mode)) {
        m_ops.Close(fd);
        Refuse(fileName, "it is not a regular file");
        return;
    }
    if (st.st_uid != ::geteuid()) {
        m_ops.Close(fd);
        Refuse(fileName, "it belongs to another user (uid " + std::to_string(st.st_uid) + ")");
        return;
    }
    // Held by another writer (a second instance): counts as a failed open.
    if (m_ops.Lock(fd) != 0) {
        m_ops.Close(fd);
        return;
    }
    m_fd = fd;
    m_strName = fileName;
    m_bOpen.store(true, std::memory_order_release);
}

void CLogFile::Close() {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (!m_bOpen.load(std::memory_order_relaxed))
        return;
    m_ops.Close(m_fd);  // an error here is discarded: the file counts as closed
    m_fd = -1;
    m_bOpen.store(false, std::memory_order_release);
}

void CLogFile::SetMaxSize(uint32_t bytes) {
    m_nMaxSize.store(bytes > MAX_SIZE_LIMIT ? MAX_SIZE_LIMIT : bytes, std::memory_order_relaxed);
}

bool CLogFile::WriteAll(const char* buf, size_t count, off_t offset) {
    while (count > 0) {
        const ssize_t n = TEMP_FAILURE_RETRY(m_ops.WriteAt(m_fd, buf, count, offset));
        if (n <= 0)
            return false;
        buf += n;
        count -= static_cast<size_t>(n);
        offset += n;
    }
    return true;
}

namespace {

// True when the bytes begin like a line of this log: its time stamp "YYYY-MM-DDTHH:MM:SS", a
// blank, and a level name padded to nine columns after one more blank. A line whose clock could
// not be read has no stamp; it proves nothing, so only a stamped line makes a file this log's.
bool StartsLikeLogLine(std::string_view text) {
    static constexpr std::string_view kStamp = "dddd-dd-ddTdd:dd:dd  ";
    if (text.size() < kStamp.size())
        return false;
    for (size_t i = 0; i < kStamp.size(); ++i)
        if (kStamp[i] == 'd' ? (text[i] < '0' || text[i] > '9') : text[i] != kStamp[i])
            return false;
    text.remove_prefix(kStamp.size());
    for (std::string_view level : {"Error    ", "Warning  ", "Info     ", "Debug    "})
        if (text.starts_with(level))
            return true;
    return false;
}

// Where the first line of this log that follows a line feed begins, or npos. Lines before it may
// be a fragment: the tail of a line cut by an earlier shrink, or of an entry that older builds
// broke with a bare line feed.
size_t FirstLineAfterBreak(std::string_view text) {
    for (size_t at = text.find('\n'); at != text.npos; at = text.find('\n', at + 1))
        if (StartsLikeLogLine(text.substr(at + 1)))
            return at + 1;
    return text.npos;
}

// A line of this log, its CR LF included, is at most 255 bytes: a fragment at the head of a file
// this log wrote ends within them, and the next line's time stamp follows.
constexpr size_t kHeadBytes = 320;

}  // namespace

bool CLogFile::Shrink() {
    off_t length = m_ops.Size(m_fd);
    uint32_t maxSize = m_nMaxSize.load(std::memory_order_relaxed);
    if (length < 0 || length <= static_cast<off_t>(maxSize))
        return true;
    // Only a file this log wrote is cut: anything else named by mistake keeps every byte.
    char head[kHeadBytes];
    const ssize_t headLength = TEMP_FAILURE_RETRY(m_ops.ReadAt(m_fd, head, sizeof head, 0));
    if (headLength < 0)
        return true;  // nothing changed yet: keep the file as it is
    const std::string_view headText(head, static_cast<size_t>(headLength));
    if (!StartsLikeLogLine(headText) && FirstLineAfterBreak(headText) == headText.npos)
        return false;
    size_t half = maxSize / 2;
    std::unique_ptr<char[]> buf(new (std::nothrow) char[half ? half : 1]);
    if (!buf)
        return true;
    size_t got = 0;
    off_t from = length - static_cast<off_t>(half);
    while (got < half) {
        const ssize_t n = TEMP_FAILURE_RETRY(
            m_ops.ReadAt(m_fd, buf.get() + got, half - got, from + static_cast<off_t>(got)));
        if (n < 0)
            return true;  // nothing changed yet: keep the file as it is
        if (n == 0)
            break;
        got += static_cast<size_t>(n);
    }
    // The kept part starts with a whole line of this log, so the file still starts like it.
    const std::string_view kept(buf.get(), got);
    size_t skip = FirstLineAfterBreak(kept);
    if (skip == kept.npos) {
        skip = kept.find('\n');
        skip = skip == kept.npos ? 0 : skip + 1;
    }
    if (m_ops.Truncate(m_fd, 0) != 0)
        return true;
    WriteAll(buf.get() + skip, got - skip, 0);  // a failure here is discarded; the line is still written
    return true;
}

bool CLogFile::WriteLine(const char* text) {
    if (!text)
        return false;
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (!m_bOpen.load(std::memory_order_relaxed))
        return false;
    if (!Shrink()) {
        Refuse(m_strName.c_str(), "it is larger than the log's size limit and does not start like this log");
        Close();
        return false;
    }
    off_t end = m_ops.Size(m_fd);
    if (end >= 0 && WriteAll(text, std::strlen(text), end))
        return true;
    // A file error: the line is lost. Cut off whatever part of it did reach the file so the
    // next line does not start in the middle of this one, then close; the next message reopens.
    if (end >= 0)
        m_ops.Truncate(m_fd, end);
    Close();
    return false;
}
