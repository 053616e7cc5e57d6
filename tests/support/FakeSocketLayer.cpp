#include "FakeSocketLayer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <system_error>

namespace testsupport {

std::uint32_t Ipv4(const char* text) {
    in_addr a{};
    if (inet_pton(AF_INET, text, &a) != 1)
        throw std::invalid_argument(text);
    return a.s_addr;
}

namespace {

std::vector<std::uint8_t> Ipv4Header(std::uint32_t source, std::size_t total) {
    std::vector<std::uint8_t> h(20, 0);
    h[0] = 0x45;
    h[2] = static_cast<std::uint8_t>(total >> 8);
    h[3] = static_cast<std::uint8_t>(total);
    h[8] = 64;
    h[9] = 1;  // ICMP
    std::memcpy(&h[12], &source, 4);
    const std::uint8_t dest[4] = {10, 0, 0, 1};
    std::memcpy(&h[16], dest, 4);
    return h;
}

}  // namespace

FakePacket MakeReply(const char* source, const std::string& extra, std::chrono::microseconds delay) {
    FakePacket p;
    p.source = Ipv4(source);
    p.delay = delay;
    p.bytes = Ipv4Header(p.source, 36 + extra.size());
    std::uint8_t icmp[16] = {9, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x27, 0x11, 0x74};
    p.bytes.insert(p.bytes.end(), icmp, icmp + sizeof icmp);
    p.bytes.insert(p.bytes.end(), extra.begin(), extra.end());
    return p;
}

FakePacket WithIpOptions(FakePacket packet, const std::vector<std::uint8_t>& options) {
    packet.bytes.insert(packet.bytes.begin() + 20, options.begin(), options.end());
    packet.bytes[0] = static_cast<std::uint8_t>(0x40 | ((20 + options.size()) / 4));
    packet.bytes[2] = static_cast<std::uint8_t>(packet.bytes.size() >> 8);
    packet.bytes[3] = static_cast<std::uint8_t>(packet.bytes.size());
    return packet;
}

FakePacket MakeIcmp(const char* source, std::uint8_t icmpType, std::size_t length,
                    std::chrono::microseconds delay) {
    FakePacket p;
    p.source = Ipv4(source);
    p.delay = delay;
    p.bytes = Ipv4Header(p.source, length);
    p.bytes.resize(length < 21 ? 21 : length, 0);
    p.bytes[20] = icmpType;
    return p;
}

FakeSocketLayer::FakeSocketLayer() : m_start(Clock::time_point{} + std::chrono::hours(1)), m_now(m_start) {}

void FakeSocketLayer::QueuePacket(FakePacket packet) {
    std::lock_guard lock(m_mutex);
    Clock::time_point at = m_now + packet.delay;
    m_queue.emplace(at, std::move(packet));
}

void FakeSocketLayer::SetRepliesOnBroadcast(std::vector<FakePacket> replies) {
    std::lock_guard lock(m_mutex);
    m_onBroadcast = std::move(replies);
}

void FakeSocketLayer::SetFlood(std::chrono::microseconds interval, FakePacket packet) {
    std::lock_guard lock(m_mutex);
    m_bFlood = true;
    m_floodInterval = interval;
    m_floodNext = m_now + interval;
    m_floodPacket = std::move(packet);
}

void FakeSocketLayer::StopFlood() {
    std::lock_guard lock(m_mutex);
    m_bFlood = false;
}

void FakeSocketLayer::SetHardwareAddress(const char* addr, std::vector<std::uint8_t> mac) {
    std::lock_guard lock(m_mutex);
    m_hardware[Ipv4(addr)] = std::move(mac);
}

void FakeSocketLayer::SetProbeAnswer(const char* addr, std::vector<std::uint8_t> mac,
                                     std::chrono::microseconds delay) {
    std::lock_guard lock(m_mutex);
    m_onLink[Ipv4(addr)] = ProbeAnswer{std::move(mac), true, delay};
}

void FakeSocketLayer::SetUnanswering(const char* addr) {
    std::lock_guard lock(m_mutex);
    m_onLink[Ipv4(addr)] = ProbeAnswer{};
}

void FakeSocketLayer::SetResolveCost(std::chrono::microseconds cost) {
    std::lock_guard lock(m_mutex);
    m_resolveCost = cost;
}

void FakeSocketLayer::SetResolveHook(std::function<void(std::uint32_t)> hook) {
    std::lock_guard lock(m_mutex);
    m_resolveHook = std::move(hook);
}

void FakeSocketLayer::FailOpen(int error) {
    std::lock_guard lock(m_mutex);
    m_nFailOpen = error;
}
void FakeSocketLayer::FailBroadcastOption(int error) {
    std::lock_guard lock(m_mutex);
    m_nFailBroadcastOption = error;
}
void FakeSocketLayer::FailBroadcastSend(int error) {
    std::lock_guard lock(m_mutex);
    m_nFailBroadcastSend = error;
}
void FakeSocketLayer::FailSendTo(int error) {
    std::lock_guard lock(m_mutex);
    m_nFailSendTo = error;
}
void FakeSocketLayer::FailWait(bool fail) {
    std::lock_guard lock(m_mutex);
    m_bFailWait = fail;
}

void FakeSocketLayer::HoldWaits(bool hold) {
    {
        std::lock_guard lock(m_mutex);
        m_bHold = hold;
    }
    m_cv.notify_all();
}

bool FakeSocketLayer::WaitUntilHeld(std::chrono::milliseconds bound) {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, bound, [this] { return m_bHeld; });
}

