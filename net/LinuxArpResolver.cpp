// Hardware-address resolution: the neighbour table first, then ARP probes on the packet socket,
// whose locked filter lets only the answers to this host through.
#include "net/LinuxArpResolver.h"

#include <arpa/inet.h>
#include <linux/rtnetlink.h>
#include <net/ethernet.h>
#include <net/if_arp.h>
#include <netpacket/packet.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <utility>

#include "net/InterfaceTable.h"

namespace {

// The request resolved to lladdr, as many of its bytes as the request has room for.
void Resolve(HardwareRequest& request, const std::uint8_t* lladdr, unsigned lladdrLength) {
    request.length = lladdrLength < request.length ? lladdrLength : request.length;
    std::memcpy(request.mac, lladdr, request.length);
    request.state = HardwareState::Resolved;
}

std::chrono::steady_clock::time_point Now() {
    return std::chrono::steady_clock::now();
}

}  // namespace

CLinuxArpResolver::CLinuxArpResolver(UniqueFd linkSocket) : m_linkSocket(std::move(linkSocket)) {}

void CLinuxArpResolver::Retire() {
    UniqueFd retired;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        retired = std::move(m_linkSocket);
        m_asked.clear();
    }  // closed outside the lock: the close waits for the kernel's grace period
}

UniqueFd CLinuxArpResolver::ReleaseLinkSocket() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::move(m_linkSocket);
}

bool CLinuxArpResolver::CarriesFrames() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_linkSocket.valid();
}

int CLinuxArpResolver::AnswerDescriptor() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_linkSocket && !m_asked.empty() ? m_linkSocket.get() : -1;
}

void CLinuxArpResolver::GatherWaiting() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_linkSocket)
        GatherAnswers(nullptr);
}

Failure CLinuxArpResolver::SendFrame(int ifindex, const std::uint8_t destination[6],
                                     const std::vector<std::uint8_t>& packet) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_linkSocket)
        return ErrnoFailure(ENOTSOCK);
    sockaddr_ll to{};
    to.sll_family = AF_PACKET;
    to.sll_protocol = htons(ETH_P_IP);
    to.sll_ifindex = ifindex;
    to.sll_halen = 6;
    std::memcpy(to.sll_addr, destination, 6);
    ssize_t n;
    do {
        n = ::sendto(m_linkSocket.get(), packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to),
                     sizeof to);
    } while (n < 0 && errno == EINTR);
    if (n != static_cast<ssize_t>(packet.size()))
        return ErrnoFailure(n >= 0 ? EMSGSIZE : errno);
    return {};
}

void CLinuxArpResolver::LookupHardwareAddresses(std::vector<HardwareRequest>& requests) {
    // One dump of the table answers every address at once; a failed dump means asking one by one.
    std::vector<netlink::NeighInfo> entries;
    const bool dumped = !m_route.DumpNeigh(entries);
    std::unordered_multimap<std::uint32_t, const netlink::NeighInfo*> table;
    for (const netlink::NeighInfo& entry : entries)
        if (netlink::NeighStateUsable(entry.state) && entry.lladdrLength > 0)
            table.emplace(entry.dst, &entry);
    const std::vector<iftable::LocalSubnet> subnets = iftable::LocalSubnets();
    const auto now = Now();
    std::lock_guard<std::mutex> lock(m_mutex);
    std::erase_if(m_learned, [&](const auto& entry) { return entry.second.until <= now; });

    auto fromTable = [&](HardwareRequest& request, auto onLink) {
        auto range = table.equal_range(request.addr);
        for (auto it = range.first; it != range.second; ++it) {
            if (onLink(it->second->ifindex)) {
                Resolve(request, it->second->lladdr, it->second->lladdrLength);
                return true;
            }
        }
        return false;
    };

    for (HardwareRequest& request : requests) {
        if (request.state != HardwareState::Pending)
            continue;
        // An entry on an interface whose own subnet holds the address needs no route lookup.
        if (fromTable(request,
                      [&](int ifindex) { return iftable::OnSubnet(subnets, ifindex, request.addr); }))
            continue;
        auto learned = m_learned.find(request.addr);
        if (learned != m_learned.end() && learned->second.until > now &&
            iftable::OnSubnet(subnets, learned->second.ifindex, request.addr)) {
            Resolve(request, learned->second.mac.data(), 6);
            continue;
        }
        // On a subnet of ours and not in the table: asked for by a probe, with no route lookup, so
        // that tens of thousands of unknown repliers cost no netlink round trip each.
        if (const iftable::LocalSubnet* subnet = iftable::SubnetOf(subnets, request.ifindex, request.addr)) {
            request.probeIfindex = subnet->ifindex;
            request.probeSource = subnet->address;
            continue;
        }
        const Result<netlink::RouteInfo> found = m_route.GetRoute(request.addr);
        if (!found || found->viaGateway || found->type != RTN_UNICAST || found->oif <= 0) {
            request.state = HardwareState::Failed;
            continue;
        }
        const netlink::RouteInfo& route = *found;
        if (dumped ? fromTable(request, [&](int ifindex) { return ifindex == route.oif; }) : false)
            continue;
        if (!dumped) {
            const Result<netlink::NeighInfo> neigh = m_route.GetNeigh(request.addr, route.oif);
            if (neigh && netlink::NeighStateUsable(neigh->state)) {
                Resolve(request, neigh->lladdr, neigh->lladdrLength);
                continue;
            }
        }
        request.probeIfindex = route.oif;
        request.probeSource = route.prefsrc;
    }
}

