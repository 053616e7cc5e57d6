#include "log/Log.h"

#include <atomic>
#include <cstdarg>
#include <mutex>
#include <thread>

#include "log/LogFront.h"

// Ending the log safely while a late thread may still call LogWrite:
//
// The log is reached through an atomic pointer. Every caller first announces itself by raising
// one of two "inside" counters, the one chosen by the parity of the current epoch, checks that
// the epoch did not move meanwhile (else it retries), and only then loads the pointer; it lowers
// the same counter when done. LogClose swaps the pointer to null, advances the epoch and waits
// until the counter of the old epoch drops to zero. A caller that could have loaded the old
// pointer was counted there before the epoch moved, so once it reads zero nobody holds the
// object and it can be closed and deleted; and no new log can appear before that, because
// LogOpen waits for LogClose. Callers that arrive later count in the new epoch and see the null
// pointer, so a writer calling in a tight loop cannot keep LogClose waiting. The epoch is a full
// counter, not just its parity, so a caller stalled across two closes notices and retries.
// All accesses are sequentially consistent; that total order is what the argument relies on.
namespace {

std::atomic<CLog*> g_pLog{nullptr};
std::atomic<unsigned> g_nEpoch{0};
std::atomic<unsigned> g_nInside[2];
// Serialises LogOpen and LogClose against each other; never taken on the write path.
std::mutex g_lifeLock;

class CLogUse {
public:
    CLogUse() {
        for (;;) {
            unsigned epoch = g_nEpoch.load();
            m_nSlot = epoch & 1u;
            g_nInside[m_nSlot].fetch_add(1);
            if (g_nEpoch.load() == epoch)
                break;
            g_nInside[m_nSlot].fetch_sub(1);
        }
        m_pLog = g_pLog.load();
    }
    ~CLogUse() { g_nInside[m_nSlot].fetch_sub(1); }
    CLogUse(const CLogUse&) = delete;
    CLogUse& operator=(const CLogUse&) = delete;
    CLog* get() const { return m_pLog; }

private:
    unsigned m_nSlot = 0;
    CLog* m_pLog = nullptr;
};

}  // namespace

void LogOpen(const char* fileName) {
    std::lock_guard<std::mutex> guard(g_lifeLock);
    if (g_pLog.load())
        return;
    g_pLog.store(new CLog(fileName));
}

void LogSetLevel(int level) {
    CLogUse use;
    if (CLog* log = use.get())
        log->SetLevel(level);
}

void LogWrite(int level, const char* format, ...) {
    CLogUse use;
    CLog* log = use.get();
    if (!log)
        return;
    va_list args;
    va_start(args, format);
    log->Write(level, format, args);
    va_end(args);
}

long LogLostLines() {
    CLogUse use;
    CLog* log = use.get();
    return log ? log->GetLostLines() : 0;
}

void LogClose() {
    std::lock_guard<std::mutex> guard(g_lifeLock);
    CLog* log = g_pLog.exchange(nullptr);
    if (!log)
        return;
    unsigned old = g_nEpoch.fetch_add(1) & 1u;
    // A caller inside holds the object for at most one line; yield rather than block on it.
    while (g_nInside[old].load() != 0)
        std::this_thread::yield();
    log->File().Close();
    delete log;
}
