// The simulator's frames: what a device sends must be what a real one sends, byte for byte.
#include <gtest/gtest.h>

#include "SimProtocol.h"

using namespace sim;

namespace {

const Bytes kDiscover = {0x0A, 0x4A, 0xF6, 0xAE, 0xFE, 0xE4, 0x00, 0x22};
const Bytes kLocate = {0x0A, 0x4A, 0x8C, 0x69, 0xFE, 0xE4, 0x00, 0x22, 0x62,
                       0x6C, 0x69, 0x6E, 0x6B, 0x3A, 0x33, 0x30, 0x00};
const Mac kDevice{0x02, 0x00, 0x0A, 0x4D, 0x01, 0x05};
const Mac kHost{0x02, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE};

Bytes WithZeroChecksum(Bytes icmp) {
    icmp[2] = icmp[3] = 0;
    return icmp;
}

}  // namespace

TEST(SimChecksum, KnownRequestsAndOddLengths) {
    Bytes d = WithZeroChecksum(kDiscover);
    EXPECT_EQ(Checksum(d), 0xF6AE);
    Bytes l = WithZeroChecksum(kLocate);
    EXPECT_EQ(Checksum(l), 0x8C69);  // 17 bytes: the odd byte counts as high byte
    // A message with its checksum in place sums to zero.
    EXPECT_EQ(Checksum(kLocate), 0);
    const std::uint8_t one = 0x01;
    EXPECT_EQ(Checksum({&one, 1}), 0xFEFF);
    // Carries are folded until none remain.
    const std::uint8_t ff[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(Checksum(ff), 0x0000);
}

TEST(SimRequests, DiscoverAndLocateAreTold) {
    EXPECT_TRUE(IsDiscoverRequest(kDiscover));
    EXPECT_FALSE(IsDiscoverRequest(kLocate));
    EXPECT_TRUE(IsMarkedSolicitation(kLocate));
    Bytes standard = kDiscover;
    standard[1] = 0;  // a plain router solicitation
    EXPECT_FALSE(IsMarkedSolicitation(standard));
    Bytes otherMarker = kDiscover;
    otherMarker[7] = 0x23;
    EXPECT_FALSE(IsMarkedSolicitation(otherMarker));
    EXPECT_FALSE(IsMarkedSolicitation(Bytes(kDiscover.begin(), kDiscover.begin() + 7)));
}

TEST(SimAdvertisement, MarkedCarriesMarkerAndExtraData) {
    const std::string text = "type:OL-2000\nbuild:1.2\n";
    Bytes extra(text.begin(), text.end());
    Bytes m = BuildAdvertisement(0x0A4D0105, true, extra);
    ASSERT_EQ(m.size(), 16 + extra.size());
    EXPECT_EQ(m[0], 9);
    EXPECT_EQ(m[1], 0);
    EXPECT_EQ((Bytes{m[8], m[9], m[10], m[11]}), (Bytes{10, 77, 1, 5}));
    EXPECT_EQ((Bytes{m[12], m[13], m[14], m[15]}), (Bytes{0x00, 0x27, 0x11, 0x74}));
    EXPECT_EQ(Bytes(m.begin() + 16, m.end()), extra);
    EXPECT_EQ(Checksum(m), 0);

    Bytes none = BuildAdvertisement(0x0A4D0105, true, {});
    EXPECT_EQ(none.size(), 16u);  // 36 bytes with the IP header: the shortest reply

    Bytes standard = BuildAdvertisement(0x0A4D0105, false, extra);
    ASSERT_EQ(standard.size(), 16u);
    EXPECT_EQ((Bytes{standard[12], standard[13], standard[14], standard[15]}), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(Checksum(standard), 0);
}

TEST(SimFrames, IcmpFrameRoundTrip) {
    Bytes icmp = BuildAdvertisement(0x0A4D0105, true, {'x'});
    Bytes f = BuildIcmpFrame(kDevice, kHost, 0x0A4D0105, 0x0A00000A, 64, icmp);
    ASSERT_EQ(f.size(), kEthHeader + kIpHeader + icmp.size());
    EXPECT_EQ(Bytes(f.begin(), f.begin() + 6), Bytes(kHost.begin(), kHost.end()));
    EXPECT_EQ(Checksum(ByteView(f).subspan(kEthHeader, kIpHeader)), 0);  // valid IP header checksum
    auto p = ParseIcmp(f);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->srcIp, 0x0A4D0105u);
    EXPECT_EQ(p->dstIp, 0x0A00000Au);
    EXPECT_EQ(p->srcMac, kDevice);
    EXPECT_EQ(p->icmp, icmp);
}

TEST(SimFrames, IcmpParserRejectsWhatIsNoWholeIcmpPacket) {
    Bytes f = BuildIcmpFrame(kHost, kDevice, 1, 2, 64, kDiscover);
    Bytes fragment = f;
    fragment[kEthHeader + 6] = 0x20;  // more fragments
    EXPECT_FALSE(ParseIcmp(fragment));
    Bytes udp = f;
    udp[kEthHeader + 9] = 17;
    EXPECT_FALSE(ParseIcmp(udp));
    // Total length beyond the frame: never read past the end.
    EXPECT_FALSE(ParseIcmp(ByteView(f).first(f.size() - 1)));
    Bytes shortHeader = f;
    shortHeader[kEthHeader] = 0x44;
    EXPECT_FALSE(ParseIcmp(shortHeader));
    // Ethernet padding after the IP packet is not part of the message.
    Bytes padded = f;
    padded.resize(f.size() + 10, 0);
    auto p = ParseIcmp(padded);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->icmp, kDiscover);
}

