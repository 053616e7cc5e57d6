#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/ScanThread.h"
#include "engine/ScanWorker.h"

namespace {

std::vector<std::uint8_t> WireBytes(unsigned short checksum) {
    std::vector<std::uint8_t> b(2);
    std::memcpy(b.data(), &checksum, 2);
    return b;
}

// ---- checksum ----

TEST(IcmpChecksumTest, DiscoverRequestGivesF6AE) {
    const std::uint8_t request[8] = {0x0A, 0x4A, 0x00, 0x00, 0xFE, 0xE4, 0x00, 0x22};
    EXPECT_EQ(WireBytes(IcmpChecksum(request, 8)), (std::vector<std::uint8_t>{0xF6, 0xAE}));
}

TEST(IcmpChecksumTest, LocateRequestGives8C69) {
    const std::uint8_t request[17] = {0x0A, 0x4A, 0x00, 0x00, 0xFE, 0xE4, 0x00, 0x22, 'b',
                                      'l',  'i',  'n',  'k',  ':',  '3',  '0',  0x00};
    EXPECT_EQ(WireBytes(IcmpChecksum(request, 17)), (std::vector<std::uint8_t>{0x8C, 0x69}));
}

TEST(IcmpChecksumTest, OddLastByteCountsAsHighByteOfAWord) {
    const std::uint8_t one[1] = {0x01};
    EXPECT_EQ(WireBytes(IcmpChecksum(one, 1)), (std::vector<std::uint8_t>{0xFE, 0xFF}));
    // 0x0001 + 0xF200 = 0xF201, complement 0x0DFE.
    const std::uint8_t three[3] = {0x00, 0x01, 0xF2};
    EXPECT_EQ(WireBytes(IcmpChecksum(three, 3)), (std::vector<std::uint8_t>{0x0D, 0xFE}));
    // The byte past the length is not read.
    const std::uint8_t withTail[4] = {0x00, 0x01, 0xF2, 0x77};
    EXPECT_EQ(IcmpChecksum(withTail, 3), IcmpChecksum(three, 3));
}

TEST(IcmpChecksumTest, CarriesAreFoldedUntilNoneRemain) {
    // 0xFFFF + 0xFFFF + 0x0002 = 0x20000, folded 0x0002, complement 0xFFFD.
    const std::uint8_t data[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x02};
    EXPECT_EQ(WireBytes(IcmpChecksum(data, 6)), (std::vector<std::uint8_t>{0xFF, 0xFD}));
    const std::uint8_t empty[1] = {0};
    EXPECT_EQ(WireBytes(IcmpChecksum(empty, 0)), (std::vector<std::uint8_t>{0xFF, 0xFF}));
}

TEST(IcmpChecksumTest, MessageWithItsChecksumInPlaceSumsToZero) {
    std::uint8_t request[17] = {0x0A, 0x4A, 0x00, 0x00, 0xFE, 0xE4, 0x00, 0x22, 'b',
                                'l',  'i',  'n',  'k',  ':',  '3',  '0',  0x00};
    unsigned short sum = IcmpChecksum(request, 17);
    std::memcpy(request + 2, &sum, 2);
    EXPECT_EQ(IcmpChecksum(request, 17), 0);
}

// ---- ExtractValue ----

TEST(ExtractValueTest, ValueRunsFromKeyToLineFeed) {
    EXPECT_EQ(ExtractValue("type:OL-500\nbuild:1009\n", "type:"), "OL-500");
    EXPECT_EQ(ExtractValue("type:OL-500\nbuild:1009\n", "build:"), "1009");
}

TEST(ExtractValueTest, FirstOccurrenceWins) {
    EXPECT_EQ(ExtractValue("type:A\ntype:B\n", "type:"), "A");
}

TEST(ExtractValueTest, MissingKeyOrMissingLineFeedGivesEmpty) {
    EXPECT_EQ(ExtractValue("build:1009\n", "type:"), "");
    EXPECT_EQ(ExtractValue("type:OL-500", "type:"), "");
    EXPECT_EQ(ExtractValue("", "type:"), "");
    // The line feed must come after the key, not before it.
    EXPECT_EQ(ExtractValue("x\ntype:OL-500", "type:"), "");
}

TEST(ExtractValueTest, EmptyValueAndPassThroughBytes) {
    EXPECT_EQ(ExtractValue("type:\nbuild:7\n", "type:"), "");
    EXPECT_EQ(ExtractValue("type:OL 500\r\n", "type:"), "OL 500\r");
}

TEST(ExtractValueTest, KeyIsFoundInsideAnotherItemAndIsCaseSensitive) {
    EXPECT_EQ(ExtractValue("subtype:X\ntype:Y\n", "type:"), "X");
    EXPECT_EQ(ExtractValue("Type:X\ntype:Y\n", "type:"), "Y");
}

// ---- the reply filter ----

std::vector<std::uint8_t> Reply(std::size_t length) {
    std::vector<std::uint8_t> p(length, 0);
    p[0] = 0x45;
    p[20] = 9;
    const std::uint8_t marker[4] = {0x00, 0x27, 0x11, 0x74};
    if (length >= 36)
        std::memcpy(&p[32], marker, 4);
    return p;
}

bool Accepts(const std::vector<std::uint8_t>& p, bool truncated = false, std::uint32_t source = 0x1400000Au) {
    ReceivedPacket info;
    info.length = p.size();
    info.truncated = truncated;
    info.sourceAddr = source;
    return IsDiscoverReply(p.data(), info);
}

// A reply whose IP header carries optionBytes of options (a multiple of 4).
std::vector<std::uint8_t> ReplyWithOptions(std::size_t optionBytes, std::size_t extra = 0) {
    std::vector<std::uint8_t> p = Reply(36 + extra);
    p.insert(p.begin() + 20, optionBytes, 0x01);  // NOP options
    p[0] = static_cast<std::uint8_t>(0x40 | ((20 + optionBytes) / 4));
    return p;
}

TEST(ReplyFilterTest, ThirtySixBytesIsTheShortestReply) {
    EXPECT_TRUE(Accepts(Reply(36)));
    std::vector<std::uint8_t> shortOne = Reply(36);
    shortOne.pop_back();
    EXPECT_FALSE(Accepts(shortOne));
    EXPECT_FALSE(Accepts(Reply(21)));
}

TEST(ReplyFilterTest, TypeMustBeRouterAdvertisement) {
    std::vector<std::uint8_t> p = Reply(40);
    p[20] = 10;
    EXPECT_FALSE(Accepts(p));
    p[20] = 0;
    EXPECT_FALSE(Accepts(p));
    // The code byte is not examined.
    p[20] = 9;
    p[21] = 0x4A;
    EXPECT_TRUE(Accepts(p));
}

TEST(ReplyFilterTest, MarkerIsComparedInNetworkOrder) {
    std::vector<std::uint8_t> p = Reply(40);
    const std::uint8_t swapped[4] = {0x74, 0x11, 0x27, 0x00};
    std::memcpy(&p[32], swapped, 4);
    EXPECT_FALSE(Accepts(p));
    std::vector<std::uint8_t> q = Reply(40);
    q[35] = 0x75;
    EXPECT_FALSE(Accepts(q));
    // The request marker is not the reply marker.
    const std::uint8_t request[4] = {0xFE, 0xE4, 0x00, 0x22};
    std::memcpy(&q[32], request, 4);
    EXPECT_FALSE(Accepts(q));
}

TEST(ReplyFilterTest, TruncatedDatagramIsNotAReply) {
    EXPECT_FALSE(Accepts(Reply(2048), true));
    EXPECT_TRUE(Accepts(Reply(2048)));
    // A length beyond the receive buffer can only be a cut datagram, whatever the flag says.
    std::vector<std::uint8_t> p = Reply(2048);
    ReceivedPacket info;
    info.length = 2049;
    EXPECT_FALSE(IsDiscoverReply(p.data(), info));
}

TEST(ReplyFilterTest, IcmpPartStartsWhereTheHeaderLengthSays) {
    EXPECT_TRUE(Accepts(ReplyWithOptions(4)));
    EXPECT_TRUE(Accepts(ReplyWithOptions(40)));  // the longest header, 60 bytes
    EXPECT_EQ(ReplyHeaderLength(ReplyWithOptions(40).data()), 60u);

    // Option bytes that look like a reply at the fixed offsets, in front of an echo request.
    std::vector<std::uint8_t> fake = Reply(52);
    fake[0] = 0x49;  // 36-byte header: bytes 20 to 35 are options
    fake[36] = 8;    // the real ICMP type: echo request
    ASSERT_TRUE(fake[20] == 9 && fake[35] == 0x74);
    EXPECT_FALSE(Accepts(fake));

    struct Case {
        const char* what;
        std::uint8_t firstByte;
        std::size_t length;
    };
    const Case bad[] = {
        {"header length below 20", 0x44, 40},
        {"header length past the packet", 0x4F, 60},
        {"reply part cut by the header length", 0x46, 39},
        {"not IPv4", 0x65, 40},
    };
    for (const Case& c : bad) {
        std::vector<std::uint8_t> p = ReplyWithOptions(4);
        p[0] = c.firstByte;
        p.resize(c.length);
        EXPECT_FALSE(Accepts(p)) << c.what;
    }
}

TEST(ReplyFilterTest, SourceZeroIsNoDevice) {
    EXPECT_FALSE(Accepts(Reply(40), false, 0));
    EXPECT_TRUE(Accepts(Reply(40), false, 0x0100007Fu));
}

}  // namespace
