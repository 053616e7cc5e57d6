#pragma once
// The window's memory of the devices it has seen, kept across runs in a known-devices file of its
// own (the format of oldiscovery-scan --state, so `oldiscovery-scan --known --state FILE` reads
// it), or only for the run when it has no file. Every change is made under the file's lock on
// what the file holds then, so a --forget from the command line in between stays done.
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "base/Error.h"
#include "engine/KnownDevices.h"
#include "engine/Orvalink.h"

// What one scan told the memory.
struct MemoryScan {
    std::vector<CKnownDevices::Key> added;  // answered for the first time
    std::vector<KnownDevice> missing;       // known and silent in this scan
    std::vector<KnownDevice> gone;          // silent for as many scans as they may be, as of this one
};

class CDeviceMemory {
public:
    // The scans kept while another writer holds the file: a day of hourly scans, a few hours of
    // scans every minute.
    static constexpr std::size_t kMaxUnwritten = 256;

    // path: the file; empty keeps the devices for this run only.
    explicit CDeviceMemory(std::string path = {});

    // $XDG_STATE_HOME/oldiscovery/known-devices.json, or under ~/.local/state without it; empty
    // when neither names a folder.
    static std::string DefaultPath();
    const std::string& Path() const { return m_path; }

    // Reads the file (a missing one is an empty memory); a refused file leaves the memory empty.
    Failure Load();
    // One finished scan at time (seconds since the epoch). goneAfter gives the scans in a row a
    // device may miss before it is gone; the devices retired leaves out are dropped first. The
    // memory follows the scan even when the file cannot: then the Failure says why, and a
    // damaged file is left as it is. The file's lock is never waited for: while another writer
    // holds it (std::errc::resource_unavailable_try_again), the scan is written by the next call,
    // the last kMaxUnwritten of them.
    Failure Record(const std::vector<COrvalink>& devices, double time,
                   const std::function<unsigned long(const KnownDevice&)>& goneAfter, MemoryScan& scan,
                   const std::function<bool(const KnownDevice&)>& retired = nullptr);
    // Drops the device with key from the memory and the file.
    Failure Forget(const CKnownDevices::Key& key);

    const CKnownDevices& Known() const { return m_known; }

private:
    // Under the lock: the file's current devices into the memory, the changes not written yet, the
    // change, the file again.
    Failure Change(const std::function<void(MemoryScan&)>& change, MemoryScan& scan);

    std::string m_path;
    CKnownDevices m_known;
    std::vector<std::function<void(MemoryScan&)>> m_unwritten;  // made while another writer held the lock
};
