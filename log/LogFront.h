#pragma once
// The log's front end: filters by level, counts open attempts, formats one line per message
// (its control characters escaped, so a message never breaks the line).
#include <atomic>
#include <cstdarg>
#include <string>

#include "log/LogFile.h"

class CLog {
public:
    static constexpr int MAX_OPEN_ATTEMPTS = 16;
    static constexpr int MAX_LEVEL = 16;
    static constexpr uint32_t FILE_MAX_SIZE = 262144;  // 0x40000
    // Text of a line before its CR LF, head included.
    static constexpr int MAX_LINE_TEXT = 253;

    explicit CLog(const char* fileName, CLogFileOps& ops = CLogFileOps::Posix());

    void Write(int level, const char* format, va_list args) __attribute__((format(printf, 3, 0)));
    // Values above MAX_LEVEL are ignored.
    void SetLevel(int level);
    int GetLevel() const { return m_nLevel.load(std::memory_order_relaxed); }
    int GetOpenAttempts() const { return m_nOpenAttempts.load(std::memory_order_relaxed); }
    // Messages that passed the threshold but did not reach the file (not opened, write error).
    long GetLostLines() const { return m_nLostLines.load(std::memory_order_relaxed); }
    CLogFile& File() { return m_file; }

    static const char* LevelName(int level);

private:
    std::atomic<int> m_nLevel{0};
    std::atomic<int> m_nOpenAttempts{0};
    std::atomic<long> m_nLostLines{0};
    std::string m_strFileName;
    CLogFile m_file;
};
