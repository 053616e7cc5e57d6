#include "SimProtocol.h"

#include <arpa/inet.h>

#include <charconv>
#include <cstring>
#include <string_view>

#include "net/InternetChecksum.h"

namespace sim {

namespace {

std::uint16_t Get16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

std::uint32_t Get32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

void Put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}

void Put32(std::uint8_t* p, std::uint32_t v) {
    Put16(p, static_cast<std::uint16_t>(v >> 16));
    Put16(p + 2, static_cast<std::uint16_t>(v));
}

constexpr std::uint16_t kEtherIp = 0x0800;
constexpr std::uint16_t kEtherArp = 0x0806;
const std::uint8_t kSolicitationMarker[4] = {0xFE, 0xE4, 0x00, 0x22};
const std::uint8_t kAdvertisementMarker[4] = {0x00, 0x27, 0x11, 0x74};

int HexDigit(char c) {
    int digit = -1;
    std::from_chars(&c, &c + 1, digit, 16);
    return digit;
}

}  // namespace

std::uint16_t Checksum(ByteView data) {
    return InternetChecksum(data.data(), data.size());
}

std::optional<ArpMessage> ParseArp(ByteView f) {
    if (f.size() < kEthHeader + 28 || Get16(&f[12]) != kEtherArp)
        return std::nullopt;
    const std::uint8_t* a = &f[kEthHeader];
    if (Get16(a) != 1 || Get16(a + 2) != kEtherIp || a[4] != 6 || a[5] != 4)
        return std::nullopt;
    ArpMessage m;
    m.op = Get16(a + 6);
    std::memcpy(m.senderMac.data(), a + 8, 6);
    m.senderIp = Get32(a + 14);
    m.targetIp = Get32(a + 24);
    return m;
}

std::optional<IcmpPacket> ParseIcmp(ByteView f) {
    if (f.size() < kEthHeader + kIpHeader || Get16(&f[12]) != kEtherIp)
        return std::nullopt;
    const ByteView ip = f.subspan(kEthHeader);
    std::size_t ihl = std::size_t(ip[0] & 0x0F) * 4;
    std::size_t total = Get16(&ip[2]);
    if ((ip[0] >> 4) != 4 || ihl < kIpHeader || ip[9] != 1 || total < ihl || total > ip.size())
        return std::nullopt;
    if (Get16(&ip[6]) & 0x3FFF)  // a fragment: devices answer whole requests only
        return std::nullopt;
    IcmpPacket p;
    std::memcpy(p.srcMac.data(), &f[6], 6);
    p.ttl = ip[8];
    p.srcIp = Get32(&ip[12]);
    p.dstIp = Get32(&ip[16]);
    const ByteView icmp = ip.subspan(ihl, total - ihl);
    p.icmp.assign(icmp.begin(), icmp.end());
    return p;
}

bool IsMarkedSolicitation(const Bytes& icmp) {
    return icmp.size() >= 8 && icmp[0] == 10 && icmp[1] == 0x4A &&
           std::memcmp(icmp.data() + 4, kSolicitationMarker, 4) == 0;
}

bool IsDiscoverRequest(const Bytes& icmp) {
    return icmp.size() == 8 && IsMarkedSolicitation(icmp);
}

Bytes BuildAdvertisement(std::uint32_t routerIp, bool marked, const Bytes& extra) {
    Bytes m(16 + (marked ? extra.size() : 0), 0);
    m[0] = 9;            // router advertisement
    m[4] = 1;            // one address
    m[5] = 2;            // entry size in 32-bit words
    Put16(&m[6], 1800);  // lifetime in seconds
    Put32(&m[8], routerIp);
    if (marked) {
        std::memcpy(&m[12], kAdvertisementMarker, 4);
        if (!extra.empty())
            std::memcpy(&m[16], extra.data(), extra.size());
    }
    Put16(&m[2], Checksum(m));
    return m;
}

Bytes BuildArpFrame(std::uint16_t op, const Mac& srcMac, std::uint32_t srcIp, const Mac& dstMac,
                    std::uint32_t dstIp) {
    Bytes f(kEthHeader + 28, 0);
    std::memcpy(&f[0], op == 1 ? kBroadcastMac.data() : dstMac.data(), 6);
    std::memcpy(&f[6], srcMac.data(), 6);
    Put16(&f[12], kEtherArp);
    std::uint8_t* a = &f[kEthHeader];
    Put16(a, 1);
    Put16(a + 2, kEtherIp);
    a[4] = 6;
    a[5] = 4;
    Put16(a + 6, op);
    std::memcpy(a + 8, srcMac.data(), 6);
    Put32(a + 14, srcIp);
    if (op != 1)
        std::memcpy(a + 18, dstMac.data(), 6);
    Put32(a + 24, dstIp);
    return f;
}

