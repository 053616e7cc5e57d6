#include "log/LogFront.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "log/Log.h"

namespace {

// Copies the message into out, at most room characters, with each control character written as
// device text in a log line writes it (\t, \n, \r, \xHH): a message that holds a line break
// (a window text, a reason from the system) stays one line. A backslash is kept as it is, since
// outside text reaches a message already escaped. An escape that does not fit whole is cut with
// the rest. Returns the characters written.
int CopyEscaped(const char* message, char* out, int room) {
    int used = 0;
    for (; *message; ++message) {
        const unsigned char c = static_cast<unsigned char>(*message);
        char escape[8] = {static_cast<char>(c)};
        int length = 1;
        if (c == '\t' || c == '\n' || c == '\r')
            length = snprintf(escape, sizeof escape, "\\%c", c == '\t' ? 't' : c == '\n' ? 'n' : 'r');
        else if (c < 0x20 || c == 0x7F)
            length = snprintf(escape, sizeof escape, "\\x%02X", c);
        if (used + length > room)
            break;
        std::copy_n(escape, length, out + used);
        used += length;
    }
    return used;
}

}  // namespace

CLog::CLog(const char* fileName, CLogFileOps& ops) : m_strFileName(fileName ? fileName : ""), m_file(ops) {}

void CLog::SetLevel(int level) {
    if (level <= MAX_LEVEL)
        m_nLevel.store(level, std::memory_order_relaxed);
}

const char* CLog::LevelName(int level) {
    if (level >= LOG_ERROR)
        return "Error";
    if (level >= LOG_WARNING)
        return "Warning";
    if (level >= LOG_INFO)
        return "Info";
    return "Debug";
}

void CLog::Write(int level, const char* format, va_list args) {
    if (level < m_nLevel.load(std::memory_order_relaxed))
        return;

    if (!m_file.IsOpen()) {
        // Both threads may get here at once; the compare-exchange hands out at most
        // MAX_OPEN_ATTEMPTS tickets in the whole run.
        int attempts = m_nOpenAttempts.load(std::memory_order_relaxed);
        while (attempts < MAX_OPEN_ATTEMPTS &&
               !m_nOpenAttempts.compare_exchange_weak(attempts, attempts + 1, std::memory_order_relaxed)) {
        }
        if (attempts < MAX_OPEN_ATTEMPTS) {
            m_file.Open(m_strFileName.c_str());
            m_file.SetMaxSize(FILE_MAX_SIZE);
        }
    }
    if (!m_file.IsOpen()) {
        m_nLostLines.fetch_add(1, std::memory_order_relaxed);
        return;
    }

    char stamp[64];
    time_t now = time(nullptr);
    struct tm local;
    if (!localtime_r(&now, &local) || strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S ", &local) == 0)
        stamp[0] = '\0';

    char line[256];
    const int head =
        std::clamp(snprintf(line, sizeof line, "%s %-9s", stamp, LevelName(level)), 0, MAX_LINE_TEXT);

    int room = MAX_LINE_TEXT - head;
    int message = 0;
    if (format && room > 0) {  // a longer message is cut without a marker
        char text[MAX_LINE_TEXT + 1];
        if (vsnprintf(text, static_cast<size_t>(room) + 1, format, args) >= 0)
            message = CopyEscaped(text, line + head, room);
    }
    int end = head + message;
    line[end] = '\r';
    line[end + 1] = '\n';
    line[end + 2] = '\0';
    if (!m_file.WriteLine(line))
        m_nLostLines.fetch_add(1, std::memory_order_relaxed);
}
