#pragma once
// The file of the known-devices inventory (oldiscovery-scan --state, the watch's memory): one
// JSON object, one device per line:
//   {"format": "oldiscovery-known-devices", "version": 1, "devices": [
//   {"interface": "eth0", "ip": "10.0.0.1", "mac": "02:00:0A:00:00:01", "type": "OL-2000",
//    "build": "1.2.3", "first_seen": 1796645123.456, "last_seen": 1796645183.456, "missed": 0}
//   ]}
// Texts are the device texts as every output shows them (UTF-8, see DeviceTextUtf8), times are
// seconds since the Unix epoch, "missed" counts the working scans in a row without the device.
// A reader refuses a file of a higher version; unknown keys of a device are passed over, of a
// key given twice the first counts, values nested in them cost nothing.
#include <cstddef>
#include <string>

#include "base/Error.h"
#include "engine/KnownDevices.h"

inline constexpr int kKnownDevicesVersion = 1;
// Times are seconds since 1970 before this, the year 5138: each is written back as read.
inline constexpr double kKnownDevicesLatestTime = 1e11;
// What a read may cost: a longer file is refused unread (EFBIG). Kept devices are at least about
// a hundred bytes of text each, so this is some 600,000 devices.
inline constexpr std::size_t kKnownDevicesMaxBytes = 64u << 20;

// The file's text of the inventory.
std::string KnownDevicesText(const CKnownDevices& known);
// Replaces the inventory with the file's text; on refusal known is left as it was and the
// Failure says why: Errc::NotKnownDevicesFile, Errc::NewerFormat (subject: the version as
// written), Errc::DamagedFile (subject: what is wrong, with its line or its device) or EFBIG.
Failure ReadKnownDevices(const std::string& text, CKnownDevices& known);
