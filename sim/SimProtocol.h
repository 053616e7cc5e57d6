#pragma once
// Frames a simulated device sends and receives: Ethernet, ARP, IPv4 and the ICMP messages of the
// discovery protocol as a device sees them.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sim {

using Mac = std::array<std::uint8_t, 6>;
using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

constexpr std::size_t kEthHeader = 14;
constexpr std::size_t kIpHeader = 20;
constexpr std::uint32_t kLimitedBroadcast = 0xFFFFFFFFu;  // host byte order, like every address here
constexpr Mac kBroadcastMac{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

// RFC 1071 checksum, as it stands on the wire (big-endian bytes).
std::uint16_t Checksum(ByteView data);

// A received Ethernet frame, sorted out.
struct ArpMessage {
    std::uint16_t op = 0;  // 1 request, 2 reply
    Mac senderMac{};
    std::uint32_t senderIp = 0;
    std::uint32_t targetIp = 0;
};
struct IcmpPacket {
    Mac srcMac{};
    std::uint32_t srcIp = 0;
    std::uint32_t dstIp = 0;
    std::uint8_t ttl = 0;
    Bytes icmp;  // the ICMP message, from its type byte to the end of the IP payload
};
std::optional<ArpMessage> ParseArp(ByteView frame);
std::optional<IcmpPacket> ParseIcmp(ByteView frame);

// Marked router solicitations: the 8-byte discover request, and longer ones carrying a command.
bool IsMarkedSolicitation(const Bytes& icmp);
bool IsDiscoverRequest(const Bytes& icmp);

// ICMP router advertisement from routerIp: marked (preference field 00 27 11 74) with extra data
// after it, or a standard one without either.
Bytes BuildAdvertisement(std::uint32_t routerIp, bool marked, const Bytes& extra);

// Whole Ethernet frames.
Bytes BuildArpFrame(std::uint16_t op, const Mac& srcMac, std::uint32_t srcIp, const Mac& dstMac,
                    std::uint32_t dstIp);
Bytes BuildIcmpFrame(const Mac& srcMac, const Mac& dstMac, std::uint32_t srcIp, std::uint32_t dstIp,
                     std::uint8_t ttl, const Bytes& icmp);
// The same IPv4 frame with options (a multiple of 4 bytes) after its 20-byte header; lengths and
// the header checksum follow.
Bytes WithIpOptions(const Bytes& frame, const Bytes& options);
// Re-sends an IPv4 frame from another hardware address with its TTL lowered by one (IP checksum
// updated); empty when the TTL is spent or the frame is no IPv4 packet.
Bytes ForwardFrame(ByteView frame, const Mac& srcMac, const Mac& dstMac);

// Text helpers for the command line and the request record. Addresses are dotted quads of
// decimal numbers without leading zeros (inet_pton).
std::optional<std::uint32_t> ParseIp(const std::string& text);
std::string FormatIp(std::uint32_t ip);
std::optional<Mac> ParseMac(const std::string& text);
// "0a4a 8C-69" style: hex digits with optional separators (space, ':', '-').
std::optional<Bytes> ParseHex(const std::string& text);
// Upper-case hex bytes separated by single spaces.
std::string FormatHex(const Bytes& bytes);
// C-style escapes: \n \r \t \\ \0 \xHH; false on a malformed escape.
std::optional<Bytes> Unescape(const std::string& text);

}  // namespace sim
