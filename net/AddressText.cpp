#include "net/AddressText.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>

std::optional<std::uint32_t> ParseIpv4(const std::string& text) {
    in_addr addr{};
    if (text.find('\0') != std::string::npos || inet_pton(AF_INET, text.c_str(), &addr) != 1)
        return std::nullopt;
    return addr.s_addr;
}

std::string Ipv4Text(std::uint32_t networkOrder) {
    char text[INET_ADDRSTRLEN];
    return inet_ntop(AF_INET, &networkOrder, text, sizeof text);
}

std::optional<std::vector<std::uint8_t>> ParseMac(const std::string& text) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t start = 0;;) {
        const std::size_t end = std::min(text.find(':', start), text.size());
        std::uint8_t value = 0;
        const auto [stop, error] = std::from_chars(text.data() + start, text.data() + end, value, 16);
        if (end - start > 2 || error != std::errc() || stop != text.data() + end)
            return std::nullopt;
        bytes.push_back(value);
        if (end == text.size())
            return bytes;
        start = end + 1;
    }
}

bool IsMac(const std::string& text) {
    const auto bytes = ParseMac(text);
    return bytes && bytes->size() == 6;
}

std::string MacText(const std::uint8_t* bytes, std::size_t length) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < length; ++i) {
        if (i > 0)
            text += ':';
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    return text;
}
