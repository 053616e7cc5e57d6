#include "formats/KnownOutput.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <functional>
#include <map>
#include <set>
#include <utility>

#include "formats/ScanOutput.h"
#include "log/DeviceText.h"

namespace {

// In whole milliseconds, not the system clock's nanoseconds: those end in the year 2262, and the
// file holds times up to the year 5138.
std::string Rfc3339Seconds(double seconds) {
    const auto ms = static_cast<long long>(std::floor(seconds * 1000));
    const auto whole = static_cast<std::time_t>(ms / 1000);
    std::tm utc{};
    gmtime_r(&whole, &utc);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03lldZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, ms % 1000);
    return text;
}

// The inventory as a scan's devices sorted the way a scan is, each with its entry.
std::vector<std::pair<COrvalink, const KnownDevice*>> SortedKnown(const CKnownDevices& known) {
    std::vector<COrvalink> devices;
    std::map<CKnownDevices::Key, const KnownDevice*> entries;
    for (const auto& [key, d] : known.Devices()) {
        devices.push_back(AsDevice(d));
        entries.emplace(key, &d);
    }
    SortDevices(devices);
    std::vector<std::pair<COrvalink, const KnownDevice*>> out;
    for (const COrvalink& d : devices)
        out.emplace_back(d, entries.at(KnownKey(d)));
    return out;
}

const char* State(const KnownDevice& d) {
    return d.missed == 0 ? "up" : "missing";
}

// The fleet's three fields of a known device: name, expectation, approved build; as table
// columns or as JSON members.
std::string FleetFields(const KnownDevice& d, const Fleet* fleet, bool json) {
    if (!fleet)
        return {};
    const FleetDevice* f = fleet->Find(d.mac);
    const std::string name = f ? f->name : "";
    const std::optional<bool> approved = fleet->BuildApproved(d.type, d.build);
    const char* expect = ExpectName(f ? f->expect : FleetDevice::Expect::Always);
    if (json)
        return ", \"name\": " + (name.empty() ? "null" : JsonText(name)) + ", \"expect\": \"" + expect +
               "\", \"approved\": " + (approved ? (*approved ? "true" : "false") : "null");
    return "\t" + (name.empty() ? "n/a" : EscapeDeviceText(name, ControlEscape::Text)) +
           "\t" + expect + "\t" + (approved ? (*approved ? "yes" : "no") : "n/a");
}

}  // namespace

std::string FormatKnownTable(const CKnownDevices& known, const Fleet* fleet) {
    std::string out;
    for (const auto& [device, d] : SortedKnown(known)) {
        std::string line = FormatTable({device});
        line.pop_back();
        out += line + "\t" + State(*d) + "\t" + Rfc3339Seconds(d->lastSeen) + "\t" +
               std::to_string(d->missed) + FleetFields(*d, fleet, false) + "\n";
    }
    return out;
}

std::string FormatKnownJson(const CKnownDevices& known, const Fleet* fleet) {
    std::string out = "[";
    const char* separator = "\n  ";
    for (const auto& [device, d] : SortedKnown(known)) {
        std::string object = FormatJsonLine(device);
        object.resize(object.size() - 2);  // the closing brace and the line feed
        out += separator + object + ", \"state\": \"" + State(*d) + "\", \"last_seen\": \"" +
               Rfc3339Seconds(d->lastSeen) + "\", \"missed\": " + std::to_string(d->missed) +
               FleetFields(*d, fleet, true) + "}";
        separator = ",\n  ";
    }
    return out + (known.Devices().empty() ? "]\n" : "\n]\n");
}

std::string FormatKnownPrometheus(const CKnownDevices& known, double scanTime,
                                  const std::vector<std::string>& interfaces,
                                  const std::map<std::string, std::string>& names) {
    std::vector<const KnownDevice*> shown;
    for (const auto& [key, d] : known.Devices())
        if (std::find(interfaces.begin(), interfaces.end(), d.interface) != interfaces.end())
            shown.push_back(&d);
    auto key = [](const KnownDevice& d) {
        return "interface=\"" + PrometheusLabelValue(d.interface) + "\",ip=\"" + PrometheusLabelValue(d.ip) +
               "\",mac=\"" + PrometheusLabelValue(d.mac) + "\"";
    };
    std::string out =
        "# HELP orvalink_device_up Whether a known Orvalink device answered the scan (1) or not (0), with "
        "its type and build as last seen.\n"
        "# TYPE orvalink_device_up gauge\n";
    for (const KnownDevice* d : shown)
        out += "orvalink_device_up{" + key(*d) + ",type=\"" + PrometheusLabelValue(d->type) + "\",build=\"" +
               PrometheusLabelValue(d->build) + "\"" +
               (names.count(d->mac) ? ",name=\"" + PrometheusLabelValue(names.at(d->mac)) + "\"" : "") + "} " +
               (d->lastSeen == scanTime || d->missed == 0 ? "1" : "0") + "\n";
    const struct {
        const char* name;
        const char* help;
        double KnownDevice::*time;
    } times[] = {
        {"orvalink_device_first_seen_timestamp_seconds",
         "When a known Orvalink device first answered, in seconds since the Unix epoch.",
         &KnownDevice::firstSeen},
        {"orvalink_device_last_seen_timestamp_seconds",
         "When a known Orvalink device last answered, in seconds since the Unix epoch.",
         &KnownDevice::lastSeen},
    };
    for (const auto& t : times) {
        out += std::string("# HELP ") + t.name + " " + t.help + "\n# TYPE " + t.name + " gauge\n";
        for (const KnownDevice* d : shown)
            out += std::string(t.name) + "{" + key(*d) + "} " + SecondsText(d->*t.time) + "\n";
    }
    const std::string counted = known.CountedMisses() ? "1" : "0";
    const struct {
        const char* name;
        const char* help;
        std::function<std::string(const std::string&)> value;
    } perInterface[] = {
        {"orvalink_scan_misses_counted",
         "Whether the scan counted a known device that did not answer as missing one more scan (0: it lost "
         "answers or stopped at its time limit, so a silence said nothing).",
         [&](const std::string&) { return counted; }},
        {"orvalink_known_refused_devices",
         "New devices the scan did not keep because their interface holds --max-known known devices.",
         [&](const std::string& name) {
             const auto it = known.Refused().find(name);
             return std::to_string(it == known.Refused().end() ? 0 : it->second);
         }},
    };
    for (const auto& p : perInterface) {
        out += std::string("# HELP ") + p.name + " " + p.help + "\n# TYPE " + p.name + " gauge\n";
        for (const std::string& name : std::set<std::string>(interfaces.begin(), interfaces.end()))
            out += std::string(p.name) + "{interface=\"" + PrometheusLabelValue(name) + "\"} " +
                   p.value(name) + "\n";
    }
    return out;
}
