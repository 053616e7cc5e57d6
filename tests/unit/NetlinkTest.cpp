// Route and neighbour messages and ARP frames, built and parsed without a network.
#include <arpa/inet.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>

#include <cstring>
#include <string>
#include <gtest/gtest.h>
#include <vector>

#include "net/Netlink.h"

using namespace netlink;

namespace {

std::uint32_t Ip(const char* text) {
    return inet_addr(text);
}

// What a parse said: "answered", "more" (nothing of the request, or the dump goes on) or the
// kernel's errno.
std::string Said(const Result<bool>& parsed) {
    if (!parsed)
        return "errno " + std::to_string(parsed.Error().code.value());
    return *parsed ? "answered" : "more";
}

// A kernel-style answer: header, body, attributes, each aligned.
class Reply {
public:
    Reply(unsigned short type, std::uint32_t seq, const void* body, std::size_t bodySize) {
        m_bytes.resize(NLMSG_HDRLEN);
        nlmsghdr hdr{};
        hdr.nlmsg_type = type;
        hdr.nlmsg_seq = seq;
        std::memcpy(m_bytes.data(), &hdr, sizeof hdr);
        Append(body, bodySize);
    }
    Reply& Attr(unsigned short type, const void* data, std::size_t len) {
        rtattr attr{};
        attr.rta_type = type;
        attr.rta_len = static_cast<unsigned short>(RTA_LENGTH(len));
        Append(&attr, sizeof attr);
        Append(data, len);
        return *this;
    }
    std::vector<std::uint8_t> Bytes() const {
        std::vector<std::uint8_t> out = m_bytes;
        std::uint32_t len = static_cast<std::uint32_t>(out.size());
        std::memcpy(out.data(), &len, sizeof len);
        return out;
    }

private:
    void Append(const void* data, std::size_t len) {
        std::size_t at = m_bytes.size();
        m_bytes.resize(at + NLMSG_ALIGN(len), 0);
        std::memcpy(m_bytes.data() + at, data, len);
    }
    std::vector<std::uint8_t> m_bytes;
};

std::vector<std::uint8_t> ErrorReply(std::uint32_t seq, int error) {
    nlmsgerr err{};
    err.error = -error;
    return Reply(NLMSG_ERROR, seq, &err, sizeof err).Bytes();
}

std::vector<std::uint8_t> RouteReply(std::uint32_t seq, int oif, const char* prefsrc, const char* gateway) {
    rtmsg rtm{};
    rtm.rtm_family = AF_INET;
    rtm.rtm_type = RTN_UNICAST;
    Reply reply(RTM_NEWROUTE, seq, &rtm, sizeof rtm);
    std::uint32_t dst = Ip("10.1.2.3");
    reply.Attr(RTA_DST, &dst, 4).Attr(RTA_OIF, &oif, sizeof oif);
    if (prefsrc) {
        std::uint32_t src = Ip(prefsrc);
        reply.Attr(RTA_PREFSRC, &src, 4);
    }
    if (gateway) {
        std::uint32_t gw = Ip(gateway);
        reply.Attr(RTA_GATEWAY, &gw, 4);
    }
    return reply.Bytes();
}

}  // namespace

TEST(NetlinkRoute, RequestNamesOneIpv4Destination) {
    auto msg = BuildGetRouteRequest(77, Ip("192.168.1.20"));
    nlmsghdr hdr;
    std::memcpy(&hdr, msg.data(), sizeof hdr);
    EXPECT_EQ(hdr.nlmsg_len, msg.size());
    EXPECT_EQ(hdr.nlmsg_type, RTM_GETROUTE);
    EXPECT_EQ(hdr.nlmsg_flags, NLM_F_REQUEST);  // one answer, not a dump
    EXPECT_EQ(hdr.nlmsg_seq, 77u);
    rtmsg rtm;
    std::memcpy(&rtm, msg.data() + NLMSG_HDRLEN, sizeof rtm);
    EXPECT_EQ(rtm.rtm_family, AF_INET);
    EXPECT_EQ(rtm.rtm_dst_len, 32);
    rtattr attr;
    std::size_t at = NLMSG_HDRLEN + NLMSG_ALIGN(sizeof(rtmsg));
    ASSERT_GE(msg.size(), at + RTA_LENGTH(4));
    std::memcpy(&attr, msg.data() + at, sizeof attr);
    EXPECT_EQ(attr.rta_type, RTA_DST);
    EXPECT_EQ(attr.rta_len, RTA_LENGTH(4));
    const std::uint8_t* value = msg.data() + at + RTA_LENGTH(0);
    EXPECT_EQ(value[0], 192);  // network byte order, first octet first
    EXPECT_EQ(value[3], 20);
}

