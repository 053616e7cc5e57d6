#include "discovery/ScanOutput.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>

#include "log/DeviceText.h"

namespace {

std::uint32_t NumericIp(const std::string& ip) {
    in_addr addr{};
    return inet_pton(AF_INET, ip.c_str(), &addr) == 1 ? ntohl(addr.s_addr) : 0xFFFFFFFFu;
}

// Both forms show the device's bytes the one way the log lines show them too; they differ only
// in how a control character is written.
std::string Escaped(const std::string& bytes, bool json) {
    return EscapeDeviceText(bytes, json ? ControlEscape::Json : ControlEscape::Text);
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

namespace {

bool CsvNeedsQuotes(const std::string& text) {
    if (text.empty())
        return false;
    if (text.front() == ' ' || text.back() == ' ')
        return true;
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == ',' || c == '"' || c < 0x20 || c == 0x7F || C1ControlAt(text, i) >= 0)
            return true;
    }
    return false;
}

std::string CsvField(const std::string& bytes) {
    std::string text = DeviceTextUtf8(bytes);
    if (!CsvNeedsQuotes(text))
        return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + "\"";
}

}  // namespace

std::string FormatCsv(const std::vector<COrvalink>& devices) {
    std::string out = "ip,mac,type,build\r\n";
    for (const COrvalink& d : devices)
        out += CsvField(d.m_strIP) + "," + CsvField(d.m_strMAC) + "," + CsvField(d.m_strType) + "," +
               CsvField(d.m_strBuild) + "\r\n";
    return out;
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
               ", \"type\": " + JsonString(d.m_strType) + ", \"build\": " + JsonString(d.m_strBuild) + "}";
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
