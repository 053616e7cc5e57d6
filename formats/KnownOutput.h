#pragma once
// The known-devices inventory for a reader: oldiscovery-scan --known and the Prometheus series of
// a kept inventory.
#include <string>
#include <vector>

#include "engine/KnownDevices.h"

// The inventory sorted by IP: the table of a scan (IP, MAC, type, build) with three more
// columns, "up" or "missing" (no answer to the latest scan), when last seen (RFC 3339, UTC) and
// the scans missed in a row; or the JSON array of a scan whose objects add "state", "last_seen"
// and "missed".
std::string FormatKnownTable(const CKnownDevices& known);
std::string FormatKnownJson(const CKnownDevices& known);

// The Prometheus series of the inventory's devices on the given interfaces, for a working scan
// that ended at scanTime: orvalink_device_up (1 answered this scan, 0 did not; a scan that did
// not count misses leaves a device not yet missing at 1),
// orvalink_device_first_seen_timestamp_seconds and orvalink_device_last_seen_timestamp_seconds;
// per interface, orvalink_scan_misses_counted and orvalink_known_refused_devices.
std::string FormatKnownPrometheus(const CKnownDevices& known, double scanTime,
                                  const std::vector<std::string>& interfaces);