TEST(NetlinkRoute, ReplyTellsOnLinkFromGateway) {
    RouteInfo route;
    auto onLink = RouteReply(5, 3, "10.1.0.1", nullptr);
    ASSERT_EQ(Said(ParseRouteReply(onLink, 5, route)), "answered");
    EXPECT_FALSE(route.viaGateway);
    EXPECT_EQ(route.oif, 3);
    EXPECT_EQ(route.prefsrc, Ip("10.1.0.1"));
    EXPECT_EQ(route.type, RTN_UNICAST);

    auto routed = RouteReply(6, 2, "10.1.0.1", "10.1.0.254");
    ASSERT_EQ(Said(ParseRouteReply(routed, 6, route)), "answered");
    EXPECT_TRUE(route.viaGateway);
}

TEST(NetlinkRoute, ErrorsAndForeignAnswers) {
    RouteInfo route;
    auto unreachable = ErrorReply(9, ENETUNREACH);
    EXPECT_EQ(Said(ParseRouteReply(unreachable, 9, route)), "errno " + std::to_string(ENETUNREACH));

    // An answer to an older request is skipped; ours behind it in the same buffer is found.
    auto stale = RouteReply(8, 4, nullptr, nullptr);
    auto ours = RouteReply(9, 7, nullptr, nullptr);
    std::vector<std::uint8_t> both = stale;
    both.insert(both.end(), ours.begin(), ours.end());
    ASSERT_EQ(Said(ParseRouteReply(both, 9, route)), "answered");
    EXPECT_EQ(route.oif, 7);
    EXPECT_EQ(Said(ParseRouteReply(stale, 9, route)), "more");
}

TEST(NetlinkRoute, MalformedBuffersAreRejectedWithoutOverreading) {
    RouteInfo route;
    auto reply = RouteReply(3, 4, "10.0.0.1", nullptr);
    // Every cut of the buffer: a message claiming more than is there is not parsed.
    for (std::size_t cut = 0; cut < reply.size(); ++cut) {
        std::vector<std::uint8_t> part(reply.begin(), reply.begin() + cut);
        EXPECT_NE(Said(ParseRouteReply(part, 3, route)), "answered") << cut;
    }
    // An attribute whose length runs past its message is ignored.
    auto bad = reply;
    std::size_t firstAttr = NLMSG_HDRLEN + NLMSG_ALIGN(sizeof(rtmsg));
    unsigned short huge = 0xFFF0;
    std::memcpy(bad.data() + firstAttr, &huge, sizeof huge);
    route = RouteInfo{};
    EXPECT_EQ(Said(ParseRouteReply(bad, 3, route)), "answered");
    EXPECT_EQ(route.oif, 0);
}

