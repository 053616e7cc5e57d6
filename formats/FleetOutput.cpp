#include "formats/FleetOutput.h"

#include <algorithm>
#include <set>

#include "formats/ScanOutput.h"
#include "log/DeviceText.h"

std::string FleetName(const Fleet& fleet, const std::string& mac) {
    const FleetDevice* device = fleet.Find(mac);
    return device ? device->name : std::string();
}

std::map<std::string, std::string> FleetNames(const Fleet& fleet) {
    std::map<std::string, std::string> names;
    for (const auto& [mac, device] : fleet.devices)
        if (!device.name.empty())
            names.emplace(mac, device.name);
    return names;
}

std::string FormatFleetTable(const std::vector<COrvalink>& devices, const Fleet& fleet) {
    std::string out;
    for (const COrvalink& d : devices) {
        std::string line = FormatTable({d});
        line.pop_back();
        const std::string name = FleetName(fleet, d.m_strMAC);
        out += line + "\t" + (name.empty() ? "n/a" : EscapeDeviceText(name, ControlEscape::Text)) + "\n";
    }
    return out;
}

std::string FormatFleetJsonLine(const COrvalink& device, const Fleet& fleet) {
    std::string object = FormatJsonLine(device);
    object.resize(object.size() - 2);  // the closing brace and the line feed
    const std::string name = FleetName(fleet, device.m_strMAC);
    return object + ", \"name\": " + (name.empty() ? "null" : JsonText(name)) + "}\n";
}

std::string FormatFleetJson(const std::vector<COrvalink>& devices, const Fleet& fleet) {
    std::string out = "[";
    for (std::size_t i = 0; i < devices.size(); ++i) {
        std::string line = FormatFleetJsonLine(devices[i], fleet);
        line.pop_back();
        out += (i ? ",\n  " : "\n  ") + line;
    }
    return out + (devices.empty() ? "]\n" : "\n]\n");
}

std::string FormatRemovedPrometheus(
    const std::map<std::pair<std::string, std::string>, unsigned long>& removed,
    const std::vector<std::string>& interfaces) {
    std::string out =
        "# HELP orvalink_known_devices_removed Known devices the scan removed from its file: silent longer "
        "than "
        "--retire-after or retired in the fleet file.\n"
        "# TYPE orvalink_known_devices_removed gauge\n";
    std::set<std::string> names(interfaces.begin(), interfaces.end());
    for (const auto& [key, count] : removed)
        names.insert(key.first);
    for (const std::string& name : names)
        for (const char* reason : {"fleet_retired", "retire_after"}) {
            const auto found = removed.find({name, reason});
            out += "orvalink_known_devices_removed{interface=\"" + PrometheusLabelValue(name) +
                   "\",reason=\"" + reason + "\"} " +
                   std::to_string(found == removed.end() ? 0 : found->second) + "\n";
        }
    return out;
}

std::string FormatFleetPrometheus(const std::vector<COrvalink>& devices, const CKnownDevices* known,
                                  const Fleet& fleet, const std::vector<std::string>& interfaces) {
    // Those that answered (one answering with two builds twice), then the silent known ones.
    std::vector<COrvalink> rows = devices;
    if (known) {
        std::set<CKnownDevices::Key> answered;
        for (const COrvalink& d : devices)
            answered.insert(KnownKey(d));
        for (const auto& [key, d] : known->Devices())
            if (OnScannedInterface(interfaces, d.interface) && !answered.count(key))
                rows.push_back(AsDevice(d));
    }
    const auto label = [](const char* name, const std::string& value) {
        return std::string(name) + "=\"" + PrometheusLabelValue(value) + "\"";
    };
    const auto device = [&](const COrvalink& d) {
        return label("interface", d.m_strInterface) + "," + label("ip", d.m_strIP) + "," +
               label("mac", d.m_strMAC);
    };
    const auto head = [](const char* name, const char* help) {
        return std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " gauge\n";
    };
    std::string out =
        head("orvalink_device_build_approved",
             "Whether the device's build is among the approved builds of its type in the fleet file "
             "(1) or not (0); only for types with approved builds.");
    std::set<std::string> approved;
    for (const COrvalink& d : rows) {
        const std::optional<bool> ok = fleet.BuildApproved(d.m_strType, d.m_strBuild);
        if (!ok)
            continue;
        const std::string name = FleetName(fleet, d.m_strMAC);
        approved.insert("orvalink_device_build_approved{" + device(d) + "," + label("type", d.m_strType) +
                        "," + label("build", d.m_strBuild) + (name.empty() ? "" : "," + label("name", name)) +
                        "} " + (*ok ? "1" : "0") + "\n");
    }
    for (const std::string& line : approved)
        out += line;
    std::string info = head("orvalink_device_fleet_info",
                            "A device the fleet file lists, with its name and whether it is expected to "
                            "answer (always, transient, ignore).");
    std::string goneAfter = head("orvalink_device_gone_after_scans",
                                 "The scans in a row a device of the fleet file may miss before it is gone.");
    std::string missed =
        head("orvalink_device_missed_scans", "The working scans in a row a known device missed.");
    std::set<std::string> seen;
    for (const COrvalink& d : rows) {
        const std::string labels = device(d);
        if (!seen.insert(labels).second)
            continue;
        if (const FleetDevice* f = fleet.Find(d.m_strMAC)) {
            info += "orvalink_device_fleet_info{" + labels + "," + label("name", f->name) + ",expect=\"" +
                    ExpectName(f->expect) + "\"} 1\n";
            if (f->goneAfter)
                goneAfter += "orvalink_device_gone_after_scans{" + labels + "} " +
                             std::to_string(*f->goneAfter) + "\n";
        }
        if (known) {
            const auto entry = known->Devices().find(KnownKey(d));
            if (entry != known->Devices().end())
                missed += "orvalink_device_missed_scans{" + labels + "} " +
                          std::to_string(entry->second.missed) + "\n";
        }
    }
    return out + info + goneAfter + (known ? missed : "");
}
