#pragma once
// The one way device text (type and build, raw bytes from the wire) becomes readable text: the
// list, the tab-separated and the JSON output all show it through DeviceTextUtf8.
#include <string>

// True when bytes is well-formed UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
bool IsUtf8(const std::string& bytes);
// bytes as they are when they are valid UTF-8; otherwise every byte taken as its Latin-1
// character, so the result is always valid UTF-8 and no byte is lost or merged.
std::string DeviceTextUtf8(const std::string& bytes);
