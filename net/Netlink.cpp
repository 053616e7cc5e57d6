#include "net/Netlink.h"

#include <arpa/inet.h>
#include <linux/if_arp.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "net/InternetChecksum.h"

namespace netlink {

namespace {

// A request: the header, the fixed part body and, when attrType is not 0, one attribute holding
// an IPv4 address.
template <typename Body>
std::vector<std::uint8_t> Request(unsigned short type, unsigned short flags, std::uint32_t seq,
                                  const Body& body, unsigned short attrType = 0, std::uint32_t addr = 0) {
    const std::size_t at = NLMSG_SPACE(sizeof(Body));
    std::vector<std::uint8_t> msg(at + (attrType ? RTA_SPACE(sizeof addr) : 0), 0);
    nlmsghdr hdr{};
    hdr.nlmsg_len = static_cast<std::uint32_t>(msg.size());
    hdr.nlmsg_type = type;
    hdr.nlmsg_flags = flags;
    hdr.nlmsg_seq = seq;
    std::memcpy(msg.data(), &hdr, sizeof hdr);
    std::memcpy(msg.data() + NLMSG_HDRLEN, &body, sizeof body);
    if (attrType) {
        rtattr attr{};
        attr.rta_type = attrType;
        attr.rta_len = static_cast<unsigned short>(RTA_LENGTH(sizeof addr));
        std::memcpy(msg.data() + at, &attr, sizeof attr);
        std::memcpy(msg.data() + at + RTA_LENGTH(0), &addr, sizeof addr);
    }
    return msg;
}

// The part of data after offset, empty when offset lies beyond its end.
ByteView After(ByteView data, std::size_t offset) {
    return offset <= data.size() ? data.subspan(offset) : ByteView();
}

std::size_t LengthOf(const nlmsghdr& hdr) {
    return hdr.nlmsg_len;
}
std::size_t LengthOf(const rtattr& attr) {
    return attr.rta_len;
}

// Hands every netlink message (Header nlmsghdr) or attribute (rtattr) of a buffer to
// visit(header, payload) until visit returns true. Every header is bounds-checked; a short or
// malformed one ends the walk. True when visit stopped it. Both are aligned to 4 bytes.
template <typename Header, typename Visit>
bool ForEach(ByteView data, Visit visit) {
    while (data.size() >= sizeof(Header)) {
        Header hdr;
        std::memcpy(&hdr, data.data(), sizeof hdr);
        const std::size_t length = LengthOf(hdr);
        if (length < sizeof(Header) || length > data.size())
            return false;
        if (visit(hdr, data.first(length).subspan(NLMSG_ALIGN(sizeof(Header)))))
            return true;
        std::size_t step = NLMSG_ALIGN(length);
        if (step > data.size())
            break;
        data = data.subspan(step);
    }
    return false;
}

// The kernel's errno from an NLMSG_ERROR payload's code.
Failure KernelError(int err) {
    // INT_MIN has no positive counterpart; no kernel sends it, a malformed answer might.
    return Failure(std::error_code(err == INT_MIN ? EPROTO : (err < 0 ? -err : (err == 0 ? ENOENT : err)),
                                   std::generic_category()));
}

// Finds the message answering seq and hands it to onMessage; a short or malformed buffer has
// none (false).
template <typename OnMessage>
Result<bool> WalkReply(ByteView data, std::uint32_t seq, unsigned short wantType, std::size_t bodySize,
                       OnMessage onMessage) {
    Result<bool> result = false;
    ForEach<nlmsghdr>(data, [&](const nlmsghdr& hdr, ByteView payload) {
        if (hdr.nlmsg_seq != seq)
            return false;
        if (hdr.nlmsg_type == NLMSG_ERROR) {
            if (payload.size() < sizeof(int))
                return true;
            int err;
            std::memcpy(&err, payload.data(), sizeof err);
            result = KernelError(err);
            return true;
        }
        if (hdr.nlmsg_type != wantType || payload.size() < bodySize)
            return false;
        onMessage(payload.first(bodySize), After(payload, NLMSG_ALIGN(bodySize)));
        result = true;
        return true;
    });
    return result;
}

}  // namespace

std::vector<std::uint8_t> BuildGetRouteRequest(std::uint32_t seq, std::uint32_t dst) {
    rtmsg body{};
    body.rtm_family = AF_INET;
    body.rtm_dst_len = 32;
    return Request(RTM_GETROUTE, NLM_F_REQUEST, seq, body, RTA_DST, dst);
}

Result<bool> ParseRouteReply(ByteView data, std::uint32_t seq, RouteInfo& route) {
    return WalkReply(data, seq, RTM_NEWROUTE, sizeof(rtmsg), [&](ByteView body, ByteView attrs) {
        rtmsg rtm;
        std::memcpy(&rtm, body.data(), sizeof rtm);
        route = RouteInfo{};
        route.type = rtm.rtm_type;
        ForEach<rtattr>(attrs, [&](const rtattr& attr, ByteView value) {
            const unsigned short type = attr.rta_type;
            if (type == RTA_GATEWAY || type == RTA_VIA)
                route.viaGateway = true;
            if (type == RTA_GATEWAY && value.size() >= sizeof(std::uint32_t))
                std::memcpy(&route.gateway, value.data(), sizeof(std::uint32_t));
            else if (type == RTA_OIF && value.size() >= sizeof(int))
                std::memcpy(&route.oif, value.data(), sizeof(int));
            else if (type == RTA_PREFSRC && value.size() >= sizeof(std::uint32_t))
                std::memcpy(&route.prefsrc, value.data(), sizeof(std::uint32_t));
            return false;
        });
    });
}

std::vector<std::uint8_t> BuildGetNeighRequest(std::uint32_t seq, std::uint32_t dst, int ifindex) {
    ndmsg body{};
    body.ndm_family = AF_INET;
    body.ndm_ifindex = ifindex;
    return Request(RTM_GETNEIGH, NLM_F_REQUEST, seq, body, NDA_DST, dst);
}

namespace {

void ReadNeigh(ByteView body, ByteView attrs, NeighInfo& neigh) {
    ndmsg ndm;
    std::memcpy(&ndm, body.data(), sizeof ndm);
    neigh = NeighInfo{};
    neigh.state = ndm.ndm_state;
    neigh.ifindex = ndm.ndm_ifindex;
    ForEach<rtattr>(attrs, [&](const rtattr& attr, ByteView value) {
        if (attr.rta_type == NDA_LLADDR) {
            std::size_t n = value.size() < sizeof neigh.lladdr ? value.size() : sizeof neigh.lladdr;
            std::memcpy(neigh.lladdr, value.data(), n);
            neigh.lladdrLength = static_cast<unsigned>(n);
        } else if (attr.rta_type == NDA_DST && value.size() >= sizeof(std::uint32_t)) {
            std::memcpy(&neigh.dst, value.data(), sizeof(std::uint32_t));
        }
        return false;
    });
}

}  // namespace

Result<bool> ParseNeighReply(ByteView data, std::uint32_t seq, NeighInfo& neigh) {
    return WalkReply(data, seq, RTM_NEWNEIGH, sizeof(ndmsg),
                     [&](ByteView body, ByteView attrs) { ReadNeigh(body, attrs, neigh); });
}

std::vector<std::uint8_t> BuildDumpNeighRequest(std::uint32_t seq) {
    ndmsg body{};
    body.ndm_family = AF_INET;
    return Request(RTM_GETNEIGH, NLM_F_REQUEST | NLM_F_DUMP, seq, body);
}

Result<bool> ParseNeighDump(ByteView data, std::uint32_t seq, std::vector<NeighInfo>& entries) {
    Failure failure;
    const bool ended = ForEach<nlmsghdr>(data, [&](const nlmsghdr& hdr, ByteView payload) {
        if (hdr.nlmsg_seq != seq)
            return false;
        if (hdr.nlmsg_type == NLMSG_DONE)
            return true;
        if (hdr.nlmsg_type == NLMSG_ERROR) {
            int err = 0;
            if (payload.size() >= sizeof err)
                std::memcpy(&err, payload.data(), sizeof err);
            failure =
                Failure(std::error_code(err < 0 && err != INT_MIN ? -err : EPROTO, std::generic_category()));
            return true;
        }
        if (hdr.nlmsg_type == RTM_NEWNEIGH && payload.size() >= sizeof(ndmsg)) {
            NeighInfo neigh;
            ReadNeigh(payload.first(sizeof(ndmsg)), After(payload, NLMSG_ALIGN(sizeof(ndmsg))), neigh);
            entries.push_back(neigh);
        }
        return false;
    });
    if (failure)
        return failure;
    return ended;
}

bool NeighStateUsable(std::uint16_t state) {
    return (state & (NUD_REACHABLE | NUD_STALE | NUD_DELAY | NUD_PROBE | NUD_PERMANENT | NUD_NOARP)) != 0;
}

std::vector<std::uint8_t> BuildArpRequest(const std::uint8_t senderMac[6], std::uint32_t senderIp,
                                          std::uint32_t targetIp) {
    std::vector<std::uint8_t> arp(kArpLength, 0);
    const std::uint16_t htype = htons(ARPHRD_ETHER), ptype = htons(0x0800), op = htons(ARPOP_REQUEST);
    std::memcpy(&arp[0], &htype, 2);
    std::memcpy(&arp[2], &ptype, 2);
    arp[4] = 6;
    arp[5] = 4;
    std::memcpy(&arp[6], &op, 2);
    std::memcpy(&arp[8], senderMac, 6);
    std::memcpy(&arp[14], &senderIp, 4);
    // target hardware address stays zero: it is what we ask for
    std::memcpy(&arp[24], &targetIp, 4);
    return arp;
}

bool ParseArpFromSender(ByteView data, std::uint32_t senderIp, std::uint8_t mac[6]) {
    if (data.size() < kArpLength)
        return false;
    const std::uint8_t* p = data.data();
    std::uint16_t htype, ptype, op;
    std::memcpy(&htype, p, 2);
    std::memcpy(&ptype, p + 2, 2);
    std::memcpy(&op, p + 6, 2);
    if (ntohs(htype) != ARPHRD_ETHER || ntohs(ptype) != 0x0800 || p[4] != 6 || p[5] != 4)
        return false;
    if (ntohs(op) != ARPOP_REPLY && ntohs(op) != ARPOP_REQUEST)
        return false;
    std::uint32_t spa;
    std::memcpy(&spa, p + 14, 4);
    if (spa != senderIp)
        return false;
    std::memcpy(mac, p + 8, 6);
    return true;
}

bool ArpSender(ByteView data, std::uint32_t& senderIp) {
    std::uint8_t mac[6];
    if (data.size() < kArpLength)
        return false;
    std::memcpy(&senderIp, &data[14], 4);
    return ParseArpFromSender(data, senderIp, mac);
}

std::vector<std::uint8_t> BuildIcmpPacket(std::uint32_t source, std::uint32_t destination, std::uint16_t id,
                                          std::uint8_t ttl, ByteView payload) {
    std::vector<std::uint8_t> packet(20 + payload.size(), 0);
    const std::uint16_t total = htons(static_cast<std::uint16_t>(packet.size()));
    const std::uint16_t dontFragment = htons(0x4000);
    const std::uint16_t identification = htons(id);
    packet[0] = 0x45;
    std::memcpy(&packet[2], &total, 2);
    std::memcpy(&packet[4], &identification, 2);
    std::memcpy(&packet[6], &dontFragment, 2);
    packet[8] = ttl;
    packet[9] = 1;  // ICMP
    std::memcpy(&packet[12], &source, 4);
    std::memcpy(&packet[16], &destination, 4);
    const std::uint16_t checksum = htons(InternetChecksum(packet.data(), 20));
    std::memcpy(&packet[10], &checksum, 2);
    std::copy(payload.begin(), payload.end(), packet.begin() + 20);
    return packet;
}

Failure CRouteSocket::EnsureOpen() {
    if (m_fd)
        return {};
    UniqueFd fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (!fd)
        return LastErrno();
    int on = 1;
    // The kernel then rejects a malformed request instead of guessing what it meant.
    ::setsockopt(fd.get(), SOL_NETLINK, NETLINK_GET_STRICT_CHK, &on, sizeof on);
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
        return LastErrno();
    m_fd = std::move(fd);
    return {};
}

template <typename Build, typename Take>
Failure CRouteSocket::Exchange(Build build, Take take, int maxDatagrams) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (Failure failure = EnsureOpen())
        return failure;
    const std::uint32_t seq = ++m_seq;
    const std::vector<std::uint8_t> request = build(seq);
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(m_fd.get(), request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&kernel),
                 sizeof kernel) < 0)
        return LastErrno();
    // A dump of tens of thousands of entries comes in many datagrams.
    m_buffer.resize(65536);
    // Answers to earlier requests that timed out may still be queued: skip them by sequence.
    for (int datagram = 0; datagram < maxDatagrams; ++datagram) {
        pollfd pfd{m_fd.get(), POLLIN, 0};
        int ready = ::poll(&pfd, 1, 1000);
        if (ready == 0)
            return Failure(std::error_code(ETIMEDOUT, std::generic_category()));
        if (ready < 0)
            return LastErrno();
        ssize_t n = ::recv(m_fd.get(), m_buffer.data(), m_buffer.size(), 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return LastErrno();
        }
        const Result<bool> answered = take(ByteView(m_buffer).first(static_cast<std::size_t>(n)), seq);
        if (!answered)
            return answered.Error();
        if (*answered)
            return {};
    }
    return Failure(std::error_code(EPROTO, std::generic_category()));
}

Result<RouteInfo> CRouteSocket::GetRoute(std::uint32_t dst) {
    RouteInfo route;
    if (Failure failure =
            Exchange([&](std::uint32_t seq) { return BuildGetRouteRequest(seq, dst); },
                     [&](ByteView data, std::uint32_t seq) { return ParseRouteReply(data, seq, route); }))
        return failure;
    return route;
}

Result<NeighInfo> CRouteSocket::GetNeigh(std::uint32_t dst, int ifindex) {
    NeighInfo neigh;
    if (Failure failure =
            Exchange([&](std::uint32_t seq) { return BuildGetNeighRequest(seq, dst, ifindex); },
                     [&](ByteView data, std::uint32_t seq) { return ParseNeighReply(data, seq, neigh); }))
        return failure;
    return neigh;
}

Failure CRouteSocket::DumpNeigh(std::vector<NeighInfo>& entries) {
    return Exchange(
        BuildDumpNeighRequest,
        [&](ByteView data, std::uint32_t seq) { return ParseNeighDump(data, seq, entries); }, INT_MAX);
}

}  // namespace netlink
