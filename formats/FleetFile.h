#pragma once
// The fleet file an administrator writes (/etc/oldiscovery/fleet.toml): the builds approved for
// each device type, and per device (by MAC) its name, a note, whether it is expected to answer and
// whether it is retired:
//   [approved]
//   "OL-2000" = ["2.01 (Build 311)", "2.02 (Build 320)"]
//   [devices."02:00:0A:4D:00:14"]
//   name = "Lobby camera"
//   note = "behind the reception desk"
//   expect = "always"        # always | transient (never gone) | ignore (never alerted)
//   gone_after = 3           # silent scans before the device counts as gone
//   retired = true           # dropped from the known devices at the next scan
// A MAC is written with ':' or '-' in any case; it is kept as the scans write it, upper case with
// ':'. Keys the file does not know are refused, so a misspelt one is not silently ignored.
#include <sys/stat.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Error.h"

inline constexpr const char* kDefaultFleetFile = "/etc/oldiscovery/fleet.toml";

struct FleetDevice {
    enum class Expect { Always, Transient, Ignore };
    std::string name, note;
    Expect expect = Expect::Always;
    std::optional<int> goneAfter;  // scans; unset: the alert rules' own
    bool retired = false;
};

struct Fleet {
    std::map<std::string, std::vector<std::string>> approved;  // device type -> its approved builds
    std::map<std::string, FleetDevice> devices;                // by MAC as NormalMac gives it

    // The device of a MAC in any case and either separator; null when the fleet has none.
    const FleetDevice* Find(std::string_view mac) const;
    // Whether build is approved for type; nothing when the type has no baseline.
    std::optional<bool> BuildApproved(std::string_view type, std::string_view build) const;
    bool Empty() const { return approved.empty() && devices.empty(); }
};

// "02:00:0a:4d:00:14" or "02-00-0A-4D-00-14" as "02:00:0A:4D:00:14"; nothing for anything else.
std::optional<std::string> NormalMac(std::string_view mac);
// The word of an expectation as the file and every output write it: "always", "transient", "ignore".
const char* ExpectName(FleetDevice::Expect expect);

// The fleet of a TOML text; source names it in a fault. A fault is Errc::BadFleetFile with the
// subject "SOURCE:LINE: what is wrong".
Result<Fleet> ReadFleet(std::string_view text, const std::string& source);
// The fleet of the file at path; a file that cannot be read is Errc::BadFleetFile too
// ("PATH: No such file or directory").
Result<Fleet> ReadFleetFile(const std::string& path);

// Tells when a file changed since the last look: another file in its place, another size or
// modification time, or the file appearing or going.
class CFileChange {
public:
    explicit CFileChange(std::string path) : m_path(std::move(path)) {}
    // True on the first call and whenever the file is not as it was at the previous call.
    bool Changed();
    bool Exists() const { return m_seen && m_seen->exists; }
    const std::string& Path() const { return m_path; }

private:
    struct Seen {
        bool exists = false;
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        timespec modified{}, changed{};
    };
    std::string m_path;
    std::optional<Seen> m_seen;
};

// A fleet file read again whenever it changes: a new version with a fault leaves the last good one
// in place, and Refresh says so once for that version. Without required, a file that is not there
// is an empty fleet (the default path, read when present); with it, a missing file is a fault.
class CFleetWatch {
public:
    enum class Outcome { Unchanged, Loaded, Refused };
    CFleetWatch(std::string path, bool required) : m_file(std::move(path)), m_required(required) {}
    // Looks at the file; Loaded: Current is the new version; Refused: Fault says why, and
    // Current is still the last good version.
    Outcome Refresh();
    const Fleet& Current() const { return m_fleet; }
    // The fleet when a version of the file was read; null while there is none (no file).
    const Fleet* Active() const { return m_loaded ? &m_fleet : nullptr; }
    const Failure& Fault() const { return m_fault; }
    const std::string& Path() const { return m_file.Path(); }

private:
    CFileChange m_file;
    bool m_required;
    Fleet m_fleet;
    bool m_loaded = false;
    Failure m_fault;
};
