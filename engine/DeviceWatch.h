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

#include "engine/KnownDevices.h"
#include "engine/Orvalink.h"

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
    // Without keepGone a gone device is forgotten (seen again, it appears anew); with it, it
    // stays known, as in a kept inventory, and appears again when it answers again.
    explicit CDeviceWatch(unsigned goneAfter, bool keepGone = false);

    // One scan's devices; the events it gives, in device order (Gone last, by key). A device is
    // its interface, IP address and MAC address: two MACs on one address are two devices. Type
    // and build are what can change about it. Of a device that answered more than once in the
    // scan, the first answer counts.
    // Only devices on the scanned interfaces (all, when interfaces is empty) miss the scan.
    // A scan that does not count misses (see CKnownDevices::Record) announces no device gone.
    std::vector<WatchEvent> Update(const std::vector<COrvalink>& devices,
                                   std::chrono::system_clock::time_point time,
                                   const std::vector<std::string>& interfaces = {}, bool countMisses = true);

    // Devices currently known (seen, not yet forgotten).
    std::size_t KnownCount() const { return m_known.Devices().size(); }
    // What the watch remembers, to be kept across restarts: a watch that starts from a stored
    // inventory announces only what changed since.
    CKnownDevices& Known() { return m_known; }
    const CKnownDevices& Known() const { return m_known; }

private:
    unsigned m_goneAfter;
    bool m_keepGone;
    CKnownDevices m_known;
};
