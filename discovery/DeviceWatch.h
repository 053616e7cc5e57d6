#pragma once
// What changed between scans, for oldiscovery-scan --watch: devices that appeared, went or
// changed identity. Fed one scan's devices at a time with that scan's time; no I/O, no clock of
// its own, so it runs the same on fake time.
#include <chrono>
#include <cstddef>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "discovery/Orvalink.h"

struct WatchEvent {
    enum class Kind { Appeared, Gone, Changed };
    Kind kind = Kind::Appeared;
    std::chrono::system_clock::time_point time;
    COrvalink device;    // as seen now (Gone: as last seen)
    COrvalink previous;  // Changed only: as seen before
};

class CDeviceWatch {
public:
    // A device is gone once it has been missing from goneAfter scans in a row (at least 1).
    explicit CDeviceWatch(unsigned goneAfter);

    // One scan's devices; the events it gives, in device order (Gone last, by address). A device
    // is its IP address and interface; MAC, type and build are what can change about it. Of a
    // device that answered more than once in the scan, the first answer counts.
    std::vector<WatchEvent> Update(const std::vector<COrvalink>& devices,
                                   std::chrono::system_clock::time_point time);

    // Devices currently known (seen, not yet gone).
    std::size_t KnownCount() const { return m_known.size(); }

private:
    struct Entry {
        COrvalink device;
        unsigned missed = 0;     // scans in a row without it
        unsigned long seen = 0;  // the scan it was last seen in
    };
    unsigned m_goneAfter;
    unsigned long m_scan = 0;
    std::map<std::pair<std::string, std::string>, Entry> m_known;  // by interface and IP
};

// One event as a line of JSON: {"time", "event", "interface", "ip", "mac", "type", "build"} and,
// for "changed", "old": {"mac", "type", "build"}. time is RFC 3339 in UTC with milliseconds.
std::string FormatWatchEvent(const WatchEvent& event);
// RFC 3339 in UTC with milliseconds, e.g. 2026-12-08T16:01:16.123Z.
std::string Rfc3339(std::chrono::system_clock::time_point time);
