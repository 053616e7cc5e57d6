#pragma once
// The log's file writer: owns the open file, serialises every file operation behind one
// re-entrant lock and keeps the file below its size limit.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <sys/types.h>

// The file operations the writer needs, in POSIX terms. Every call returns what the POSIX call
// returns (-1 with errno on failure). The default works on the real file system.
class CLogFileOps {
public:
    virtual ~CLogFileOps() = default;
    // Read-write, created if missing, never truncated, never through a symbolic link (ELOOP);
    // close-on-exec, so a program the tool starts (telnet) does not inherit the descriptor and
    // with it the lock.
    virtual int Open(const char* fileName);
    // Exclusive advisory lock without waiting; 0 on success.
    virtual int Lock(int fd);
    // Current length in bytes.
    virtual off_t Size(int fd);
    virtual ssize_t ReadAt(int fd, void* buf, size_t count, off_t offset);
    virtual ssize_t WriteAt(int fd, const void* buf, size_t count, off_t offset);
    virtual int Truncate(int fd, off_t length);
    virtual int Close(int fd);

    // The process-wide instance that works on the real file system.
    static CLogFileOps& Posix();
};

class CLogFile {
public:
    static constexpr uint32_t DEFAULT_MAX_SIZE = 32768;
    static constexpr uint32_t MAX_SIZE_LIMIT = 524288;  // 0x80000

    explicit CLogFile(CLogFileOps& ops = CLogFileOps::Posix());
    ~CLogFile();

    // Opens (or creates) the file and takes it against other writers; a failure leaves it
    // closed. A file refused because it is a symbolic link, no regular file or belongs to another
    // user is said once on stderr; other failures report nothing. Does nothing for a null name or when
    // already open.
    void Open(const char* fileName);
    void Close();
    bool IsOpen() const { return m_bOpen.load(std::memory_order_acquire); }
    // Clamped to at most MAX_SIZE_LIMIT.
    void SetMaxSize(uint32_t bytes);
    uint32_t GetMaxSize() const { return m_nMaxSize.load(std::memory_order_relaxed); }
    // Shrinks when over the limit, then appends the text; a file error closes the file, and so
    // does a file over the limit that is not this log's (said once on stderr): one that neither
    // starts like this log nor has a line of it after a first, cut one. True when the whole text
    // reached the file.
    bool WriteLine(const char* text);

private:
    void Refuse(const char* fileName, const std::string& reason);
    // Keeps the newer half of a file over the limit from its first whole line on; false for a
    // file that is not this log's.
    bool Shrink();
    // Writes all of [buf, buf+count) at offset; false on a file error.
    bool WriteAll(const char* buf, size_t count, off_t offset);

    std::recursive_mutex m_lock;
    std::atomic<bool> m_bOpen{false};
    std::atomic<uint32_t> m_nMaxSize{DEFAULT_MAX_SIZE};
    int m_fd = -1;
    std::string m_strName;
    bool m_bRefusalSaid = false;
    CLogFileOps& m_ops;
};
