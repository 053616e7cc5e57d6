#include "log/DeviceText.h"

#include <cstdio>
#include <string_view>

bool IsUtf8(const std::string& bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t more;
        unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
        if (c >= 0xC2 && c <= 0xDF) {
            more = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2;
            if (c == 0xE0)
                low = 0xA0;  // overlong
            else if (c == 0xED)
                high = 0x9F;  // surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3;
            if (c == 0xF0)
                low = 0x90;  // overlong
            else if (c == 0xF4)
                high = 0x8F;  // above U+10FFFF
        } else {
            return false;
        }
        if (n - i <= more || p[i + 1] < low || p[i + 1] > high)
            return false;
        for (std::size_t k = 2; k <= more; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
        }
        i += more + 1;
    }
    return true;
}

std::string DeviceTextUtf8(const std::string& bytes) {
    if (IsUtf8(bytes))
        return bytes;
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

int C1ControlAt(const std::string& text, std::size_t i) {
    if (static_cast<unsigned char>(text[i]) != 0xC2 || i + 1 >= text.size())
        return -1;
    unsigned char next = static_cast<unsigned char>(text[i + 1]);
    return next >= 0x80 && next <= 0x9F ? next : -1;
}

std::string EscapeDeviceText(const std::string& bytes, ControlEscape form) {
    static constexpr std::string_view kNamed = "\t\n\r\\", kLetters = "tnr\\";
    const bool json = form == ControlEscape::Json;
    const std::string text = DeviceTextUtf8(bytes);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        int control = C1ControlAt(text, i);
        if (const std::size_t named = kNamed.find(static_cast<char>(c)); named != kNamed.npos) {
            out += '\\';
            out += kLetters[named];
        } else if (c == '"' && json) {
            out += "\\\"";
        } else if (c < 0x20 || c == 0x7F || control >= 0) {
            unsigned code = control >= 0 ? static_cast<unsigned>(control) : c;
            char hex[8];
            std::snprintf(hex, sizeof hex, json ? "\\u%04X" : "\\x%02X", code);
            out += hex;
            i += control >= 0 ? 1 : 0;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}
