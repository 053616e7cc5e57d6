#pragma once
// oldiscovery-scan --watch's lines: what changed between scans, one JSON object a line.
#include <chrono>
#include <string>

#include "engine/DeviceWatch.h"

// One event as a line of JSON: {"time", "event", "interface", "ip", "mac", "type", "build"} and,
// for "changed", "old": {"mac", "type", "build"}. time is RFC 3339 in UTC with milliseconds.
std::string FormatWatchEvent(const WatchEvent& event);
// RFC 3339 in UTC with milliseconds, e.g. 2026-12-08T16:01:16.123Z.
std::string Rfc3339(std::chrono::system_clock::time_point time);
