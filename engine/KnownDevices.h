#pragma once
// The inventory of known devices that oldiscovery-scan --state keeps on disk: every device seen
// on the scanned interfaces, one entry per (interface, IP, MAC), with its type and build as last
// seen and when it was first and last seen. A device that stops answering stays in it (so it can
// be reported as silent while it stays away) until it is forgotten or retired: silent longer
// than a set time, or beyond a set number of devices per interface.
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
    // device on the scanned interfaces (all, when interfaces is empty) misses one more scan. The
    // answers come in the order of devices, each device once.
    std::vector<Answer> Record(const std::vector<COrvalink>& devices, double time,
                               const std::vector<std::string>& interfaces = {});
    // Removes the devices an address names: an IP or a MAC (any case), or "IP,MAC" for one
    // device of an address both share. The devices that went, in key order.
    std::vector<KnownDevice> Forget(const std::string& address);
    // Removes the devices on the scanned interfaces (all, when empty) last seen before oldest;
    // the devices that went.
    std::vector<KnownDevice> Retire(double oldest, const std::vector<std::string>& interfaces = {});
    // Keeps at most perInterface devices on each interface, the most recently seen; the devices
    // that went, longest silent first.
    std::vector<KnownDevice> Cap(std::size_t perInterface);
    std::map<Key, KnownDevice>& Devices() { return m_devices; }
    const std::map<Key, KnownDevice>& Devices() const { return m_devices; }

private:
    std::map<Key, KnownDevice> m_devices;
};

// The key of a device as the scan reported it.
CKnownDevices::Key KnownKey(const COrvalink& device);
// A known device as a scan's device record, for the scan's outputs.
COrvalink AsDevice(const KnownDevice& known);
// True when interfaces (the scanned ones) is empty or holds name.
bool OnScannedInterface(const std::vector<std::string>& interfaces, const std::string& name);
