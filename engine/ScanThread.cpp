#include "engine/ScanThread.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <system_error>

#include "engine/Orvalink.h"
#include "log/Log.h"
#include "net/AddressText.h"

namespace {

// Router solicitation, family code 0x4A, checksum (made for each request), family marker.
constexpr std::uint8_t kLocateHeader[8] = {0x0A, 0x4A, 0x00, 0x00, 0xFE, 0xE4, 0x00, 0x22};
constexpr char kLocateCommand[] = "blink:30";

}  // namespace

// ---------------------------------------------------------------- CScanWorker

Failure CScanWorker::OpenRawSocket() {
    if (!m_sockets)
        return ErrnoFailure(ENOTSOCK);
    Result<IcmpSocket> opened = m_sockets->OpenRawIcmp();
    if (!opened)
        return Failure(opened.Error().code, "socket()");
    m_socket = std::move(*opened);
    if (const Failure failure = m_sockets->EnableBroadcast(m_socket))
        return Failure(failure.code, "setsockopt()");
    return {};
}

void CScanWorker::CloseRawSocket() {
    m_socket = IcmpSocket();
}

void CScanWorker::SetListener(IScanListener* listener) {
    std::lock_guard lock(m_listenerLock);
    m_pListener = listener;
}

void CScanWorker::ReportAddOrvalink(const COrvalink& record) {
    std::lock_guard lock(m_listenerLock);
    if (!m_pListener)
        return;
    // A listener that keeps a copy may run out of memory; that device is dropped, the scan goes on.
    try {
        m_pListener->OnDeviceFound(record);
    } catch (const std::bad_alloc&) {
        LogWrite(LOG_ERROR, "ReportAddOrvalink() failed to allocate memory");
    }
}

void CScanWorker::ReportScanTruncated(long listed) {
    std::lock_guard lock(m_listenerLock);
    if (m_pListener)
        m_pListener->OnScanTruncated(listed);
}

void CScanWorker::ReportAnswersLost(long lost) {
    std::lock_guard lock(m_listenerLock);
    if (m_pListener)
        m_pListener->OnAnswersLost(lost);
}

void CScanWorker::ReportScanDone() {
    std::lock_guard lock(m_listenerLock);
    if (m_pListener)
        m_pListener->OnScanDone();
}

void CScanWorker::Locate(const std::string& ip) {
    m_bRequestFailed = true;  // until it has gone out
    // inet_addr would turn an unparsable text into 255.255.255.255 and the request into a
    // broadcast to every device; such a text is refused instead.
    const std::optional<std::uint32_t> address = ParseIpv4(ip);
    if (!address) {
        LogWrite(LOG_ERROR, "Failed to send location request (error code %d)", EINVAL);
        return;
    }
    const unsigned length = static_cast<unsigned>(std::strlen(kLocateCommand)) + 9;
    std::unique_ptr<std::uint8_t[]> request(new (std::nothrow) std::uint8_t[length]);
    if (!request) {
        LogWrite(LOG_ERROR, "Failed to allocate buffer for location request");
        return;
    }
    std::memcpy(request.get(), kLocateHeader, sizeof kLocateHeader);
    std::memcpy(request.get() + sizeof kLocateHeader, kLocateCommand, sizeof kLocateCommand);
    unsigned short checksum = IcmpChecksum(request.get(), length);
    std::memcpy(request.get() + 2, &checksum, 2);
    if (const Failure failed = m_sockets->SendTo(m_socket, *address, request.get(), length)) {
        LogWrite(LOG_ERROR, "Failed to send location request (error code %d)", failed.code.value());
        return;
    }
    m_bRequestFailed = false;
}

// ---------------------------------------------------------------- CScanThread

CScanThread::CScanThread(std::shared_ptr<ISocketLayer> sockets, std::chrono::milliseconds startTimeout,
                         std::chrono::milliseconds stopTimeout)
    : m_worker(std::move(sockets)), m_startTimeout(startTimeout), m_stopTimeout(stopTimeout) {}

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