TEST(SimFrames, ArpRequestAndReply) {
    Bytes request = BuildArpFrame(1, kDevice, 0x0A4D0105, Mac{}, 0x0A00000A);
    EXPECT_EQ(Bytes(request.begin(), request.begin() + 6), Bytes(6, 0xFF));  // broadcast
    auto a = ParseArp(request);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->op, 1);
    EXPECT_EQ(a->senderMac, kDevice);
    EXPECT_EQ(a->senderIp, 0x0A4D0105u);
    EXPECT_EQ(a->targetIp, 0x0A00000Au);

    Bytes reply = BuildArpFrame(2, kDevice, 0x0A4D0105, kHost, 0x0A00000A);
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 6), Bytes(kHost.begin(), kHost.end()));
    EXPECT_EQ(Bytes(reply.begin() + 32, reply.begin() + 38), Bytes(kHost.begin(), kHost.end()));
    EXPECT_FALSE(ParseArp(ByteView(reply).first(reply.size() - 1)));
}

TEST(SimFrames, RelayLowersTtlAndKeepsHeaderValid) {
    Bytes f = BuildIcmpFrame(kHost, Mac{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0x0A00000A, kLimitedBroadcast,
                             64, kDiscover);
    Bytes out = ForwardFrame(f, kDevice, Mac{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
    ASSERT_EQ(out.size(), f.size());
    EXPECT_EQ(out[kEthHeader + 8], 63);
    EXPECT_EQ(Checksum(ByteView(out).subspan(kEthHeader, kIpHeader)), 0);
    EXPECT_EQ(Bytes(out.begin() + 6, out.begin() + 12), Bytes(kDevice.begin(), kDevice.end()));
    Bytes spent = BuildIcmpFrame(kHost, kDevice, 1, 2, 1, kDiscover);
    EXPECT_TRUE(ForwardFrame(spent, kDevice, kHost).empty());
}

TEST(SimText, AddressesHexAndEscapes) {
    EXPECT_EQ(ParseIp("10.77.1.5"), 0x0A4D0105u);
    for (const char* bad :
         {"256.1.1.1", "1.2.3", "1.2.3.4.", "1..2.3", "", "a.b.c.d", "1.2.3.4 ", "1234.1.1.1"})
        EXPECT_FALSE(ParseIp(bad)) << bad;
    EXPECT_EQ(FormatIp(0x0A4D0105), "10.77.1.5");
    EXPECT_EQ(ParseMac("02:00:0a:4D:01:05"), kDevice);
    EXPECT_FALSE(ParseMac("02:00:0a:4D:01"));
    EXPECT_FALSE(ParseMac("020:00:0a:4D:01:5"));

    EXPECT_EQ(ParseHex("0a4a 8C-69"), (Bytes{0x0A, 0x4A, 0x8C, 0x69}));
    EXPECT_FALSE(ParseHex("0a4"));
    EXPECT_FALSE(ParseHex("0 a"));
    EXPECT_FALSE(ParseHex("zz"));
    EXPECT_EQ(FormatHex(kLocate), "0A 4A 8C 69 FE E4 00 22 62 6C 69 6E 6B 3A 33 30 00");
    EXPECT_EQ(FormatHex({}), "");

    EXPECT_EQ(Unescape("type:a\\nb\\0\\x41\\\\\\r\\t"),
              (Bytes{'t', 'y', 'p', 'e', ':', 'a', '\n', 'b', 0, 'A', '\\', '\r', '\t'}));
    for (const char* bad : {"\\", "a\\q", "\\x4", "\\x", "\\xg0"})
        EXPECT_FALSE(Unescape(bad)) << bad;
}

TEST(SimText, AddressesAreDottedDecimalOnly) {
    // A leading zero would be octal to inet_aton: such a text names no address here.
    for (const char* ambiguous : {"010.77.1.5", "10.77.1.05", "0x0A.77.1.5", "167641349"})
        EXPECT_FALSE(ParseIp(ambiguous)) << ambiguous;
    EXPECT_EQ(ParseIp("0.0.0.0"), 0u);
    EXPECT_EQ(FormatIp(kLimitedBroadcast), "255.255.255.255");
}
