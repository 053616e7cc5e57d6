#pragma once
// What the scans saw, remembered: the watch over the devices and, with --state, its file.
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "engine/DeviceWatch.h"
#include "engine/Orvalink.h"
#include "formats/FleetFile.h"
#include "ScanClock.h"
#include "ScanOptions.h"

class CStateStore {
public:
    // Reads --state, --gone-after, --retire-after and --max-known.
    explicit CStateStore(const ScanOptions& options);

    // Whether a --state file keeps the devices across runs.
    bool HasFile() const { return !m_path.empty(); }
    // Reads the file, when there is one; false after its message.
    bool Load();
    // The devices the last recorded scan removed from the file, by (interface, reason):
    // "retire_after" or "fleet_retired".
    const std::map<std::pair<std::string, std::string>, unsigned long>& Removed() const { return m_removed; }
    // The fleet file's version in use (may be null): its retired devices leave at each scan.
    void SetFleet(const Fleet* fleet) { m_fleet = fleet; }
    // A signal fd that ends a wait for the file's lock at once.
    void SetStopFd(int fd) { m_stopFd = fd; }
    CKnownDevices& Known() { return m_watch.Known(); }
    const CKnownDevices& Known() const { return m_watch.Known(); }

    // A scan that ran on interfaces, recorded: its watch events into events and, with a file,
    // into the file under its lock, read again first so that what another writer did meanwhile
    // (a --forget, another interface's scan) stays; there, too, devices silent too long retire
    // and an interface that holds --max-known devices takes no new one (one line says how many
    // it refused). Without countMisses (answers lost, or the limit reached) no device misses the
    // scan. False when the file could not be written or read again, said once per streak of
    // such scans.
    bool Record(const std::vector<COrvalink>& devices, WallTime end,
                const std::vector<std::string>& interfaces, std::vector<WatchEvent>& events,
                bool countMisses = true);

private:
    std::string m_path;
    long m_retireDays;
    long m_maxKnown;
    CDeviceWatch m_watch;
    bool m_failing = false;
    const Fleet* m_fleet = nullptr;
    std::map<std::pair<std::string, std::string>, unsigned long> m_removed;
    int m_stopFd = -1;
};
