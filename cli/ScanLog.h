#pragma once
// The --log file of a scan, a watch or a locate request: the engine's diagnostics.
#include <string>
#include <utility>

class CScanLog {
public:
    explicit CScanLog(std::string path) : m_path(std::move(path)) {}

    // Opens the log, when asked for, with a first line naming what runs; 0, or kExitLog with
    // its message.
    int Open(const char* what);
    // Whether a log is written.
    bool Wanted() const { return !m_path.empty(); }
    // Closes the log: status, or kExitLog with its message when lines were lost and nothing else
    // failed.
    int Close(int status);
    // Said after a failure the engine's lines explain, when they go nowhere.
    const char* SeeLog() const { return m_path.empty() ? " (see --log)" : ""; }

private:
    std::string m_path;
};
