#include "discovery/ScanThread.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <new>
#include <system_error>

#include "discovery/Orvalink.h"
#include "discovery/ScanListener.h"
#include "discovery/ScanWorker.h"
#include "log/Log.h"
#include "log/LogText.h"

namespace {

constexpr std::chrono::milliseconds kStartTimeout{5000};
constexpr std::chrono::milliseconds kStopTimeout{10000};

// Router solicitation, family code 0x4A, checksum, family marker.
constexpr std::uint8_t kDiscoverRequest[8] = {0x0A, 0x4A, 0xF6, 0xAE, 0xFE, 0xE4, 0x00, 0x22};
constexpr std::uint8_t kLocateHeader[8] = {0x0A, 0x4A, 0x00, 0x00, 0xFE, 0xE4, 0x00, 0x22};
constexpr char kLocateCommand[] = "blink:30";
constexpr std::uint32_t kReplyMarker = 0x00271174;
constexpr unsigned kHardwareAddressMax = 6;

std::string FormatIP(std::uint32_t networkOrder) {
    const auto* b = reinterpret_cast<const std::uint8_t*>(&networkOrder);
    char text[16];
    std::snprintf(text, sizeof text, "%ld.%ld.%ld.%ld", static_cast<long>(b[0]), static_cast<long>(b[1]),
                  static_cast<long>(b[2]), static_cast<long>(b[3]));
    return text;
}

std::string FormatMAC(const std::uint8_t* mac, unsigned length) {
    std::string text;
    char part[4];
    for (unsigned i = 0; i < length; ++i) {
        std::snprintf(part, sizeof part, i + 1 < length ? "%02X:" : "%02X", mac[i]);
        text += part;
    }
    return text;
}

}  // namespace

// ---------------------------------------------------------------- free functions

unsigned short IcmpChecksum(const void* data, unsigned length) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::uint32_t sum = 0;
    unsigned i = 0;
    for (; i + 1 < length; i += 2) {
        std::uint16_t word;
        std::memcpy(&word, bytes + i, 2);
        sum += word;
    }
    if (i < length) {
        // An odd last byte counts as a word padded with a zero byte.
        std::uint8_t last[2] = {bytes[i], 0};
        std::uint16_t word;
        std::memcpy(&word, last, 2);
        sum += word;
    }
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<unsigned short>(~sum & 0xFFFF);
}

std::string ExtractValue(const std::string& text, const std::string& key) {
    std::size_t at = text.find(key);
    if (at == std::string::npos)
        return {};
    std::size_t start = at + key.size();
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos)
        return {};
    return text.substr(start, end - start);
}

std::size_t ReplyHeaderLength(const std::uint8_t* packet) {
    return (packet[0] & 0x0Fu) * 4u;
}

bool IsDiscoverReply(const std::uint8_t* packet, const ReceivedPacket& info) {
    // A datagram cut to the buffer is not judged by its first part; it is just ignored.
    if (info.truncated || info.length < CScanWorker::kReplyMinimum ||
        info.length > CScanWorker::kReceiveBuffer)
        return false;
    // 0.0.0.0 is nobody's address: such a sender could be neither listed nor asked anything.
    if (info.sourceAddr == 0)
        return false;
    // The ICMP message begins where the header length says: IP options make the header longer,
    // and bytes inside them must not be read as a reply.
    const std::size_t header = ReplyHeaderLength(packet);
    if ((packet[0] >> 4) != 4 || header < 20 || info.length < header + kReplyIcmpMinimum)
        return false;
    if (packet[header] != 9)
        return false;
    std::uint32_t marker;
    std::memcpy(&marker, packet + header + 12, 4);
    return ntohl(marker) == kReplyMarker;
}

// ---------------------------------------------------------------- CScanWorker

CScanWorker::CScanWorker(std::shared_ptr<ISocketLayer> sockets) : m_sockets(std::move(sockets)) {}

CScanWorker::~CScanWorker() = default;

bool CScanWorker::OpenRawSocket() {
    if (!m_sockets || !m_sockets->Startup()) {
        LogWrite(LOG_ERROR, "Windows socket initialization failed!");
        return false;
    }
    int sock = m_sockets->OpenRawIcmp();
    if (sock <= 0) {
        m_socket = 0;
        LogWrite(LOG_ERROR, "socket() failed (error code %d)", m_sockets->LastError());
        return false;
    }
    m_socket = sock;
    if (!m_sockets->EnableBroadcast(m_socket)) {
        LogWrite(LOG_ERROR, "setsockopt() failed (error code %d)", m_sockets->LastError());
        return false;
    }
    return true;
}