TEST(NetlinkNeigh, RequestAndReply) {
    auto msg = BuildGetNeighRequest(11, Ip("10.0.0.7"), 5);
    nlmsghdr hdr;
    std::memcpy(&hdr, msg.data(), sizeof hdr);
    EXPECT_EQ(hdr.nlmsg_type, RTM_GETNEIGH);
    EXPECT_EQ(hdr.nlmsg_flags, NLM_F_REQUEST);
    ndmsg ndm;
    std::memcpy(&ndm, msg.data() + NLMSG_HDRLEN, sizeof ndm);
    EXPECT_EQ(ndm.ndm_family, AF_INET);
    EXPECT_EQ(ndm.ndm_ifindex, 5);

    ndmsg body{};
    body.ndm_family = AF_INET;
    body.ndm_ifindex = 5;
    body.ndm_state = NUD_STALE;
    const std::uint8_t mac[6] = {0x02, 0x00, 0x12, 0x34, 0x56, 0xAB};
    std::uint32_t dst = Ip("10.0.0.7");
    auto reply =
        Reply(RTM_NEWNEIGH, 11, &body, sizeof body).Attr(NDA_DST, &dst, 4).Attr(NDA_LLADDR, mac, 6).Bytes();
    NeighInfo neigh;
    ASSERT_EQ(Said(ParseNeighReply(reply, 11, neigh)), "answered");
    EXPECT_EQ(neigh.state, NUD_STALE);
    ASSERT_EQ(neigh.lladdrLength, 6u);
    EXPECT_EQ(std::memcmp(neigh.lladdr, mac, 6), 0);

    // An over-long link-layer address is cut to what the record holds.
    std::uint8_t longAddr[40];
    std::memset(longAddr, 0xAA, sizeof longAddr);
    auto longReply =
        Reply(RTM_NEWNEIGH, 12, &body, sizeof body).Attr(NDA_LLADDR, longAddr, sizeof longAddr).Bytes();
    ASSERT_EQ(Said(ParseNeighReply(longReply, 12, neigh)), "answered");
    EXPECT_EQ(neigh.lladdrLength, sizeof neigh.lladdr);

    auto missing = ErrorReply(13, ENOENT);
    EXPECT_EQ(Said(ParseNeighReply(missing, 13, neigh)), "errno " + std::to_string(ENOENT));
}

TEST(NetlinkNeigh, DumpCollectsEveryEntryUntilItsEnd) {
    auto dump = BuildDumpNeighRequest(21);
    nlmsghdr hdr;
    std::memcpy(&hdr, dump.data(), sizeof hdr);
    EXPECT_EQ(hdr.nlmsg_flags, NLM_F_REQUEST | NLM_F_DUMP);

    ndmsg body{};
    body.ndm_family = AF_INET;
    body.ndm_ifindex = 3;
    body.ndm_state = NUD_REACHABLE;
    const std::uint8_t mac[6] = {0x02, 0, 0, 0, 0, 0x07};
    std::uint32_t first = Ip("10.0.0.7"), second = Ip("10.0.0.8");
    auto one =
        Reply(RTM_NEWNEIGH, 21, &body, sizeof body).Attr(NDA_DST, &first, 4).Attr(NDA_LLADDR, mac, 6).Bytes();
    auto two = Reply(RTM_NEWNEIGH, 21, &body, sizeof body).Attr(NDA_DST, &second, 4).Bytes();
    auto stale =
        Reply(RTM_NEWNEIGH, 20, &body, sizeof body).Attr(NDA_DST, &second, 4).Bytes();  // an older request's
    int done = 0;
    auto end = Reply(NLMSG_DONE, 21, &done, sizeof done).Bytes();

    // One datagram without the end, then the end: entries gather until NLMSG_DONE.
    std::vector<std::uint8_t> part = one;
    part.insert(part.end(), stale.begin(), stale.end());
    part.insert(part.end(), two.begin(), two.end());
    std::vector<NeighInfo> entries;
    EXPECT_EQ(Said(ParseNeighDump(part, 21, entries)), "more");
    EXPECT_EQ(Said(ParseNeighDump(end, 21, entries)), "answered");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].dst, first);
    EXPECT_EQ(entries[0].ifindex, 3);
    EXPECT_EQ(std::memcmp(entries[0].lladdr, mac, 6), 0);
    EXPECT_EQ(entries[1].dst, second);
    EXPECT_EQ(entries[1].lladdrLength, 0u);

    // An error ends it with its code; a cut header ends the walk without an end.
    auto failed = ErrorReply(21, EPERM);
    EXPECT_EQ(Said(ParseNeighDump(failed, 21, entries)), "errno " + std::to_string(EPERM));
    EXPECT_EQ(Said(ParseNeighDump(ByteView(end).first(end.size() - 1), 21, entries)), "more");
}

