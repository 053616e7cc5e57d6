// IPv4 and MAC texts, read and written the one way every part uses.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include "net/AddressText.h"

TEST(AddressText, Ipv4MustBeDottedDecimal) {
    for (const char* good : {"10.77.1.2", "0.0.0.0", "255.255.255.255", "192.168.100.1"}) {
        const auto addr = ParseIpv4(good);
        ASSERT_TRUE(addr) << good;
        EXPECT_EQ(Ipv4Text(*addr), good);
    }
    EXPECT_EQ(ParseIpv4("10.77.1.2"), htonl(0x0A4D0102));
    for (const char* bad :
         {"", "10.77.1", "10.77.1.2.3", "10.77.1.256", "010.1.1.1", "10.77.1.2 ", " 10.77.1.2", "10.077.1.2",
          "1e.1.1.1", "10..1.2", "-1.2.3.4", "1111.1.1.1", "10.77.1.2\n"})
        EXPECT_FALSE(ParseIpv4(bad)) << bad;
    EXPECT_FALSE(ParseIpv4(std::string("10.77.1.2\0x", 11)));
}

TEST(AddressText, MacTexts) {
    const struct {
        const char* text;
        int bytes;  // -1: none
        bool six;
    } cases[] = {
        {"02:00:0A:4D:01:0A", 6, true}, {"2:0:a:4d:1:a", 6, true}, {"02:00:0A", 3, false},
        {"n/a", -1, false},             {"02:00:0A:4D:01:", -1, false}, {"020:00:0A:4D:01:0A", -1, false},
        {"02-00-0A-4D-01-0A", -1, false}, {"", -1, false},         {"+2:00:0A:4D:01:0A", -1, false},
    };
    for (const auto& c : cases) {
        const auto bytes = ParseMac(c.text);
        EXPECT_EQ(bytes ? static_cast<int>(bytes->size()) : -1, c.bytes) << c.text;
        EXPECT_EQ(IsMac(c.text), c.six) << c.text;
    }
    const std::uint8_t mac[6] = {0x02, 0x00, 0x0A, 0x4D, 0xF1, 0xAB};
    EXPECT_EQ(MacText(mac, 6), "02:00:0A:4D:F1:AB");
    EXPECT_EQ(MacText(mac, 1), "02");
    EXPECT_EQ(MacText(mac, 0), "");
}