void CLinuxArpResolver::GatherAnswers(std::vector<std::uint32_t>* answered) {
    std::uint8_t frame[256];
    sockaddr_ll from{};
    socklen_t fromLength = sizeof from;
    ssize_t n;
    while ((n = ::recvfrom(m_linkSocket.get(), frame, sizeof frame, MSG_DONTWAIT,
                           reinterpret_cast<sockaddr*>(&from), &fromLength)) >= 0) {
        fromLength = sizeof from;
        std::uint32_t sender = 0;
        if (!netlink::ArpSender({frame, static_cast<std::size_t>(n)}, sender))
            continue;
        auto asked = m_asked.find(sender);
        if (asked == m_asked.end() || asked->second.ifindex != from.sll_ifindex)
            continue;
        LearnedAddress& learned = m_learned[sender];
        learned.ifindex = from.sll_ifindex;
        std::memcpy(learned.mac.data(), frame + 8, 6);
        learned.until = Now() + kLearnedLifetime;
        m_asked.erase(asked);
        if (answered)
            answered->push_back(sender);
    }
}

void CLinuxArpResolver::SendProbe(std::uint32_t addr, const AskedAddress& asked) {
    auto request = netlink::BuildArpRequest(asked.ownMac.data(), asked.source, addr);
    sockaddr_ll to{};
    to.sll_family = AF_PACKET;
    to.sll_protocol = htons(ETH_P_ARP);
    to.sll_ifindex = asked.ifindex;
    to.sll_halen = 6;
    std::memset(to.sll_addr, 0xFF, 6);
    ::sendto(m_linkSocket.get(), request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&to),
             sizeof to);
    // Answers come while the probes still go out; read them now and then so the socket's
    // queue never overflows.
    if (++m_probesSent % 64 == 0)
        GatherAnswers(nullptr);
}

void CLinuxArpResolver::SendProbes(const std::vector<HardwareRequest>& requests) {
    std::lock_guard<std::mutex> lock(m_mutex);
    SendProbesLocked(requests);
}

void CLinuxArpResolver::SendProbesLocked(const std::vector<HardwareRequest>& requests) {
    if (!m_linkSocket)
        return;
    std::map<int, std::array<std::uint8_t, 6>> ownMacs;
    for (const HardwareRequest& request : requests) {
        if (request.state != HardwareState::Pending || request.probeIfindex <= 0 ||
            m_asked.count(request.addr))
            continue;
        auto own = ownMacs.find(request.probeIfindex);
        if (own == ownMacs.end()) {
            std::array<std::uint8_t, 6> mac{};
            if (!iftable::HardwareAddress(request.probeIfindex, mac.data()))
                continue;
            own = ownMacs.emplace(request.probeIfindex, mac).first;
        }
        AskedAddress asked{request.probeIfindex, request.probeSource, own->second, Now()};
        m_asked[request.addr] = asked;
        SendProbe(request.addr, asked);
    }
}