Bytes BuildIcmpFrame(const Mac& srcMac, const Mac& dstMac, std::uint32_t srcIp, std::uint32_t dstIp,
                     std::uint8_t ttl, const Bytes& icmp) {
    Bytes f(kEthHeader + kIpHeader + icmp.size(), 0);
    std::memcpy(&f[0], dstMac.data(), 6);
    std::memcpy(&f[6], srcMac.data(), 6);
    Put16(&f[12], kEtherIp);
    std::uint8_t* ip = &f[kEthHeader];
    ip[0] = 0x45;
    Put16(ip + 2, static_cast<std::uint16_t>(kIpHeader + icmp.size()));
    ip[8] = ttl;
    ip[9] = 1;
    Put32(ip + 12, srcIp);
    Put32(ip + 16, dstIp);
    Put16(ip + 10, Checksum({ip, kIpHeader}));
    std::memcpy(ip + kIpHeader, icmp.data(), icmp.size());
    return f;
}

Bytes WithIpOptions(const Bytes& frame, const Bytes& options) {
    Bytes f(frame);
    f.insert(f.begin() + kEthHeader + kIpHeader, options.begin(), options.end());
    std::uint8_t* ip = &f[kEthHeader];
    const std::size_t header = kIpHeader + options.size();
    ip[0] = static_cast<std::uint8_t>(0x40 | (header / 4));
    Put16(ip + 2, static_cast<std::uint16_t>(f.size() - kEthHeader));
    Put16(ip + 10, 0);
    Put16(ip + 10, Checksum({ip, header}));
    return f;
}

Bytes ForwardFrame(ByteView frame, const Mac& srcMac, const Mac& dstMac) {
    if (frame.size() < kEthHeader + kIpHeader || Get16(&frame[12]) != kEtherIp ||
        (frame[kEthHeader] >> 4) != 4)
        return {};
    std::size_t ihl = std::size_t(frame[kEthHeader] & 0x0F) * 4;
    if (ihl < kIpHeader || frame.size() < kEthHeader + ihl || frame[kEthHeader + 8] <= 1)
        return {};
    Bytes f(frame.begin(), frame.end());
    std::memcpy(&f[0], dstMac.data(), 6);
    std::memcpy(&f[6], srcMac.data(), 6);
    std::uint8_t* ip = &f[kEthHeader];
    ip[8] -= 1;
    Put16(ip + 10, 0);
    Put16(ip + 10, Checksum({ip, ihl}));
    return f;
}

std::optional<std::uint32_t> ParseIp(const std::string& text) {
    in_addr address{};
    // c_str() ends at an embedded NUL, which inet_pton would never see.
    if (text.find('\0') != std::string::npos || inet_pton(AF_INET, text.c_str(), &address) != 1)
        return std::nullopt;
    return ntohl(address.s_addr);
}

std::string FormatIp(std::uint32_t ip) {
    const in_addr address{htonl(ip)};
    char text[INET_ADDRSTRLEN];
    return inet_ntop(AF_INET, &address, text, sizeof text);
}

std::optional<Mac> ParseMac(const std::string& text) {
    auto bytes = ParseHex(text);
    if (!bytes || bytes->size() != 6 || text.size() != 17)
        return std::nullopt;
    Mac mac;
    std::memcpy(mac.data(), bytes->data(), 6);
    return mac;
}

std::optional<Bytes> ParseHex(const std::string& text) {
    Bytes out;
    int high = -1;
    for (char c : text) {
        if (c == ' ' || c == ':' || c == '-') {
            if (high >= 0)
                return std::nullopt;  // half a byte before a separator
            continue;
        }
        int d = HexDigit(c);
        if (d < 0)
            return std::nullopt;
        if (high < 0) {
            high = d;
        } else {
            out.push_back(static_cast<std::uint8_t>(high << 4 | d));
            high = -1;
        }
    }
    if (high >= 0)
        return std::nullopt;
    return out;
}

std::string FormatHex(const Bytes& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i)
            out += ' ';
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 0x0F];
    }
    return out;
}

std::optional<Bytes> Unescape(const std::string& text) {
    Bytes out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c != '\\') {
            out.push_back(static_cast<std::uint8_t>(c));
            continue;
        }
        if (++i >= text.size())
            return std::nullopt;
        // The escapes and what they stand for, at the same place.
        static const std::string_view kEscapes("nrt0\\"), kBytes("\n\r\t\0\\", 5);
        if (const auto k = kEscapes.find(text[i]); k != kEscapes.npos) {
            out.push_back(static_cast<std::uint8_t>(kBytes[k]));
            continue;
        }
        // \xHH: two hex digits make one byte, anything else none or half of one.
        const auto byte = text[i] == 'x' ? ParseHex(text.substr(i + 1, 2)) : std::nullopt;
        if (!byte || byte->size() != 1)
            return std::nullopt;
        out.push_back(byte->front());
        i += 2;
    }
    return out;
}

}  // namespace sim
