#pragma once
// The known-devices inventory for a reader: oldiscovery-scan --known and the Prometheus series of
// a kept inventory.
#include <map>
#include <string>
#include <vector>

#include "engine/KnownDevices.h"
#include "formats/FleetFile.h"

// The inventory sorted by IP: the table of a scan (IP, MAC, type, build) with three more
// columns, "up" or "missing" (no answer to the latest scan), when last seen (RFC 3339, UTC) and
// the scans missed in a row; or the JSON array of a scan whose objects add "state", "last_seen"
// and "missed".
// With a fleet, three more: the name ("n/a" / null when it has none), the expectation and whether
// the build is approved ("yes", "no", or "n/a" / null for a type without approved builds).
std::string FormatKnownTable(const CKnownDevices& known, const Fleet* fleet = nullptr);
std::string FormatKnownJson(const CKnownDevices& known, const Fleet* fleet = nullptr);

// The Prometheus series of the inventory's devices on the given interfaces, for a working scan
// that ended at scanTime: orvalink_device_up (1 answered this scan, 0 did not; a scan that did
// not count misses leaves a device not yet missing at 1),
// orvalink_device_first_seen_timestamp_seconds and orvalink_device_last_seen_timestamp_seconds;
// per interface, orvalink_scan_misses_counted and orvalink_known_refused_devices.
// With names (MAC -> name), orvalink_device_up carries a name label for the named devices.
std::string FormatKnownPrometheus(const CKnownDevices& known, double scanTime,
                                  const std::vector<std::string>& interfaces,
                                  const std::map<std::string, std::string>& names = {});
