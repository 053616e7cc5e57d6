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

namespace {

// Unicode's format characters (general category Cf, Unicode 15): invisible, yet able to reorder,
// join or hide the text around them. First and last code point of each run.
constexpr struct {
    char32_t first, last;
} kFormatCharacters[] = {
    {0x00AD, 0x00AD},   {0x0600, 0x0605},   {0x061C, 0x061C},   {0x06DD, 0x06DD},   {0x070F, 0x070F},
    {0x0890, 0x0891},   {0x08E2, 0x08E2},   {0x180E, 0x180E},   {0x200B, 0x200F},   {0x202A, 0x202E},
    {0x2060, 0x2064},   {0x2066, 0x206F},   {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD},
    {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0001, 0xE0001},
    {0xE0020, 0xE007F},
};

// The code point of the well-formed UTF-8 sequence at i, or -1.
long CodePointAt(const std::string& text, std::size_t i) {
    const auto byte = [&text](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char c = byte(i);
    const std::size_t more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 ? 1 : 0;
    if (more == 0 || text.size() - i <= more || !IsUtf8(text.substr(i, more + 1)))
        return -1;
    long code = c & (0x3F >> more);
    for (std::size_t k = 1; k <= more; ++k)
        code = (code << 6) | (byte(i + k) & 0x3F);
    return code;
}

// Bytes of the UTF-8 form of a code point.
std::size_t Utf8Length(unsigned code) {
    return code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
}

void AppendCode(std::string& out, const char* format, unsigned code) {
    char hex[12];
    std::snprintf(hex, sizeof hex, format, code);
    out += hex;
}

// \uHHHH; above U+FFFF, JSON's surrogate pair, or \UHHHHHHHH in text.
void AppendUnicodeEscape(std::string& out, unsigned code, bool json) {
    if (code <= 0xFFFF) {
        AppendCode(out, "\\u%04X", code);
    } else if (json) {
        AppendCode(out, "\\u%04X", 0xD800 + ((code - 0x10000) >> 10));
        AppendCode(out, "\\u%04X", 0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
        AppendCode(out, "\\U%08X", code);
    }
}

}  // namespace

int LayoutControlAt(const std::string& text, std::size_t i) {
    const long code = CodePointAt(text, i);
    if (code == 0x2028 || code == 0x2029)
        return static_cast<int>(code);
    for (const auto& run : kFormatCharacters)
        if (code >= static_cast<long>(run.first) && code <= static_cast<long>(run.last))
            return static_cast<int>(code);
    return -1;
}

std::string EscapeLayoutControls(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (const int layout = LayoutControlAt(text, i); layout >= 0) {
            AppendUnicodeEscape(out, static_cast<unsigned>(layout), false);
            i += Utf8Length(static_cast<unsigned>(layout)) - 1;
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
            AppendUnicodeEscape(out, static_cast<unsigned>(layout), json);
            i += Utf8Length(static_cast<unsigned>(layout)) - 1;
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
