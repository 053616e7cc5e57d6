#pragma once
// Captures every log line (threshold -5) into a debug.log of a temporary folder and reads it back
// as (level, message) pairs, so tests can check texts, levels and order.
#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "log/Log.h"

struct LogLine {
    std::string level;
    std::string text;
    bool operator==(const LogLine&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const LogLine& line) {
    return out << line.level << ": \"" << line.text << "\"";
}

class LogCapture {
public:
    LogCapture() : m_path(m_dir.file("debug.log")) {
        LogClose();
        LogOpen(m_path.c_str());
        LogSetLevel(-5);
    }
    ~LogCapture() { LogClose(); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Every line so far. A line is "<19-char time>  <level padded to 9><message>\r\n".
    std::vector<LogLine> Lines() const {
        std::string bytes = testsupport::ReadFileBytes(m_path);
        std::vector<LogLine> lines;
        std::size_t pos = 0;
        for (;;) {
            std::size_t end = bytes.find("\r\n", pos);
            if (end == std::string::npos)
                break;
            std::string raw = bytes.substr(pos, end - pos);
            pos = end + 2;
            if (raw.size() < 30)
                continue;
            std::string level = raw.substr(21, 9);
            level.erase(level.find_last_not_of(' ') + 1);
            lines.push_back(LogLine{level, raw.substr(30)});
        }
        return lines;
    }

    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const LogLine& l : Lines())
            texts.push_back(l.text);
        return texts;
    }

    // The lines from the first one with text `from` on (empty when there is none).
    std::vector<LogLine> LinesFrom(const std::string& from) const {
        std::vector<LogLine> all = Lines();
        auto it = std::find_if(all.begin(), all.end(), [&](const LogLine& l) { return l.text == from; });
        return std::vector<LogLine>(it, all.end());
    }

    bool Contains(const std::string& text) const {
        std::vector<std::string> texts = Texts();
        return std::find(texts.begin(), texts.end(), text) != texts.end();
    }

    std::size_t CountOf(const std::string& text) const {
        std::vector<std::string> texts = Texts();
        return static_cast<std::size_t>(std::count(texts.begin(), texts.end(), text));
    }

    // Index of the first line with this text, or -1.
    long IndexOf(const std::string& text) const {
        std::vector<std::string> texts = Texts();
        auto it = std::find(texts.begin(), texts.end(), text);
        return it == texts.end() ? -1 : static_cast<long>(it - texts.begin());
    }

private:
    testsupport::TempDir m_dir;
    std::string m_path;
};

// Re-checks cond until it holds or the bound passes; for states that have no event to wait on.
template <typename Cond>
bool PollUntil(Cond cond, std::chrono::milliseconds bound) {
    const auto until = std::chrono::steady_clock::now() + bound;
    while (!cond()) {
        if (std::chrono::steady_clock::now() >= until)
            return false;
        std::this_thread::yield();
    }
    return true;
}
