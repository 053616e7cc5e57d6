// The worker thread: its command queue, the handshakes of its start and stop, and the worker it
// runs the commands on.
#include "engine/ScanThread.h"

#include <system_error>

#include "log/Log.h"

CScanThread::CScanThread(std::shared_ptr<ISocketLayer> sockets, std::shared_ptr<IHardwareResolver> resolver,
                         std::chrono::milliseconds startTimeout, std::chrono::milliseconds stopTimeout)
    : m_worker(std::move(sockets), std::move(resolver)),
      m_startTimeout(startTimeout),
      m_stopTimeout(stopTimeout) {}

CScanThread::~CScanThread() = default;

bool CScanThread::Post(Command command, std::string ip) {
    {
        std::lock_guard lock(m_mutex);
        if (!m_bAccepting)
            return false;
        m_commands.push_back(QueuedCommand{command, std::move(ip)});
    }
    m_cv.notify_all();
    return true;
}

void CScanThread::ThreadEntry(std::stop_token stop) {
    LogWrite(LOG_DEBUG, "CScanThread::ThreadEntry()");
    {
        std::lock_guard lock(m_mutex);
        m_bAccepting = true;
    }
    LogWrite(LOG_DEBUG, "CScanThread::ThreadEntry() Message queue created");

    if (const Failure failed = m_worker.OpenRawSocket()) {
        if (failed.subject.empty())  // no socket layer at all
            LogWrite(LOG_ERROR, "Windows socket initialization failed!");
        else
            LogWrite(LOG_ERROR, "%s failed (error code %d)", failed.subject.c_str(), failed.code.value());
        LogWrite(LOG_ERROR, "CScanThread::ThreadEntry() Can't create Raw Socket");
    } else {
        LogWrite(LOG_DEBUG, "CScanThread::ThreadEntry() Raw Socket opened");
        {
            std::lock_guard lock(m_mutex);
            m_bReady = true;
        }
        m_cv.notify_all();
        for (bool stopping = false; !stopping;) {
            // The stop token reads as a stop command: the object is going without a Stop, or
            // after one that gave up, and what is still queued will not run.
            QueuedCommand next{Command::Stop, {}};
            {
                std::unique_lock lock(m_mutex);
                m_cv.wait(lock, stop, [this] { return !m_commands.empty(); });
                if (!stop.stop_requested()) {
                    next = std::move(m_commands.front());
                    m_commands.pop_front();
                }
            }
            switch (next.command) {
            case Command::Stop:
                LogWrite(LOG_DEBUG, "CScanThread::ThreadEntry() Aborting");
                stopping = true;
                break;
            case Command::Scan:
                LogWrite(LOG_DEBUG, "CScanThread::ThreadEntry() Starting scan");
                m_worker.Scan();
                break;
            case Command::Locate:
                LogWrite(LOG_DEBUG, "CScanThread::ThreadEntry() Starting locate for %s", next.ip.c_str());
                m_worker.Locate(next.ip);
                break;
            }
        }
        LogWrite(LOG_DEBUG, "CScanThread::ThreadEntry() Stopping reader thread.");
    }

    m_worker.CloseRawSocket();
    LogWrite(LOG_DEBUG, "CScanThread::ThreadEntry() Reader thread stopped.");
    {
        // Commands that came too late are dropped with the queue.
        std::lock_guard lock(m_mutex);
        m_bAccepting = false;
        m_bReady = false;
        m_bRunning = false;
        m_commands.clear();
    }
    m_cv.notify_all();
}

bool CScanThread::Start() {
    LogWrite(LOG_DEBUG, "Starting scan thread");
    {
        std::lock_guard lock(m_mutex);
        // One worker per object: a second one would share its socket and its queue.
        if (m_bRunning)
            return true;
        m_bRunning = true;
    }
    // A worker that ended by itself (its socket failed) is collected first.
    if (m_thread.joinable())
        m_thread.join();
    try {
        m_thread = std::jthread([this](std::stop_token stop) { ThreadEntry(stop); });
    } catch (const std::system_error&) {
        std::lock_guard lock(m_mutex);
        m_bRunning = false;
        return false;
    }

    std::unique_lock lock(m_mutex);
    if (m_cv.wait_for(lock, m_startTimeout, [this] { return m_bReady; })) {
        LogWrite(LOG_DEBUG, "Scan thread successfully started");
        return true;
    }
    LogWrite(LOG_DEBUG, "No reaction from scan thread");
    return false;
}

bool CScanThread::RequestScan() {
    return Post(Command::Scan);
}

void CScanThread::RequestLocate(const std::string& ip) {
    Post(Command::Locate, ip);
}

bool CScanThread::Stop() {
    LogWrite(LOG_DEBUG, "Stopping scan thread");
    bool running;
    {
        std::lock_guard lock(m_mutex);
        running = m_bRunning;
    }
    if (!running) {
        if (m_thread.joinable())
            m_thread.join();
        return true;
    }
    if (!Post(Command::Stop)) {
        LogWrite(LOG_DEBUG, "CScanThread::Stop() Either invalid handle or no message queue");
        return false;
    }
    {
        std::unique_lock lock(m_mutex);
        if (!m_cv.wait_for(lock, m_stopTimeout, [this] { return !m_bRunning; })) {
            LogWrite(LOG_DEBUG, "No reaction from scan thread");
            return false;
        }
    }
    m_thread.join();
    LogWrite(LOG_DEBUG, "Scan thread stopped");
    return true;
}
