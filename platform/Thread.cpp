#include "platform/Thread.h"

#include <new>
#include <system_error>
#include <thread>

// ---- CEvent ----

CEvent::CEvent(bool initiallyOwn, bool manualReset)
    : m_bSignalled(initiallyOwn), m_bManualReset(manualReset) {}

bool CEvent::SetEvent() {
    {
        std::lock_guard lock(m_mutex);
        m_bSignalled = true;
    }
    if (m_bManualReset)
        m_cv.notify_all();
    else
        m_cv.notify_one();
    return true;
}

bool CEvent::ResetEvent() {
    std::lock_guard lock(m_mutex);
    m_bSignalled = false;
    return true;
}

bool CEvent::Lock(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    if (!m_cv.wait_for(lock, timeout, [this] { return m_bSignalled; }))
        return false;
    if (!m_bManualReset)
        m_bSignalled = false;
    return true;
}

// ---- CThreadHandle ----

bool CThreadHandle::Lock(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, timeout, [this] { return m_bEnded; });
}

bool CThreadHandle::HasEnded() {
    std::lock_guard lock(m_mutex);
    return m_bEnded;
}

void CThreadHandle::MarkEnded() {
    {
        std::lock_guard lock(m_mutex);
        m_bEnded = true;
    }
    m_cv.notify_all();
}

unsigned WaitForSingleObject(CSyncObject* object, unsigned ms) {
    if (!object)
        return WAIT_FAILED;
    // "No bound" is a very long bound; wait_for with a huge duration overflows the clock.
    std::chrono::milliseconds timeout =
        ms == INFINITE ? std::chrono::hours(24 * 365) : std::chrono::milliseconds(ms);
    if (ms == INFINITE) {
        while (!object->Lock(timeout)) {
        }
        return WAIT_OBJECT_0;
    }
    return object->Lock(timeout) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

// ---- CWinThread ----

bool CWinThread::ResumeThread() {
    if (!m_gate)
        return false;
    std::shared_ptr<Gate> gate = m_gate;
    {
        std::lock_guard lock(gate->mutex);
        if (gate->open)
            return false;
        gate->open = true;
    }
    gate->cv.notify_all();
    return true;
}

bool CWinThread::PostThreadMessage(unsigned message, WPARAM wParam, LPARAM lParam) const {
    return ::PostThreadMessage(m_nThreadID, message, wParam, lParam);
}

CWinThread* AfxBeginThread(AFX_THREADPROC proc, void* param, int /*priority*/,
                           unsigned /*stackSize*/, unsigned createFlags) {
    if (!proc)
        return nullptr;
    CWinThread* thread = new (std::nothrow) CWinThread;
    if (!thread)
        return nullptr;
    thread->m_hThread = std::make_shared<CThreadHandle>();
    thread->m_gate = std::make_shared<CWinThread::Gate>();
    thread->m_gate->open = (createFlags & CREATE_SUSPENDED) == 0;

    // The new thread reports its id before it waits at the gate.
    struct IdHandOver {
        std::mutex mutex;
        std::condition_variable cv;
        bool ready = false;
    };
    auto handOver = std::make_shared<IdHandOver>();
    std::shared_ptr<CThreadHandle> handle = thread->m_hThread;
    std::shared_ptr<CWinThread::Gate> gate = thread->m_gate;

    try {
        std::thread worker([proc, param, thread, handOver, handle, gate]() {
            {
                std::lock_guard lock(handOver->mutex);
                thread->m_nThreadID = GetCurrentThreadId();
                handOver->ready = true;
            }
            handOver->cv.notify_all();
            {
                std::unique_lock lock(gate->mutex);
                gate->cv.wait(lock, [&] { return gate->open; });
            }
            proc(param);
            // Messages still queued for this thread will never be handled; the procedure frees
            // whatever heap objects they carry before it returns, if it cares.
            CloseThreadQueue();
            if (thread->m_bAutoDelete)
                delete thread;
            handle->MarkEnded();
        });
        worker.detach();
    } catch (const std::system_error&) {
        delete thread;
        return nullptr;
    }

    // Not touched after this wait: a thread that is not suspended may already have ended and
    // deleted its object.
    std::unique_lock lock(handOver->mutex);
    handOver->cv.wait(lock, [&] { return handOver->ready; });
    return thread;
}