TEST(Ipv4, PacketHeaderAsTheKernelWritesIt) {
    const std::uint8_t icmp[8] = {0x0A, 0x4A, 0xF6, 0xAE, 0xFE, 0xE4, 0x00, 0x22};
    auto packet = BuildIcmpPacket(Ip("10.9.0.1"), Ip("255.255.255.255"), 0x16C3, 64, icmp);
    // The kernel's own broadcast of this request from 10.9.0.1, byte for byte.
    const std::uint8_t expected[28] = {0x45, 0x00, 0x00, 0x1C, 0x16, 0xC3, 0x40, 0x00, 0x40, 0x01,
                                       0x1A, 0x15, 10,   9,    0,    1,    255,  255,  255,  255,
                                       0x0A, 0x4A, 0xF6, 0xAE, 0xFE, 0xE4, 0x00, 0x22};
    ASSERT_EQ(packet.size(), sizeof expected);
    EXPECT_EQ(std::memcmp(packet.data(), expected, sizeof expected), 0);
}

TEST(NetlinkNeigh, StatesWithAValidAddress) {
    for (std::uint16_t s : {NUD_STALE, NUD_REACHABLE, NUD_DELAY, NUD_PROBE, NUD_PERMANENT, NUD_NOARP})
        EXPECT_TRUE(NeighStateUsable(s)) << s;
    for (std::uint16_t s : {NUD_NONE, NUD_INCOMPLETE, NUD_FAILED})
        EXPECT_FALSE(NeighStateUsable(s)) << s;
}

TEST(Arp, RequestLayoutAndAnswerMatching) {
    const std::uint8_t own[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
    auto arp = BuildArpRequest(own, Ip("10.0.0.1"), Ip("10.0.0.9"));
    ASSERT_EQ(arp.size(), kArpLength);
    const std::uint8_t header[8] = {0x00, 0x01, 0x08, 0x00, 6, 4, 0x00, 0x01};
    EXPECT_EQ(std::memcmp(arp.data(), header, 8), 0);
    EXPECT_EQ(std::memcmp(arp.data() + 8, own, 6), 0);
    EXPECT_EQ(arp[14], 10);
    EXPECT_EQ(arp[17], 1);
    for (int i = 18; i < 24; ++i)
        EXPECT_EQ(arp[i], 0) << i;
    EXPECT_EQ(arp[27], 9);

    // The answer: device 10.0.0.9 tells its address.
    std::vector<std::uint8_t> answer = arp;
    answer[7] = 2;
    const std::uint8_t device[6] = {0x02, 0x00, 0x0A, 0x00, 0x00, 0x09};
    std::memcpy(answer.data() + 8, device, 6);
    std::uint32_t deviceIp = Ip("10.0.0.9"), ownIp = Ip("10.0.0.1");
    std::memcpy(answer.data() + 14, &deviceIp, 4);
    std::memcpy(answer.data() + 18, own, 6);
    std::memcpy(answer.data() + 24, &ownIp, 4);
    std::uint8_t mac[6] = {};
    ASSERT_TRUE(ParseArpFromSender(answer, deviceIp, mac));
    EXPECT_EQ(std::memcmp(mac, device, 6), 0);
    EXPECT_FALSE(ParseArpFromSender(answer, Ip("10.0.0.8"), mac));
    EXPECT_FALSE(ParseArpFromSender(ByteView(answer).first(kArpLength - 1), deviceIp, mac));
    answer[1] = 6;  // not Ethernet
    EXPECT_FALSE(ParseArpFromSender(answer, deviceIp, mac));
}