std::vector<FakeSocketLayer::Sent> FakeSocketLayer::Sends() {
    std::lock_guard lock(m_mutex);
    return m_sends;
}

std::vector<FakeSocketLayer::ResolveCall> FakeSocketLayer::Resolves() {
    std::lock_guard lock(m_mutex);
    return m_resolves;
}

std::vector<FakeSocketLayer::ProbeCall> FakeSocketLayer::Probes() {
    std::lock_guard lock(m_mutex);
    return m_probes;
}

std::vector<FakeSocketLayer::ProbeSent> FakeSocketLayer::ProbesSent() {
    std::lock_guard lock(m_mutex);
    return m_probesSent;
}

int FakeSocketLayer::Opened() {
    std::lock_guard lock(m_mutex);
    return m_nOpened;
}

namespace {

// How many of the peers have seen their socket closed, waiting up to bound for the first.
int HungUp(std::vector<pollfd>& peers, int timeoutMs) {
    if (peers.empty() || ::poll(peers.data(), peers.size(), timeoutMs) <= 0)
        return 0;
    return static_cast<int>(std::count_if(peers.begin(), peers.end(),
                                          [](const pollfd& p) { return (p.revents & POLLHUP) != 0; }));
}

}  // namespace

std::vector<pollfd> FakeSocketLayer::SocketPeers() {
    std::lock_guard lock(m_mutex);
    std::vector<pollfd> peers;
    for (const UniqueFd& peer : m_socketPeers)
        peers.push_back(pollfd{peer.get(), 0, 0});
    return peers;
}

int FakeSocketLayer::Closed() {
    std::vector<pollfd> peers = SocketPeers();
    return HungUp(peers, 0);
}

bool FakeSocketLayer::WaitUntilClosed(std::chrono::milliseconds bound) {
    std::vector<pollfd> peers = SocketPeers();
    return HungUp(peers, static_cast<int>(bound.count())) > 0;
}

std::chrono::microseconds FakeSocketLayer::Elapsed() {
    std::lock_guard lock(m_mutex);
    return std::chrono::duration_cast<std::chrono::microseconds>(m_now - m_start);
}

std::size_t FakeSocketLayer::Queued() {
    std::lock_guard lock(m_mutex);
    return m_queue.size();
}

Result<IcmpSocket> FakeSocketLayer::OpenRawIcmp() {
    std::lock_guard lock(m_mutex);
    if (m_nFailOpen)
        return Failure(std::error_code(m_nFailOpen, std::generic_category()));
    // A real descriptor, so that the socket closes as the layer's do and the fake sees it.
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return LastErrno();
    m_socketPeers.emplace_back(ends[0]);
    ++m_nOpened;
    return IcmpSocket(UniqueFd(ends[1]));
}

Failure FakeSocketLayer::EnableBroadcast(const IcmpSocket&) {
    std::lock_guard lock(m_mutex);
    if (m_nFailBroadcastOption)
        return Failure(std::error_code(m_nFailBroadcastOption, std::generic_category()));
    return {};
}

