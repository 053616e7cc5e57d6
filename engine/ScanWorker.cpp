// The scan worker: one discover scan (the request, the collection of the replies within its
// bounds, their hardware addresses and the reports of the devices found), the locate request, and
// the calls to the listener.
#include "engine/ScanWorker.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include "engine/Orvalink.h"
#include "engine/ScanThread.h"
#include "log/Log.h"
#include "log/LogText.h"
#include "net/AddressText.h"
#include "net/DestinationKind.h"

namespace {

// Router solicitation, family code 0x4A, checksum, family marker.
constexpr std::uint8_t kDiscoverRequest[8] = {0x0A, 0x4A, 0xF6, 0xAE, 0xFE, 0xE4, 0x00, 0x22};
constexpr unsigned kHardwareAddressMax = 6;
// Router solicitation, family code 0x4A, checksum (made for each request), family marker.
constexpr std::uint8_t kLocateHeader[8] = {0x0A, 0x4A, 0x00, 0x00, 0xFE, 0xE4, 0x00, 0x22};
constexpr char kLocateCommand[] = "blink:30";

}  // namespace

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
    if (m_resolver)
        m_resolver->Retire();
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

void CScanWorker::ReportInterfaceLost() {
    std::lock_guard lock(m_listenerLock);
    if (m_pListener)
        m_pListener->OnInterfaceLost();
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

void CScanWorker::Scan() {
    m_bRequestFailed = false;
    std::vector<std::uint8_t> buffers(kReadBatch * kReceiveBuffer);
    DiscardQueued(buffers.data());
    const long dropsBefore = m_sockets->ReceiveDrops(m_socket);
    if (const Failure failed =
            m_sockets->SendBroadcast(m_socket, kDiscoverRequest, sizeof kDiscoverRequest, m_interfaces)) {
        m_bRequestFailed = true;
        LogWrite(LOG_ERROR, "Failed to send discover request (error code %d)", failed.code.value());
        ReportScanDone();
        return;
    }
    if (std::lock_guard lock(m_listenerLock); m_pListener)
        m_pListener->OnRequestSent();
    // Every reply read in this scan is reported in it; nothing is kept for the next one.
    Collection scan;
    scan.subnets = m_sockets->LocalSubnets();
    scan.deadline = m_sockets->Now() + m_scanLimit;
    scan.lastProbe = scan.batchStart = scan.requestSent = m_sockets->Now();
    scan.dropsBefore = dropsBefore;
    m_end.Begin(scan.requestSent);
    while (AwaitReplies(scan)) {
        const long before = scan.count;
        if (const Failure failed = ReadReplies(scan, buffers.data(), scan.deadline)) {
            SettleBatch(scan);
            LogWrite(LOG_ERROR, "revfrom() failed (error code %d)", failed.code.value());
            break;
        }
        // The scan's first answer is shown at once; the others wait for a lull or a full batch.
        if ((before == 0 && scan.count > 0) || scan.batch.size() >= kBatchMax ||
            (!scan.batch.empty() && m_sockets->Now() - scan.batchStart >= kBatchAge)) {
            SettleBatch(scan);
            ReportAnswered(scan);
        } else if (m_sockets->Now() - scan.lastAnswers >= kLull) {
            // Answers to the probes come in while the replies still do.
            ReportAnswered(scan);
        }
    }
    const bool stoppedShort = StoppedShort(scan, buffers.data());
    const long lost = LostAnswers(scan);
    const bool truncated = stoppedShort || lost > 0;
    SettleBatch(scan);
    ResolveWaiting(scan);

    if (scan.count > 0)
        LogWrite(LOG_INFO, "Found %ld Orvalink(s)", scan.count);
    else
        LogWrite(LOG_INFO, "Found no Orvalinks");
    if (stoppedShort)
        LogWrite(LOG_WARNING, "scan stopped at its %d s limit with answers still arriving; %ld devices listed",
                 static_cast<int>(m_scanLimit.count()), scan.count);
    if (lost > 0) {
        LogWrite(LOG_WARNING, "scan lost %ld packets to a full receive queue; %ld devices listed", lost, scan.count);
        ReportAnswersLost(lost);
    }
    if (truncated)
        ReportScanTruncated(scan.count);
    // Only the interfaces the request went out on count.
    std::erase_if(scan.subnets, [this](const iftable::LocalSubnet& subnet) {
        return !m_interfaces.empty() &&
               std::find(m_interfaces.begin(), m_interfaces.end(), subnet.ifindex) == m_interfaces.end();
    });
    if (iftable::SubnetLost(scan.subnets, m_sockets->LocalSubnets())) {
        LogWrite(LOG_WARNING, "an interface went away or down during the scan; its list cannot be trusted");
        ReportInterfaceLost();
    }
    ReportScanDone();
}

bool CScanWorker::StoppedShort(Collection& scan, std::uint8_t* buffers) {
    if (!scan.limitReached)
        return false;
    // Without the limit the scan would have waited on for more answers.
    const bool answerWithinWait = scan.count > 0 && m_sockets->Now() - scan.lastReply < m_end.AskedWait();
    // What waits in the socket is read and listed; only device answers among it count as still
    // arriving, not other ICMP on the segment (pings, errors, another host's traffic).
    const long before = scan.count;
    const auto until = m_sockets->Now() + kDiscardLimit;
    while (m_sockets->HasPending(m_socket) && m_sockets->Now() < until && !ReadReplies(scan, buffers, until)) {
    }
    return answerWithinWait || scan.count > before;
}

void CScanWorker::DiscardQueued(std::uint8_t* buffer) {
    const auto until = m_sockets->Now() + kDiscardLimit;
    std::size_t discarded = 0;
    ReceivedPacket info;
    while (m_sockets->HasPending(m_socket) && m_sockets->Now() < until &&
           !m_sockets->Receive(m_socket, buffer, kReceiveBuffer, info))
        ++discarded;
    if (discarded > 0)
        LogWrite(LOG_DEBUG, "Discarded %zu packet(s) that arrived between scans", discarded);
}

bool CScanWorker::AwaitReplies(Collection& scan) {
    const auto now = m_sockets->Now();
    if (now >= scan.deadline) {
        LogWrite(LOG_DEBUG, "Scan time limit reached");
        scan.limitReached = true;
        return false;
    }
    auto timeout = m_end.QuietWait();
    if (m_quietFromAnswers) {
        // Only a device answer starts the quiet time again; pings read meanwhile do not.
        timeout = std::chrono::ceil<std::chrono::microseconds>((scan.count > 0 ? scan.lastReply : scan.requestSent) +
                                                               timeout - now);
        if (timeout <= std::chrono::microseconds(0)) {
            LogWrite(LOG_DEBUG, "select() timed out without getting a response");
            return false;
        }
    }
    const auto left = std::chrono::ceil<std::chrono::microseconds>(scan.deadline - now);
    const bool limited = left < timeout;
    if (limited)
        timeout = left;
    // Lookups and probes wait for a lull in the replies: during a burst they would only compete
    // with the replies still coming. While probes are out, their answers are taken every lull,
    // so that a device shows as soon as its hardware address is known, not at the end.
    // The quiet wait still ends its time after the last packet, however long the lookups took;
    // what arrived meanwhile is read at once.
    const auto end = now + timeout;
    Result<bool> ready = false;
    for (;;) {
        const auto rest = std::max(std::chrono::ceil<std::chrono::microseconds>(end - m_sockets->Now()),
                                   std::chrono::microseconds(0));
        const bool settling = !scan.batch.empty() || !scan.waiting.empty();
        ready = m_sockets->WaitReadable(m_socket, settling ? std::min<std::chrono::microseconds>(rest, kLull) : rest);
        if (!ready || *ready || !settling || rest <= kLull)
            break;
        SettleBatch(scan);
        ReportAnswered(scan);
    }
    if (!ready || !*ready) {
        // A wait that failed is no time limit reached.
        scan.limitReached = limited && ready;
        LogWrite(LOG_DEBUG, scan.limitReached ? "Scan time limit reached"
                                              : "select() timed out without getting a response");
    }
    return ready && *ready;
}

Failure CScanWorker::ReadReplies(Collection& scan, std::uint8_t* buffers,
                                         std::chrono::steady_clock::time_point until) {
    // Everything that has arrived is read before any lookup, so a burst of replies never waits
    // in the socket's queue behind the resolution; the scan's first reply is the exception.
    ReceivedPacket packets[kReadBatch];
    const bool first = scan.count == 0;
    do {
        std::size_t received = 0;
        const Failure error =
            m_sockets->ReceiveMany(m_socket, buffers, kReceiveBuffer, packets, kReadBatch, received);
        for (std::size_t i = 0; i < received; ++i)
            TakeReply(scan, buffers + i * kReceiveBuffer, packets[i]);
        if (error)
            return error;
        if (first && scan.count > 0)
            break;
    } while (m_sockets->HasPending(m_socket) && m_sockets->Now() < until);
    return {};
}

void CScanWorker::TakeReply(Collection& scan, const std::uint8_t* packet, const ReceivedPacket& info) {
    NoteDrops(scan, info);
    if (!IsDiscoverReply(packet, info))
        return;
    // An answer to another scanner's request on an interface this scan leaves out.
    if (!m_interfaces.empty() &&
        std::find(m_interfaces.begin(), m_interfaces.end(), info.ifindex) == m_interfaces.end())
        return;
    if (!FromOneHost(scan, info.sourceAddr))
        return;
    ++scan.count;
    scan.lastReply = m_sockets->Now();
    m_end.NoteAnswer(scan.lastReply, info.sourceAddr, info.ifindex);
    if (scan.batch.empty())
        scan.batchStart = scan.lastReply;
    const std::size_t extraAt = ReplyHeaderLength(packet) + kReplyIcmpMinimum;
    std::size_t n = std::min(info.length - extraAt, kExtraDataMax);
    scan.batch.push_back(
        Reply{info.sourceAddr, info.ifindex, std::string(reinterpret_cast<const char*>(packet) + extraAt, n)});
}

bool CScanWorker::FromOneHost(const Collection& scan, std::uint32_t source) {
    // A row for a subnet's broadcast address would make Locate blink every device on it.
    const DestinationKind kind = SourceKind(source, scan.subnets);
    if (kind == DestinationKind::OneHost)
        return true;
    LogWrite(LOG_DEBUG, "Reply from %s dropped: not one device's address (%s)", Ipv4Text(source).c_str(),
             DestinationKindName(kind));
    return false;
}

void CScanWorker::SettleBatch(Collection& scan) {
    if (scan.batch.empty())
        return;
    std::vector<HardwareRequest> requests(scan.batch.size());
    for (std::size_t i = 0; i < scan.batch.size(); ++i) {
        requests[i].addr = scan.batch[i].source;
        requests[i].ifindex = scan.batch[i].ifindex;
        std::memset(requests[i].mac, 0xFF, sizeof requests[i].mac);
        requests[i].length = kHardwareAddressMax;
    }
    if (m_resolver)
        m_resolver->LookupHardwareAddresses(requests);
    else
        for (HardwareRequest& request : requests)
            request.state = HardwareState::Failed;
    std::vector<HardwareRequest> unasked;
    for (std::size_t i = 0; i < scan.batch.size(); ++i) {
        if (requests[i].state == HardwareState::Pending) {
            scan.waiting.push_back(std::move(scan.batch[i]));
            scan.waitingRequests.push_back(requests[i]);
            unasked.push_back(requests[i]);
        } else {
            ReportReply(scan, scan.batch[i], requests[i]);
        }
    }
    scan.batch.clear();
    if (!unasked.empty()) {
        m_resolver->SendProbes(unasked);
        scan.lastProbe = m_sockets->Now();
    }
}

void CScanWorker::ReportAnswered(Collection& scan) {
    if (scan.waiting.empty())
        return;
    scan.lastAnswers = m_sockets->Now();
    m_resolver->TakeAnswers(scan.waitingRequests);
    std::size_t kept = 0;
    for (std::size_t i = 0; i < scan.waiting.size(); ++i) {
        if (scan.waitingRequests[i].state == HardwareState::Resolved) {
            ReportReply(scan, scan.waiting[i], scan.waitingRequests[i]);
            continue;
        }
        if (kept != i) {
            scan.waiting[kept] = std::move(scan.waiting[i]);
            scan.waitingRequests[kept] = scan.waitingRequests[i];
        }
        ++kept;
    }
    scan.waiting.resize(kept);
    scan.waitingRequests.resize(kept);
}

void CScanWorker::ResolveWaiting(Collection& scan) {
    if (scan.waiting.empty())
        return;
    // Most probes went out a while ago and have been answered meanwhile; what is left gets one
    // second from its probe, at least a short grace, never more than a second.
    const auto now = m_sockets->Now();
    const auto deadline =
        std::clamp(scan.lastProbe + kResolveBudget, now + kProbeGrace, now + kResolveBudget);
    m_resolver->ProbeHardwareAddresses(scan.waitingRequests, deadline);
    for (std::size_t i = 0; i < scan.waiting.size(); ++i)
        ReportReply(scan, scan.waiting[i], scan.waitingRequests[i]);
}

void CScanWorker::ReportReply(Collection& scan, const Reply& reply, const HardwareRequest& request) {
    COrvalink record;
    record.m_strIP = Ipv4Text(reply.source);
    record.m_strMAC = "n/a";
    record.m_strType = "n/a";
    record.m_strBuild = "n/a";
    LogWrite(LOG_INFO, "IP: %s", record.m_strIP.c_str());

    if (reply.extra.empty()) {
        LogWrite(LOG_DEBUG, "No extra data received");
    } else {
        std::string text(reply.extra.c_str());  // up to the first NUL
        LogWrite(LOG_DEBUG, "Got %d bytes extra data (%s)", static_cast<int>(reply.extra.size()),
                 LogEscape(text).c_str());
        std::string value = ExtractValue(text, "build:");
        if (!value.empty()) {
            record.m_strBuild = value;
            LogWrite(LOG_INFO, "Build: %s  ", LogEscape(value).c_str());
        }
        value = ExtractValue(text, "type:");
        if (!value.empty()) {
            record.m_strType = value;
            LogWrite(LOG_INFO, "Device: %s  ", LogEscape(value).c_str());
        }
    }

    if (request.state != HardwareState::Resolved) {
        LogWrite(LOG_INFO, "Wrong Subnet");
    } else {
        unsigned length = std::min(request.length, kHardwareAddressMax);
        // A resolution without address bytes shows like a failed one.
        if (length > 0)
            record.m_strMAC = MacText(request.mac, length);
        LogWrite(LOG_INFO, "MAC: %s", record.m_strMAC.c_str());
    }

    auto [known, added] = scan.interfaceNames.try_emplace(reply.ifindex, "n/a");
    char name[IF_NAMESIZE];
    if (added && reply.ifindex > 0 && if_indextoname(static_cast<unsigned>(reply.ifindex), name))
        known->second = name;
    record.m_strInterface = known->second;
    ReportAddOrvalink(record);
}
void CScanWorker::NoteDrops(Collection& scan, const ReceivedPacket& info) {
    if (info.drops < 0)
        return;
    if (scan.dropsFirst < 0)
        scan.dropsFirst = info.drops;
    scan.dropsLast = info.drops;
}

long CScanWorker::LostAnswers(const Collection& scan) {
    // The counter read from the socket covers drops after the last datagram read too; the one
    // the datagrams carry stands in where the socket cannot be asked.
    const long now = m_sockets->ReceiveDrops(m_socket);
    const long end = now >= 0 ? now : scan.dropsLast;
    const long start = scan.dropsBefore >= 0 ? scan.dropsBefore : scan.dropsFirst;
    if (start < 0 || end < 0)
        return 0;
    // A 32-bit counter: the difference taken modulo 2^32.
    return static_cast<long>(static_cast<std::uint32_t>(end - start));
}
