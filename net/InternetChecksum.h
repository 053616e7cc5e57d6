#pragma once
// The Internet checksum (RFC 1071) of ICMP messages and IPv4 headers. Header-only, so the
// simulator computes it the same way without linking the program's libraries.
#include <cstddef>
#include <cstdint>

// The checksum of length bytes as a number whose big-endian bytes go on the wire; an odd last
// byte counts as the high byte of a word padded with zero.
constexpr std::uint16_t InternetChecksum(const std::uint8_t* data, std::size_t length) {
    std::uint32_t sum = 0;
    std::size_t i = 0;
    for (; i + 1 < length; i += 2)
        sum += static_cast<std::uint32_t>(data[i]) << 8 | data[i + 1];
    if (i < length)
        sum += static_cast<std::uint32_t>(data[i]) << 8;
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum & 0xFFFF);
}
