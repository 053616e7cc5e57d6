#pragma once
// The inventory of known devices that oldiscovery-scan --state keeps on disk: every device seen
// on the scanned interfaces, one entry per (interface, IP, MAC), with its type and build as last
// seen and when it was first and last seen. A device that stops answering stays in it (so it can
// be reported as silent while it stays away) until it is forgotten or retired, silent longer
// than a set time. A full inventory (a set number of devices on an interface) takes no new device
// there: a flood of new addresses never pushes out the devices it knows.
// Its file is formats/KnownDevicesFile.h.
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "engine/Orvalink.h"

struct KnownDevice {
    std::string interface, ip, mac;  // what makes it one device
    std::string type, build;         // as last seen
    double firstSeen = 0, lastSeen = 0;
    unsigned long missed = 0;
};

class CKnownDevices {
public:
    using Key = std::tuple<std::string, std::string, std::string>;  // interface, IP, MAC

    // What one scan said about a device that answered: new, or as it was before this scan.
    struct Answer {
        Key key;
        bool added = false;
        KnownDevice before;
    };

    // One working scan's devices at time (seconds since the epoch): each answering device is
    // added or refreshed (of several answers of one device the first counts), every other known
    // device on the scanned interfaces (all, when interfaces is empty) misses one more scan,
    // unless countMisses is false (a scan that lost answers or stopped at its limit says nothing
    // by a device's silence). A new device on an interface that holds the limit is not added
    // (Refused counts it). The answers come in the order of devices, each device once.
    std::vector<Answer> Record(const std::vector<COrvalink>& devices, double time,
                               const std::vector<std::string>& interfaces = {}, bool countMisses = true);
    // Removes the devices an address names: an IP or a MAC (any case), or "IP,MAC" for one
    // device of an address both share. The devices that went, in key order.
    std::vector<KnownDevice> Forget(const std::string& address);
    // Removes the devices on the scanned interfaces (all, when empty) last seen before oldest;
    // the devices that went.
    std::vector<KnownDevice> Retire(double oldest, const std::vector<std::string>& interfaces = {});
    // At most perInterface devices on an interface (0: no limit), for the scans to come.
    void SetLimit(std::size_t perInterface) { m_limit = perInterface; }
    // The new devices the last Record did not add, by interface.
    const std::map<std::string, std::size_t>& Refused() const { return m_refused; }
    // Whether the last Record counted the misses.
    bool CountedMisses() const { return m_countedMisses; }
    std::map<Key, KnownDevice>& Devices() { return m_devices; }
    const std::map<Key, KnownDevice>& Devices() const { return m_devices; }

private:
    std::map<Key, KnownDevice> m_devices;
    std::size_t m_limit = 0;
    std::map<std::string, std::size_t> m_refused;
    bool m_countedMisses = true;
};

// The key of a device as the scan reported it.
CKnownDevices::Key KnownKey(const COrvalink& device);
// A known device as a scan's device record, for the scan's outputs.
COrvalink AsDevice(const KnownDevice& known);
// True when interfaces (the scanned ones) is empty or holds name.
bool OnScannedInterface(const std::vector<std::string>& interfaces, const std::string& name);
// True when address (an IP, a MAC in any case, or "IP,MAC") names the device.
bool AddressNames(const std::string& address, const KnownDevice& device);
