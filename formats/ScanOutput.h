#pragma once
// How devices are written out as text: oldiscovery-scan's outputs and the saved list.
#include <map>
#include <string>
#include <vector>

#include "engine/Orvalink.h"

// Devices by numeric IP address; equal addresses keep their arrival order.
void SortDevices(std::vector<COrvalink>& devices);
// RFC 4180 CSV, UTF-8 without a byte order mark: the header line "ip,mac,type,build", then one
// record per device, every line ending in CRLF. Device text is shown the way the window's list
// shows it (EscapeDeviceText: controls and format characters escaped); a field holding a comma,
// a quote or an outer space is quoted, inner quotes doubled, so a CSV reader gets that text back.
// A field that begins with =, +, -, @, a tab or a carriage return gets a leading apostrophe, so
// that a spreadsheet shows it as text rather than running it as a formula.
std::string FormatCsv(const std::vector<COrvalink>& devices);
// Both outputs are UTF-8: a field that is valid UTF-8 is shown as such, any other field byte by
// byte as Latin-1 (DeviceTextUtf8), the same way the program's list shows it.
// One line per device: IP, MAC, type, build, separated by tabs. A tab, line break, backslash
// or other control character (C0, DEL, C1) inside a field is written as an escape (\t, \n, \r,
// \\, \xHH with the character's code) so every line keeps its four columns.
std::string FormatTable(const std::vector<COrvalink>& devices);
// A JSON array of {"ip","mac","type","build","interface"} objects; control characters as JSON
// escapes.
std::string FormatJson(const std::vector<COrvalink>& devices);
// One device as a JSON object of FormatJson on a line of its own (JSON lines, for streaming).
std::string FormatJsonLine(const COrvalink& device);
// What the Prometheus output says about the scan itself.
struct ScanSummary {
    bool success = false;         // the scan ran (no device series without it)
    double durationSeconds = 0;   // from the request to the scan's end
    double timestampSeconds = 0;  // the scan's end, seconds since the Unix epoch
    // Interfaces the scan was restricted to: each gets a device count, 0 when none answered.
    std::vector<std::string> interfaces;
    bool truncated = false;  // stopped at its time limit with answers still arriving
    std::map<std::string, std::string> names{};  // MAC -> the name label of its device series
};
// Prometheus text exposition format 0.0.4, with # HELP and # TYPE lines:
// orvalink_device_info{interface,ip,mac,type,build} 1 per device (a device that answered more
// than once is one series), orvalink_devices{interface}, orvalink_scan_success,
// orvalink_scan_duration_seconds, orvalink_scan_timestamp_seconds and orvalink_scan_truncated
// (these four once per
// interface of scan.interfaces, with its interface label; unlabelled when there are none, so
// that the files of several scans can stand side by side in one folder). Label values are the
// device texts as PrometheusLabelValue gives them.
std::string FormatPrometheus(const std::vector<COrvalink>& devices, const ScanSummary& scan);
// A label value in the Prometheus text format: EscapeDeviceText's display form (controls, DEL,
// C1 and the layout controls as \xHH, \t, \n, \r, \uHHHH; a backslash as it is), then \ and \"
// escaped for the format.
std::string PrometheusLabelValue(const std::string& bytes);
// One device text as a JSON string, quotes included, the way FormatJson writes it.
std::string JsonText(const std::string& bytes);
// Seconds (a time since the Unix epoch or a duration) with milliseconds, e.g. 1796645123.456.
std::string SecondsText(double seconds);
