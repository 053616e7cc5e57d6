#include "ScanLog.h"

#include <cstdio>

#include "base/SafeFile.h"
#include "base/UniqueFd.h"
#include "log/Log.h"
#include "res/FailureText.h"
#include "ScanOptions.h"

namespace {

// Why the folder of a file this program writes must not be used, "" when it may or when it
// cannot be had at all (the file's own open then says so): walked as for --output and --state,
// so a link another user made on the way is refused for every file alike.
std::string FolderRefusal(const std::string& path) {
    std::string name;
    const Result<UniqueFd> folder = OpenParentSafely(path, name);
    const Failure failure = folder ? FolderWriteRefusal(folder->get()) : folder.Error();
    const bool refused = folder || failure == Errc::LinkOfOtherUser ||
                         failure.code == std::errc::too_many_symbolic_link_levels;
    return failure && refused ? FailureText(failure) : "";
}

}  // namespace

int CScanLog::Open(const char* what) {
    if (m_path.empty())
        return 0;
    if (const std::string refusal = FolderRefusal(m_path); !refusal.empty()) {
        std::fprintf(stderr, "oldiscovery-scan: cannot use the log file %s: %s\n", m_path.c_str(),
                     refusal.c_str());
        return kExitLog;
    }
    LogOpen(m_path.c_str());
    LogSetLevel(LOG_DEBUG);
    // The first line opens the file: a log that cannot be had is known before the scan.
    LogWrite(LOG_DEBUG, "oldiscovery-scan %s", what);
    if (LogLostLines() != 0) {
        LogClose();
        std::fprintf(stderr, "oldiscovery-scan: cannot open or write the log file %s\n", m_path.c_str());
        return kExitLog;
    }
    return 0;
}

int CScanLog::Close(int status) {
    if (m_path.empty())
        return status;
    long lost = LogLostLines();
    LogClose();
    if (lost != 0 && status == 0) {
        std::fprintf(stderr, "oldiscovery-scan: %ld lines could not be written to the log file %s\n", lost,
                     m_path.c_str());
        return kExitLog;
    }
    return status;
}
