#pragma once
// IPv4 and hardware addresses as text: the one way every part of the program reads and writes them.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Four decimal octets without leading zeros (which inet_addr would read as octal) and nothing else,
// as an address in network byte order; none for any other text, one with a NUL in it too.
std::optional<std::uint32_t> ParseIpv4(const std::string& text);
// The dotted quad of an address in network byte order.
std::string Ipv4Text(std::uint32_t networkOrder);

// Colon-separated parts of one or two hex digits ("02:00:0A:4D:01:0A") as their bytes, however
// many; none for any other text ("n/a" for a device behind a router).
std::optional<std::vector<std::uint8_t>> ParseMac(const std::string& text);
// True for a MAC text of six parts.
bool IsMac(const std::string& text);
// Upper-case hex pairs with colons between them ("02:00:0A:4D:01:0A").
std::string MacText(const std::uint8_t* bytes, std::size_t length);