void CScanWorker::CloseRawSocket() {
    if (m_socket != 0 && m_sockets) {
        m_sockets->Close(m_socket);
        m_socket = 0;
    }
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

void CScanWorker::ReportScanDone() {
    std::lock_guard lock(m_listenerLock);
    if (m_pListener)
        m_pListener->OnScanDone();
}

void CScanWorker::Scan() {
    m_bRequestFailed = false;
    if (!m_sockets->SendBroadcast(m_socket, kDiscoverRequest, sizeof kDiscoverRequest, m_interfaces)) {
        m_bRequestFailed = true;
        LogWrite(LOG_ERROR, "Failed to send discover request (error code %d)", m_sockets->LastError());
        ReportScanDone();
        return;
    }
    const auto deadline = m_sockets->Now() + kScanLimit;
    long count = 0;
    // Every reply read in this scan is reported in it; nothing is kept for the next one.
    std::vector<Reply> batch, waiting;
    std::vector<HardwareRequest> waitingRequests, unasked;
    auto lastProbe = m_sockets->Now();
    auto batchStart = lastProbe;
    // Lookups and probes wait for a lull in the replies (or a big or old batch): during a burst
    // they would only compete with the replies still coming.
    auto settle = [&] {
        ResolveBatch(batch, waiting, waitingRequests, unasked);
        if (!unasked.empty()) {
            m_sockets->SendProbes(unasked);
            unasked.clear();
            lastProbe = m_sockets->Now();
        }
    };

    std::uint8_t buffer[kReceiveBuffer];
    for (;;) {
        const auto now = m_sockets->Now();
        if (now >= deadline) {
            LogWrite(LOG_DEBUG, "Scan time limit reached");
            break;
        }
        auto timeout = m_quietWait;
        bool limited = false;
        auto left = std::chrono::ceil<std::chrono::microseconds>(deadline - now);
        if (left < timeout) {
            timeout = left;
            limited = true;
        }
        int ready;
        if (!batch.empty() && timeout > kLull) {
            ready = m_sockets->WaitReadable(m_socket, kLull);
            if (ready == 0) {
                // The quiet wait still ends its second after the last packet, however long the
                // lookup took; what arrived meanwhile is read at once.
                settle();
                auto rest = std::chrono::ceil<std::chrono::microseconds>(now + timeout - m_sockets->Now());
                ready = m_sockets->WaitReadable(m_socket, std::max(rest, std::chrono::microseconds(0)));
            }
        } else {
            ready = m_sockets->WaitReadable(m_socket, timeout);
        }
        if (ready == 0 && limited) {
            LogWrite(LOG_DEBUG, "Scan time limit reached");
            break;
        }
        if (ready <= 0) {
            LogWrite(LOG_DEBUG, "select() timed out without getting a response");
            break;
        }
        // Everything that has arrived is read before any lookup, so a burst of replies never
        // waits in the socket's queue behind the resolution.
        bool received = true;
        do {
            ReceivedPacket info;
            received = m_sockets->Receive(m_socket, buffer, sizeof buffer, info);
            if (!received)
                break;
            if (!IsDiscoverReply(buffer, info))
                continue;
            // An answer to another scanner's request on an interface this scan leaves out.
            if (!m_interfaces.empty() &&
                std::find(m_interfaces.begin(), m_interfaces.end(), info.ifindex) == m_interfaces.end())
                continue;
            ++count;
            if (batch.empty())
                batchStart = m_sockets->Now();
            const std::size_t extraAt = ReplyHeaderLength(buffer) + kReplyIcmpMinimum;
            std::size_t n = std::min(info.length - extraAt, kExtraDataMax);
            batch.push_back(Reply{info.sourceAddr, info.ifindex,
                                  std::string(reinterpret_cast<const char*>(buffer) + extraAt, n)});
        } while (m_sockets->HasPending(m_socket) && m_sockets->Now() < deadline);
        if (!received) {
            const int receiveError = m_sockets->LastError();
            settle();
            LogWrite(LOG_ERROR, "revfrom() failed (error code %d)", receiveError);
            break;
        }
        if (batch.size() >= kBatchMax || (!batch.empty() && m_sockets->Now() - batchStart >= kBatchAge))
            settle();
    }
    settle();

    if (!waiting.empty()) {
        // Most probes went out a while ago and have been answered meanwhile; what is left gets
        // one second from its probe, at least a short grace, never more than a second.
        const auto now = m_sockets->Now();
        const auto deadline = std::clamp(lastProbe + kResolveBudget, now + kProbeGrace, now + kResolveBudget);
        m_sockets->ProbeHardwareAddresses(waitingRequests, deadline);
        for (std::size_t i = 0; i < waiting.size(); ++i)
            ReportReply(waiting[i], waitingRequests[i]);
    }

    if (count > 0)
        LogWrite(LOG_INFO, "Found %ld Orvalink(s)", count);
    else
        LogWrite(LOG_INFO, "Found no Orvalinks");
    ReportScanDone();
}

void CScanWorker::ResolveBatch(std::vector<Reply>& batch, std::vector<Reply>& waiting,
                               std::vector<HardwareRequest>& waitingRequests,
                               std::vector<HardwareRequest>& unasked) {
    if (batch.empty())
        return;
    std::vector<HardwareRequest> requests(batch.size());
    for (std::size_t i = 0; i < batch.size(); ++i) {
        requests[i].addr = batch[i].source;
        requests[i].ifindex = batch[i].ifindex;
        std::memset(requests[i].mac, 0xFF, sizeof requests[i].mac);
        requests[i].length = kHardwareAddressMax;
    }
    m_sockets->LookupHardwareAddresses(requests);
    for (std::size_t i = 0; i < batch.size(); ++i) {
        if (requests[i].state == HardwareState::Pending) {
            waiting.push_back(std::move(batch[i]));
            waitingRequests.push_back(requests[i]);
            unasked.push_back(requests[i]);
        } else {
            ReportReply(batch[i], requests[i]);
        }
    }
    batch.clear();
}

void CScanWorker::ReportReply(const Reply& reply, const HardwareRequest& request) {
    std::string ip = FormatIP(reply.source);
    std::string mac = "n/a";
    std::string type = "n/a";
    std::string build = "n/a";
    LogWrite(LOG_INFO, "IP: %s", ip.c_str());

    if (reply.extra.empty()) {
        LogWrite(LOG_DEBUG, "No extra data received");
    } else {
        std::string text(reply.extra.c_str());  // up to the first NUL
        LogWrite(LOG_DEBUG, "Got %d bytes extra data (%s)", static_cast<int>(reply.extra.size()),
                 LogEscape(text).c_str());
        std::string value = ExtractValue(text, "build:");
        if (!value.empty()) {
            build = value;
            LogWrite(LOG_INFO, "Build: %s  ", LogEscape(build).c_str());
        }
        value = ExtractValue(text, "type:");
        if (!value.empty()) {
            type = value;
            LogWrite(LOG_INFO, "Device: %s  ", LogEscape(type).c_str());
        }
    }

    if (request.state != HardwareState::Resolved) {
        LogWrite(LOG_INFO, "Wrong Subnet");
    } else {
        unsigned length = std::min(request.length, kHardwareAddressMax);
        // A resolution without address bytes shows like a failed one.
        if (length > 0)
            mac = FormatMAC(request.mac, length);
        LogWrite(LOG_INFO, "MAC: %s", mac.c_str());
    }

    COrvalink record;
    record.m_strIP = ip;
    record.m_strMAC = mac;
    record.m_strType = type;
    record.m_strBuild = build;
    char name[IF_NAMESIZE];
    record.m_strInterface =
        reply.ifindex > 0 && if_indextoname(static_cast<unsigned>(reply.ifindex), name) ? name : "n/a";
    ReportAddOrvalink(record);
}

void CScanWorker::Locate(const std::string& ip) {
    m_bRequestFailed = true;  // until it has gone out
    in_addr address{};
    // inet_addr would turn an unparsable text into 255.255.255.255 and the request into a
    // broadcast to every device; such a text is refused instead.
    if (inet_pton(AF_INET, ip.c_str(), &address) != 1) {
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
    if (!m_sockets->SendTo(m_socket, address.s_addr, request.get(), length)) {
        LogWrite(LOG_ERROR, "Failed to send location request (error code %d)", m_sockets->LastError());
        return;
    }
    m_bRequestFailed = false;
}

// ---------------------------------------------------------------- CScanThread

CScanThread::CScanThread() : CScanThread(CreateSystemSocketLayer()) {}

CScanThread::CScanThread(std::shared_ptr<ISocketLayer> sockets)
    : CScanThread(std::move(sockets), kStartTimeout, kStopTimeout) {}

CScanThread::CScanThread(std::shared_ptr<ISocketLayer> sockets, std::chrono::milliseconds startTimeout,
                         std::chrono::milliseconds stopTimeout)
    : m_worker(std::make_unique<CScanWorker>(std::move(sockets))),
      m_startTimeout(startTimeout),
      m_stopTimeout(stopTimeout) {}

CScanThread::~CScanThread() = default;

void CScanThread::SetListener(IScanListener* listener) {
    m_worker->SetListener(listener);
}

void CScanThread::SetInterfaces(std::vector<int> ifindexes) {
    m_worker->SetInterfaces(std::move(ifindexes));
}

void CScanThread::SetQuietWait(std::chrono::microseconds wait) {
    m_worker->SetQuietWait(wait);
}

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

    if (!m_worker->OpenRawSocket()) {
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
                m_worker->Scan();
                break;
            case Command::Locate:
                LogWrite(LOG_DEBUG, "CScanThread::ThreadEntry() Starting locate for %s", next.ip.c_str());
                m_worker->Locate(next.ip);
                break;
            }
        }
        LogWrite(LOG_DEBUG, "CScanThread::ThreadEntry() Stopping reader thread.");
    }

    m_worker->CloseRawSocket();
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

bool CScanThread::OpenRawSocket() {
    return m_worker->OpenRawSocket();
}

void CScanThread::CloseRawSocket() {
    m_worker->CloseRawSocket();
}

void CScanThread::Scan() {
    m_worker->Scan();
}

void CScanThread::Locate(const std::string& ip) {
    m_worker->Locate(ip);
}

bool CScanThread::RequestFailed() const {
    return m_worker->RequestFailed();
}