Failure FakeSocketLayer::SendBroadcast(const IcmpSocket& sock, const void* data, std::size_t length,
                                               const std::vector<int>& ifindexes) {
    std::lock_guard lock(m_mutex);
    if (!sock)
        return std::error_code(EBADF, std::generic_category());
    if (m_nFailBroadcastSend)
        return std::error_code(m_nFailBroadcastSend, std::generic_category());
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    m_sends.push_back(Sent{true, 0, std::vector<std::uint8_t>(bytes, bytes + length), ifindexes});
    for (const FakePacket& reply : m_onBroadcast)
        m_queue.emplace(m_now + reply.delay, reply);
    return {};
}

Failure FakeSocketLayer::SendTo(const IcmpSocket& sock, std::uint32_t addr, const void* data,
                                        std::size_t length) {
    std::lock_guard lock(m_mutex);
    if (!sock)
        return std::error_code(EBADF, std::generic_category());
    if (m_nFailSendTo)
        return std::error_code(m_nFailSendTo, std::generic_category());
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    m_sends.push_back(Sent{false, addr, std::vector<std::uint8_t>(bytes, bytes + length), {}});
    return {};
}

bool FakeSocketLayer::NextArrival(Clock::time_point& when) const {
    bool any = false;
    if (!m_queue.empty()) {
        when = m_queue.begin()->first;
        any = true;
    }
    if (m_bFlood && (!any || m_floodNext < when)) {
        when = m_floodNext;
        any = true;
    }
    return any;
}

Result<bool> FakeSocketLayer::WaitReadable(const IcmpSocket& sock, std::chrono::microseconds timeout) {
    std::unique_lock lock(m_mutex);
    if (m_bHold) {
        m_bHeld = true;
        m_cv.notify_all();
        m_cv.wait(lock, [this] { return !m_bHold; });
        m_bHeld = false;
    }
    if (m_bFailWait || !sock)
        return Failure(std::error_code(sock ? EINTR : EBADF, std::generic_category()));
    Clock::time_point when;
    if (NextArrival(when) && when <= m_now + timeout) {
        if (when > m_now)
            m_now = when;
        return true;
    }
    m_now += timeout;
    return false;
}

void FakeSocketLayer::SetReceiveDrops(long drops) {
    std::lock_guard lock(m_mutex);
    m_drops = drops;
}

long FakeSocketLayer::ReceiveDrops(const IcmpSocket&) {
    std::lock_guard lock(m_mutex);
    return m_drops;
}

void FakeSocketLayer::SetLocalSubnets(std::vector<std::vector<iftable::LocalSubnet>> answers) {
    std::lock_guard lock(m_mutex);
    m_subnets = std::move(answers);
}

std::vector<iftable::LocalSubnet> FakeSocketLayer::LocalSubnets() {
    std::lock_guard lock(m_mutex);
    if (m_subnets.empty())
        return {};
    std::vector<iftable::LocalSubnet> answer = m_subnets.front();
    if (m_subnets.size() > 1)
        m_subnets.erase(m_subnets.begin());
    return answer;
}

Failure FakeSocketLayer::Receive(const IcmpSocket& sock, void* buffer, std::size_t capacity,
                                         ReceivedPacket& packet) {
    std::lock_guard lock(m_mutex);
    if (!sock)
        return std::error_code(EBADF, std::generic_category());
    Clock::time_point when;
    if (!NextArrival(when) || when > m_now)
        return std::error_code(EAGAIN, std::generic_category());
    FakePacket p;
    if (!m_queue.empty() && m_queue.begin()->first == when) {
        p = std::move(m_queue.begin()->second);
        m_queue.erase(m_queue.begin());
    } else {
        p = m_floodPacket;
        m_floodNext += m_floodInterval;
    }
    if (p.receiveError)
        return std::error_code(p.errorCode, std::generic_category());
    std::size_t n = p.bytes.size() < capacity ? p.bytes.size() : capacity;
    std::memcpy(buffer, p.bytes.data(), n);
    packet.length = n;
    packet.truncated = p.truncated || p.bytes.size() > capacity;
    packet.sourceAddr = p.source;
    packet.ifindex = p.ifindex;
    packet.drops = p.drops;
    return {};
}

bool FakeSocketLayer::HasPending(const IcmpSocket&) {
    std::lock_guard lock(m_mutex);
    Clock::time_point when;
    return NextArrival(when) && when <= m_now;
}

