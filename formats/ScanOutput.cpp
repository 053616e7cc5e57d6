#include "formats/ScanOutput.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <string_view>

#include "log/DeviceText.h"
#include "net/AddressText.h"

namespace {

std::uint32_t NumericIp(const std::string& ip) {
    const std::optional<std::uint32_t> addr = ParseIpv4(ip);
    return addr ? ntohl(*addr) : 0xFFFFFFFFu;
}

// The table and JSON show the device's bytes the one way the log lines show them too; they
// differ only in how a control character is written.
std::string TableField(const std::string& bytes) {
    return EscapeDeviceText(bytes, ControlEscape::Text);
}

}  // namespace

std::string JsonText(const std::string& bytes) {
    return "\"" + EscapeDeviceText(bytes, ControlEscape::Json) + "\"";
}

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
    // The text as the window's list shows it: no raw control or invisible character reaches the file.
    std::string text = EscapeDeviceText(bytes, ControlEscape::Text);
    // A spreadsheet takes a cell that begins like this for a formula; the apostrophe makes it text.
    if (!text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos)
        text.insert(0, 1, '\'');
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

namespace {

std::string JsonObject(const COrvalink& d) {
    return "{\"ip\": " + JsonText(d.m_strIP) + ", \"mac\": " + JsonText(d.m_strMAC) +
           ", \"type\": " + JsonText(d.m_strType) + ", \"build\": " + JsonText(d.m_strBuild) +
           ", \"interface\": " + JsonText(d.m_strInterface) + "}";
}

}  // namespace

std::string FormatJsonLine(const COrvalink& device) {
    return JsonObject(device) + "\n";
}

std::string FormatJson(const std::vector<COrvalink>& devices) {
    std::string out = "[";
    for (std::size_t i = 0; i < devices.size(); ++i) {
        out += i ? ",\n  " : "\n  ";
        out += JsonObject(devices[i]);
    }
    out += devices.empty() ? "]\n" : "\n]\n";
    return out;
}

std::string PrometheusLabelValue(const std::string& bytes) {
    // Controls are escaped as in a line of text, so neither a terminal that prints a
    // scrape nor a reader of the series gets an escape sequence, a line break or reversed text;
    // a backslash stays one, as the series have always named it.
    const std::string text = EscapeDeviceText(bytes, ControlEscape::Label);
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out;
}

std::string FormatPrometheus(const std::vector<COrvalink>& devices, const ScanSummary& scan) {
    std::string out;
    if (scan.success) {
        // The label sets, escaped and without repeats: a repeated series makes the whole
        // exposition invalid.
        std::set<std::string> series;
        std::map<std::string, std::size_t> perInterface;
        for (const std::string& name : scan.interfaces)
            perInterface.emplace(PrometheusLabelValue(name), 0);
        for (const COrvalink& d : devices) {
            const std::string interface = PrometheusLabelValue(d.m_strInterface);
            std::string labels = "interface=\"" + interface + "\",ip=\"" + PrometheusLabelValue(d.m_strIP) +
                                 "\",mac=\"" + PrometheusLabelValue(d.m_strMAC) + "\",type=\"" +
                                 PrometheusLabelValue(d.m_strType) + "\",build=\"" +
                                 PrometheusLabelValue(d.m_strBuild) + "\"";
            if (const auto name = scan.names.find(d.m_strMAC); name != scan.names.end())
                labels += ",name=\"" + PrometheusLabelValue(name->second) + "\"";
            if (series.insert(std::move(labels)).second)
                ++perInterface[interface];
        }
        out +=
            "# HELP orvalink_device_info An Orvalink device that answered the scan, with its addresses, "
            "type and build.\n"
            "# TYPE orvalink_device_info gauge\n";
        for (const std::string& labels : series)
            out += "orvalink_device_info{" + labels + "} 1\n";
        out +=
            "# HELP orvalink_devices Orvalink devices that answered the scan, per interface.\n"
            "# TYPE orvalink_devices gauge\n";
        for (const auto& [interface, count] : perInterface)
            out += "orvalink_devices{interface=\"" + interface + "\"} " + std::to_string(count) + "\n";
    }
    // A scan restricted to interfaces says so in one series per interface: the node exporter
    // merges the files of all scans of a host (one per interface), and two unlabelled series of
    // one name would be one too many, hiding a failing interface behind a working one.
    std::set<std::string> scanLabels;
    for (const std::string& name : scan.interfaces)
        scanLabels.insert("{interface=\"" + PrometheusLabelValue(name) + "\"}");
    if (scanLabels.empty())
        scanLabels.emplace();
    auto perScan = [&](const char* name, const char* help, const std::string& value) {
        out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " gauge\n";
        for (const std::string& labels : scanLabels)
            out += name + labels + " " + value + "\n";
    };
    perScan("orvalink_scan_success", "Whether the scan could run (1) or not (0).", scan.success ? "1" : "0");
    perScan("orvalink_scan_duration_seconds", "How long the scan took.", SecondsText(scan.durationSeconds));
    perScan("orvalink_scan_timestamp_seconds", "When the scan ended, in seconds since the Unix epoch.",
            SecondsText(scan.timestampSeconds));
    perScan("orvalink_scan_truncated",
            "Whether the scan stopped at its time limit with answers still arriving (1): the list may be "
            "incomplete.",
            scan.truncated ? "1" : "0");
    return out;
}

std::string SecondsText(double seconds) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

