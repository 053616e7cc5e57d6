#pragma once
// The scan's outputs with a fleet file: the devices' names in the table and JSON, and the series
// the alert rules read for names, expectations and approved builds.
#include <map>
#include <string>
#include <vector>

#include "engine/KnownDevices.h"
#include "engine/Orvalink.h"
#include "formats/FleetFile.h"

// The name the fleet gives the device of mac, "" when none.
std::string FleetName(const Fleet& fleet, const std::string& mac);
// MAC -> name of every device the fleet names, for the name label of the device series.
std::map<std::string, std::string> FleetNames(const Fleet& fleet);

// FormatTable with a fifth column, the name ("n/a" when the fleet has none).
std::string FormatFleetTable(const std::vector<COrvalink>& devices, const Fleet& fleet);
// FormatJson and FormatJsonLine with a field "name" (null when the fleet has none).
std::string FormatFleetJson(const std::vector<COrvalink>& devices, const Fleet& fleet);
std::string FormatFleetJsonLine(const COrvalink& device, const Fleet& fleet);

// The fleet's series on the scanned interfaces, for a working scan: the devices are those that
// answered, known (may be null) the inventory, whose silent devices count too.
//   orvalink_device_build_approved{interface,ip,mac,type,build[,name]} 1 or 0, for a device whose
//     type has approved builds (a silent known device with its build as last seen);
//   orvalink_device_fleet_info{interface,ip,mac,name,expect} 1, for a device the fleet lists;
//   orvalink_device_gone_after_scans{interface,ip,mac}, for one with gone_after;
//   orvalink_device_missed_scans{interface,ip,mac}, the inventory's scans missed in a row.
// orvalink_known_devices_removed{interface,reason}: the known devices a scan with --state removed
// from its file, per scanned interface and reason ("retire_after", "fleet_retired"),
// 0 for none; removed holds the counts by (interface, reason).
std::string FormatRemovedPrometheus(
    const std::map<std::pair<std::string, std::string>, unsigned long>& removed,
    const std::vector<std::string>& interfaces);
std::string FormatFleetPrometheus(const std::vector<COrvalink>& devices, const CKnownDevices* known,
                                  const Fleet& fleet, const std::vector<std::string>& interfaces);