namespace {

void Settle(HardwareRequest& request, const std::vector<std::uint8_t>& mac) {
    std::size_t n = std::min<std::size_t>(mac.size(), request.length);
    if (n > 0)
        std::memcpy(request.mac, mac.data(), n);
    request.length = static_cast<unsigned>(n);
    request.state = HardwareState::Resolved;
}

}  // namespace

void FakeSocketLayer::LookupHardwareAddresses(std::vector<HardwareRequest>& requests) {
    std::function<void(std::uint32_t)> hook;
    {
        std::lock_guard lock(m_mutex);
        for (const HardwareRequest& request : requests) {
            ResolveCall call;
            call.addr = request.addr;
            call.ifindex = request.ifindex;
            call.lengthIn = request.length;
            call.bufferIn.assign(request.mac, request.mac + 8);
            m_resolves.push_back(std::move(call));
        }
        m_now += m_resolveCost;
        hook = m_resolveHook;
    }
    if (hook && !requests.empty())
        hook(requests.front().addr);
    std::lock_guard lock(m_mutex);
    for (HardwareRequest& request : requests) {
        if (request.state != HardwareState::Pending)
            continue;
        auto known = m_hardware.find(request.addr);
        if (known != m_hardware.end())
            Settle(request, known->second);
        else if (m_onLink.count(request.addr))
            request.probeIfindex = request.ifindex ? request.ifindex : 1;
        else
            request.state = HardwareState::Failed;
    }
}

void FakeSocketLayer::SendProbes(const std::vector<HardwareRequest>& requests) {
    std::lock_guard lock(m_mutex);
    for (const HardwareRequest& request : requests) {
        if (m_nRetired > 0 || request.state != HardwareState::Pending || m_asked.count(request.addr))
            continue;
        m_asked[request.addr] = m_now;
        m_probesSent.push_back(
            ProbeSent{request.addr, std::chrono::duration_cast<std::chrono::microseconds>(m_now - m_start)});
    }
}

void FakeSocketLayer::TakeAnswers(std::vector<HardwareRequest>& requests) {
    std::lock_guard lock(m_mutex);
    for (HardwareRequest& request : requests) {
        auto asked = m_asked.find(request.addr);
        auto it = m_onLink.find(request.addr);
        if (request.state == HardwareState::Pending && asked != m_asked.end() && it != m_onLink.end() &&
            it->second.answers && asked->second + it->second.delay <= m_now) {
            Settle(request, it->second.mac);
            m_asked.erase(asked);
        }
    }
}

void FakeSocketLayer::ProbeHardwareAddresses(std::vector<HardwareRequest>& requests,
                                             Clock::time_point deadline) {
    std::lock_guard lock(m_mutex);
    ProbeCall call;
    call.budget = std::chrono::duration_cast<std::chrono::microseconds>(deadline - m_now);
    // Every answer arrives its delay after the address was first asked; the call lasts until
    // the last answer it waits for, or the deadline when one never comes in time.
    Clock::time_point end = m_now;
    for (HardwareRequest& request : requests) {
        if (request.state != HardwareState::Pending)
            continue;
        call.addrs.push_back(request.addr);
        auto asked = m_asked.find(request.addr);
        Clock::time_point askedAt = asked != m_asked.end() ? asked->second : m_now;
        auto it = m_onLink.find(request.addr);
        if (m_nRetired > 0 || it == m_onLink.end() || !it->second.answers || askedAt + it->second.delay > deadline) {
            request.state = HardwareState::Failed;
            end = deadline;
            continue;
        }
        Settle(request, it->second.mac);
        end = std::max(end, askedAt + it->second.delay);
    }
    for (std::uint32_t addr : call.addrs)
        m_asked.erase(addr);
    m_probes.push_back(std::move(call));
    m_now = std::max(m_now, end);
}

void FakeSocketLayer::Retire() {
    std::lock_guard lock(m_mutex);
    ++m_nRetired;
    m_asked.clear();
}

int FakeSocketLayer::Retired() {
    std::lock_guard lock(m_mutex);
    return m_nRetired;
}

FakeSocketLayer::Clock::time_point FakeSocketLayer::Now() {
    std::lock_guard lock(m_mutex);
    return m_now;
}

}  // namespace testsupport
