#pragma once
// Worker threads and events in the shape of the desktop framework the engine was written for:
// AfxBeginThread gives a thread object with a message-queue id and a waitable handle, CEvent is
// an auto-reset (or manual-reset) event, WaitForSingleObject waits on either with a bound.
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/Messages.h"

constexpr unsigned WAIT_OBJECT_0 = 0;
constexpr unsigned WAIT_TIMEOUT = 0x102;
constexpr unsigned WAIT_FAILED = 0xFFFFFFFFu;
constexpr unsigned INFINITE = 0xFFFFFFFFu;

constexpr int THREAD_PRIORITY_NORMAL = 0;
constexpr unsigned CREATE_SUSPENDED = 0x4;

// Something a thread can wait for with a bound.
class CSyncObject {
public:
    virtual ~CSyncObject() = default;
    // True when the object was (or became) signalled within the time; consumes the signal of an
    // auto-reset event.
    virtual bool Lock(std::chrono::milliseconds timeout) = 0;
};

// A signalled/not-signalled flag with waiters. Auto-reset: one successful wait takes the signal.
class CEvent : public CSyncObject {
public:
    explicit CEvent(bool initiallyOwn = false, bool manualReset = false);
    bool SetEvent();
    bool ResetEvent();
    bool Lock(std::chrono::milliseconds timeout) override;

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_bSignalled;
    const bool m_bManualReset;
};

// The handle of a thread: becomes signalled, for good, when the thread has ended.
class CThreadHandle : public CSyncObject {
public:
    bool Lock(std::chrono::milliseconds timeout) override;
    bool HasEnded();
    void MarkEnded();

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_bEnded = false;
};

using HANDLE = std::shared_ptr<CSyncObject>;

// WAIT_OBJECT_0 when signalled within ms (INFINITE: no bound), WAIT_TIMEOUT otherwise,
// WAIT_FAILED for a null handle.
unsigned WaitForSingleObject(CSyncObject* object, unsigned ms);
inline unsigned WaitForSingleObject(const HANDLE& object, unsigned ms) {
    return WaitForSingleObject(object.get(), ms);
}

using AFX_THREADPROC = unsigned (*)(void* param);

// A thread started by AfxBeginThread. The object deletes itself when the thread procedure has
// returned (m_bAutoDelete), so anyone who wants to wait for the end keeps a copy of m_hThread.
class CWinThread {
public:
    CWinThread(const CWinThread&) = delete;
    CWinThread& operator=(const CWinThread&) = delete;
    virtual ~CWinThread() = default;

    // Starts a thread created with CREATE_SUSPENDED; false when it already runs.
    bool ResumeThread();
    bool PostThreadMessage(unsigned message, WPARAM wParam, LPARAM lParam) const;

    ThreadId m_nThreadID = 0;
    std::shared_ptr<CThreadHandle> m_hThread;
    bool m_bAutoDelete = true;

private:
    friend CWinThread* AfxBeginThread(AFX_THREADPROC, void*, int, unsigned, unsigned);
    CWinThread() = default;

    struct Gate {
        std::mutex mutex;
        std::condition_variable cv;
        bool open = false;
    };
    std::shared_ptr<Gate> m_gate;
};

// Creates a thread running proc(param). Returns once the thread's id is known, so the id can be
// posted to at once (the thread's queue itself exists only after the thread peeks or gets).
// With CREATE_SUSPENDED the procedure starts only on ResumeThread. Null when no thread could
// be created. priority and stackSize are accepted for the familiar shape; 0 means default.
CWinThread* AfxBeginThread(AFX_THREADPROC proc, void* param, int priority = THREAD_PRIORITY_NORMAL,
                           unsigned stackSize = 0, unsigned createFlags = 0);

// Removes the calling thread's message queue: later posts to it fail. Returns what was still
// queued, so the caller can free any heap objects that travel with its messages.
std::vector<MSG> CloseThreadQueue();
