#pragma once
// Real file operations with failures that a test can switch on.
#include <atomic>
#include <cerrno>

#include "log/LogFile.h"

class FaultyFileOps : public CLogFileOps {
public:
    // The next `failWrites` writes fail with ENOSPC, each after storing `partialBytes` bytes.
    std::atomic<int> failWrites{0};
    std::atomic<size_t> partialBytes{0};
    std::atomic<int> failReads{0};
    std::atomic<int> failCloses{0};
    std::atomic<int> opens{0};
    std::atomic<int> closes{0};

    int Open(const char* fileName) override {
        int fd = CLogFileOps::Open(fileName);
        if (fd >= 0)
            ++opens;
        return fd;
    }
    int Close(int fd) override {
        ++closes;
        int rc = CLogFileOps::Close(fd);
        if (Take(failCloses)) {
            errno = EIO;
            return -1;
        }
        return rc;
    }
    ssize_t WriteAt(int fd, const void* buf, size_t count, off_t offset) override {
        if (Take(failWrites)) {
            size_t part = partialBytes < count ? partialBytes.load() : count;
            if (part > 0)
                CLogFileOps::WriteAt(fd, buf, part, offset);
            errno = ENOSPC;
            return -1;
        }
        return CLogFileOps::WriteAt(fd, buf, count, offset);
    }
    ssize_t ReadAt(int fd, void* buf, size_t count, off_t offset) override {
        if (Take(failReads)) {
            errno = EIO;
            return -1;
        }
        return CLogFileOps::ReadAt(fd, buf, count, offset);
    }

private:
    static bool Take(std::atomic<int>& counter) {
        int n = counter.load();
        while (n > 0 && !counter.compare_exchange_weak(n, n - 1)) {
        }
        return n > 0;
    }
};
