#include "log/DeviceText.h"

#include <cstdio>
#include <string_view>

std::size_t Utf8Length(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    const std::size_t length = lead < 0x80                    ? 1
                               : lead >= 0xC2 && lead <= 0xDF ? 2
                               : lead >= 0xE0 && lead <= 0xEF ? 3
                               : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                              : 0;
    if (length == 0 || at + length > text.size())
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
    }
    // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8 either.
    const unsigned char second = length > 1 ? byte(at + 1) : 0;
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0) || (lead == 0xF0 && second < 0x90) ||
        (lead == 0xF4 && second >= 0x90))
        return 0;
    return length;
}

bool IsUtf8(const std::string& bytes) {
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t length = Utf8Length(bytes, at);
        if (length == 0)
            return false;
        at += length;
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

int LayoutControlAt(const std::string& text, std::size_t i) {
    if (i + 2 >= text.size() || static_cast<unsigned char>(text[i]) != 0xE2)
        return -1;
    const unsigned second = static_cast<unsigned char>(text[i + 1]),
                   third = static_cast<unsigned char>(text[i + 2]);
    if ((second == 0x80 && third >= 0xA8 && third <= 0xAE) ||
        (second == 0x81 && third >= 0xA6 && third <= 0xA9))
        return static_cast<int>(0x2000 + ((second & 0x3F) << 6) + (third & 0x3F));
    return -1;
}

namespace {

void AppendCode(std::string& out, const char* format, unsigned code) {
    char hex[12];
    std::snprintf(hex, sizeof hex, format, code);
    out += hex;
}

}  // namespace

std::string EscapeLayoutControls(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (const int layout = LayoutControlAt(text, i); layout >= 0) {
            AppendCode(out, "\\u%04X", static_cast<unsigned>(layout));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
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
        const std::size_t named = kNamed.find(static_cast<char>(c));
        if (const int layout = LayoutControlAt(text, i); layout >= 0) {
            AppendCode(out, "\\u%04X", static_cast<unsigned>(layout));
            i += 2;
        } else if (named != kNamed.npos && !(c == '\\' && form == ControlEscape::Label)) {
            out += '\\';
            out += kLetters[named];
        } else if (c == '"' && json) {
            out += "\\\"";
        } else if (c < 0x20 || c == 0x7F || control >= 0) {
            AppendCode(out, json ? "\\u%04X" : "\\x%02X", control >= 0 ? static_cast<unsigned>(control) : c);
            i += control >= 0 ? 1 : 0;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}
