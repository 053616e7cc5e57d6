#include "discovery/ScanOutput.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>

#include "discovery/DeviceText.h"

namespace {

std::uint32_t NumericIp(const std::string& ip) {
    in_addr addr{};
    return inet_pton(AF_INET, ip.c_str(), &addr) == 1 ? ntohl(addr.s_addr) : 0xFFFFFFFFu;
}

// Code point of the C1 control a UTF-8 text holds at i (bytes C2 80 to C2 9F), or -1.
int C1ControlAt(const std::string& text, std::size_t i) {
    if (static_cast<unsigned char>(text[i]) != 0xC2 || i + 1 >= text.size())
        return -1;
    unsigned char next = static_cast<unsigned char>(text[i + 1]);
    return next >= 0x80 && next <= 0x9F ? next : -1;
}

// Both forms show the device's bytes the one way DeviceTextUtf8 gives them; they differ only in
// how a control character is written (json: "\u00HH", and the quote escaped; else "\xHH").
std::string Escaped(const std::string& bytes, bool json) {
    const std::string text = DeviceTextUtf8(bytes);
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        int control = C1ControlAt(text, i);
        if (c == '\t') {
            out += "\\t";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c == '"' && json) {
            out += "\\\"";
        } else if (c < 0x20 || c == 0x7F || control >= 0) {
            unsigned code = control >= 0 ? static_cast<unsigned>(control) : c;
            char hex[8];
            if (json)
                std::snprintf(hex, sizeof hex, "\\u%04X", code);
            else
                std::snprintf(hex, sizeof hex, "\\x%02X", code);
            out += hex;
            i += control >= 0 ? 1 : 0;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string TableField(const std::string& bytes) {
    return Escaped(bytes, false);
}

std::string JsonString(const std::string& bytes) {
    return "\"" + Escaped(bytes, true) + "\"";
}

}  // namespace

void SortDevices(std::vector<COrvalink>& devices) {
    std::stable_sort(devices.begin(), devices.end(), [](const COrvalink& a, const COrvalink& b) {
        return NumericIp(a.m_strIP) < NumericIp(b.m_strIP);
    });
}

std::string FormatTable(const std::vector<COrvalink>& devices) {
    std::string out;
    for (const COrvalink& d : devices)
        out += TableField(d.m_strIP) + "\t" + TableField(d.m_strMAC) + "\t" + TableField(d.m_strType) + "\t" +
               TableField(d.m_strBuild) + "\n";
    return out;
}

std::string FormatJson(const std::vector<COrvalink>& devices) {
    std::string out = "[";
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const COrvalink& d = devices[i];
        out += i ? ",\n  " : "\n  ";
        out += "{\"ip\": " + JsonString(d.m_strIP) + ", \"mac\": " + JsonString(d.m_strMAC) +
               ", \"type\": " + JsonString(d.m_strType) + ", \"build\": " + JsonString(d.m_strBuild) +
               ", \"interface\": " + JsonString(d.m_strInterface) + "}";
    }
    out += devices.empty() ? "]\n" : "\n]\n";
    return out;
}

bool IsDottedQuad(const std::string& text) {
    int octets = 0;
    std::size_t i = 0;
    while (octets < 4) {
        std::size_t start = i;
        unsigned value = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 3)
            value = value * 10 + unsigned(text[i++] - '0');
        // A leading zero would read as octal to inet_addr.
        if (i == start || value > 255 || (i - start > 1 && text[start] == '0') ||
            (i < text.size() && text[i] >= '0' && text[i] <= '9'))
            return false;
        if (++octets < 4) {
            if (i >= text.size() || text[i] != '.')
                return false;
            ++i;
        }
    }
    return i == text.size();
}