void CLinuxArpResolver::TakeAnswers(std::vector<HardwareRequest>& requests) {
    std::lock_guard<std::mutex> lock(m_mutex);
    TakeAnswersLocked(requests);
}

void CLinuxArpResolver::TakeAnswersLocked(std::vector<HardwareRequest>& requests) {
    if (m_linkSocket)
        GatherAnswers(nullptr);
    for (HardwareRequest& request : requests) {
        if (request.state != HardwareState::Pending)
            continue;
        auto learned = m_learned.find(request.addr);
        if (learned != m_learned.end() && learned->second.ifindex == request.probeIfindex)
            Resolve(request, learned->second.mac.data(), 6);
    }
}

void CLinuxArpResolver::ProbeHardwareAddresses(std::vector<HardwareRequest>& requests,
                                               std::chrono::steady_clock::time_point deadline) {
    std::lock_guard<std::mutex> lock(m_mutex);
    TakeAnswersLocked(requests);  // answered already, while the layer waited for ICMP packets
    SendProbesLocked(requests);   // for those not asked yet
    // Requests by address: one probe per address, however often it answered.
    std::unordered_map<std::uint32_t, std::vector<HardwareRequest*>> waiting;
    for (HardwareRequest& request : requests) {
        if (request.state != HardwareState::Pending)
            continue;
        if (!m_linkSocket || !m_asked.count(request.addr))
            request.state = HardwareState::Failed;  // it could not be asked
        else
            waiting[request.addr].push_back(&request);
    }
    auto settle = [&](const std::vector<std::uint32_t>& answered) {
        for (std::uint32_t addr : answered) {
            auto it = waiting.find(addr);
            if (it == waiting.end())
                continue;
            const LearnedAddress& learned = m_learned[addr];
            for (HardwareRequest* request : it->second)
                Resolve(*request, learned.mac.data(), 6);
            waiting.erase(it);
        }
    };
    auto resend = [&](std::chrono::steady_clock::time_point sentBefore) {
        for (const auto& entry : waiting) {
            auto asked = m_asked.find(entry.first);
            if (asked != m_asked.end() && asked->second.sentAt < sentBefore) {
                asked->second.sentAt = Now();
                SendProbe(entry.first, asked->second);
            }
        }
    };

    // Probes sent a while ago without an answer (a lost frame, a full queue) go again at once;
    // a second round half-way covers lost frames once more.
    const auto start = Now();
    resend(start - kProbeRetry);
    auto secondRound = start + (deadline - start) / 2;
    std::vector<std::uint32_t> answered;
    for (;;) {
        answered.clear();
        GatherAnswers(&answered);
        settle(answered);
        auto now = Now();
        if (waiting.empty() || now >= deadline)
            break;
        if (now >= secondRound) {
            resend(now);
            secondRound = deadline;
            continue;
        }
        auto until = secondRound < deadline ? secondRound : deadline;
        int ms = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(until - now).count());
        pollfd pfd{m_linkSocket.get(), POLLIN, 0};
        ::poll(&pfd, 1, ms);
    }
    for (auto& entry : waiting) {
        m_asked.erase(entry.first);
        for (HardwareRequest* request : entry.second)
            request->state = HardwareState::Failed;
    }
}

Failure CLinuxArpResolver::ResolveHardwareAddress(std::uint32_t addr, int ifindex, std::uint8_t* mac,
                                                  unsigned* length) {
    std::vector<HardwareRequest> one(1);
    one[0].addr = addr;
    one[0].ifindex = ifindex;
    one[0].length = *length < sizeof one[0].mac ? *length : sizeof one[0].mac;
    std::memcpy(one[0].mac, mac, one[0].length);
    LookupHardwareAddresses(one);
    ProbeHardwareAddresses(one, Now() + kArpWait);
    if (one[0].state != HardwareState::Resolved)
        return ErrnoFailure(EHOSTUNREACH);
    std::memcpy(mac, one[0].mac, one[0].length);
    *length = one[0].length;
    return {};
}
