// The inventory of known devices: its file read back as written, every kind of damaged, foreign
// or newer file refused without touching what is known, forgetting, and its Prometheus series.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "DeviceRecord.h"
#include "engine/KnownDevices.h"
#include "formats/KnownDevicesFile.h"
#include "formats/KnownOutput.h"
#include "res/FailureText.h"

namespace {

const COrvalink A = testsupport::MakeDevice("10.0.0.1", "02:00:00:00:00:01", "OL-2000", "1.0", "eth0");
const COrvalink A2 = testsupport::MakeDevice("10.0.0.1", "02:00:00:00:00:02", "OL-2000", "1.0", "eth0");
// Latin-1 and control bytes, a quote and a backslash: kept as every output shows them.
const COrvalink ODD = testsupport::MakeDevice("10.0.0.3", "n/a", "t\xE9st \"x\"\\", "b\x01\n", "eth1");

// The file's text read into known: "" or the text a person reads for its refusal.
std::string Read(const std::string& text, CKnownDevices& known) {
    const Failure refused = ReadKnownDevices(text, known);
    return refused ? FailureText(refused) : "";
}

TEST(KnownDevices, TheFileReadsBackAsWrittenAndKeepsTheSeenTimes) {
    CKnownDevices known;
    known.Record({A, ODD, A}, 1000.5);
    known.Record({A2, ODD}, 1060.25);
    CKnownDevices again;
    ASSERT_EQ(Read(KnownDevicesText(known), again), "");
    EXPECT_EQ(KnownDevicesText(again), KnownDevicesText(known));
    ASSERT_EQ(again.Devices().size(), 3u);
    const KnownDevice& a = again.Devices().at({"eth0", "10.0.0.1", "02:00:00:00:00:01"});
    EXPECT_EQ(a.firstSeen, 1000.5);
    EXPECT_EQ(a.lastSeen, 1000.5);
    EXPECT_EQ(a.missed, 1u);
    const KnownDevice& odd = again.Devices().at({"eth1", "10.0.0.3", "n/a"});
    EXPECT_EQ(odd.type, "t\xC3\xA9st \"x\"\\");
    EXPECT_EQ(odd.build, "b\x01\n");
    EXPECT_EQ(odd.lastSeen, 1060.25);
}

TEST(KnownDevices, RefusesDamagedForeignAndNewerFilesAndKeepsWhatItKnows) {
    const std::string head = R"({"format": "oldiscovery-known-devices", "version": 1, "devices": [)";
    const std::string dev =
        R"({"interface": "eth0", "ip": "10.0.0.9", "mac": "m", "type": "t", "build": "b", "first_seen": 1, "last_seen": 2, "missed": 0})";
    const struct {
        std::string text, problem;
    } cases[] = {
        {"", "damaged: an unexpected end in line 1"},
        {head + dev, "damaged: an unexpected end in line 1"},
        {head + dev + "]} x", "damaged: text after the end in line 1"},
        {head + "\n" + dev + ",\n" + dev + "]}", "damaged: a device listed twice (device 2)"},
        {head + R"({"interface": "eth0"}]})", "damaged: a device without a text \"ip\" (device 1)"},
        {head + "{\"interface\": \"e\xFF\"}]}", "damaged: not valid JSON in line 1"},
        {head + R"({"interface": "\ud800"}]})", "damaged: not valid JSON in line 1"},
        {R"({"format": "oldiscovery-known-devices", "version": 1, "devices": [)" + std::string(20, '[') +
             std::string(20, ']') + "]}",
         "damaged: a device that is not an object (device 1)"},
        {R"({"format": "oldiscovery-known-devices", "version": 01, "devices": []})",
         "damaged: not valid JSON in line 1"},
        {R"({"format": "something else", "version": 1, "devices": []})",
         "not a known-devices file of oldiscovery-scan"},
        {"[1, 2]", "not a known-devices file of oldiscovery-scan"},
        {R"({"format": "oldiscovery-known-devices", "version": 2, "devices": [{"new": 1}]})",
         "written by a newer oldiscovery-scan (format version 2)"},
        {R"({"format": "oldiscovery-known-devices", "version": 1, "devices": {}})",
         "damaged: no list of devices"},
        {head +
             R"({"interface": "e", "ip": "i", "mac": "m", "type": "t", "build": "b", "first_seen": 1, "last_seen": 2, "missed": 1.5}]})",
         "damaged: a device without a whole number \"missed\" (device 1)"},
        {head +
             R"({"interface": "e", "ip": "i", "mac": "m", "type": "t", "build": "b", "first_seen": 1, "last_seen": 1e63, "missed": 1}]})",
         "damaged: a device with a time out of range \"last_seen\" (device 1)"},
        // Where the JSON parser alone would read otherwise: a byte order mark, a NUL byte taken for
        // the end, a number that reads as no double, a version as written, the first of two keys.
        {"\xEF\xBB\xBF" + head + dev + "]}", "damaged: a byte order mark in line 1"},
        {head + dev + "]}\n" + std::string(1, '\0') + "x", "damaged: text after the end in line 2"},
        {head +
             R"({"interface": "e", "ip": "i", "mac": "m", "type": "t", "build": "b", "first_seen": 1, "last_seen": 1e-400, "missed": 1}]})",
         "damaged: a device with a time out of range \"last_seen\" (device 1)"},
        {R"({"format": "oldiscovery-known-devices", "version": 1.0, "devices": []})",
         "damaged: unknown format version 1.0"},
        {R"({"format": "x", "format": "oldiscovery-known-devices", "version": 1, "devices": []})",
         "not a known-devices file of oldiscovery-scan"},
        {head + "{\"interface\": \"e\x01\xFF\"}]}", "damaged: not valid JSON in line 1"},
        // The line of the character the parser stopped at; a device as soon as it is whole.
        {head + "\n" + dev + ",\n{\"ip\": \"\\x\"}]}", "damaged: not valid JSON in line 3"},
        {head + "\n" + dev + ",\n" + dev.substr(0, 38), "damaged: an unexpected end in line 3"},
        {head + "\n" + dev + "\n, tru]}", "damaged: not valid JSON in line 3"},
        {head + "\n" + dev + ",\n" + dev.substr(0, 122) + "1e400}]}", "damaged: a number out of range in line 3"},
        {[&] {
             std::string empty = head;
             for (int i = 0; i < 1'000'000; ++i)
                 empty += "{},";
             return empty + "{}]}";
         }(),
         "damaged: a device without a text \"interface\" (device 1)"},
        {std::string(kKnownDevicesMaxBytes + 1, ' '), "File too large"},
    };
    for (const auto& c : cases) {
        CKnownDevices known;
        known.Record({A}, 5);
        EXPECT_EQ(Read(c.text, known), c.problem) << c.text;
        EXPECT_EQ(known.Devices().size(), 1u) << c.text;
    }
    // Unknown keys of a device are passed over; escapes are read.
    CKnownDevices known;
    ASSERT_EQ(Read(head + R"({"interface": "eth0", "ip": "10.0.0.9", "mac": "m", "type": "\u00e9\ud83d\ude00\t", "build": "b", "first_seen": 1e3, "last_seen": 2.5, "missed": 7, "note": [null, true]}]})", known), "");
    EXPECT_EQ(known.Devices().begin()->second.type, "\xC3\xA9\xF0\x9F\x98\x80\t");
    EXPECT_EQ(known.Devices().begin()->second.firstSeen, 1000);
}

TEST(KnownDevices, ForgetsByIpOrMacAndReportsTheSeriesOfTheScannedInterfaces) {
    CKnownDevices known;
    known.Record({A, A2, ODD}, 100);
    known.Record({A2, ODD}, 160);
    EXPECT_EQ(FormatKnownPrometheus(known, 160, {"eth0"}),
              "# HELP orvalink_device_up Whether a known Orvalink device answered the scan (1) or not (0), with its "
              "type and build as last seen.\n"
              "# TYPE orvalink_device_up gauge\n"
              "orvalink_device_up{interface=\"eth0\",ip=\"10.0.0.1\",mac=\"02:00:00:00:00:01\",type=\"OL-2000\","
              "build=\"1.0\"} 0\n"
              "orvalink_device_up{interface=\"eth0\",ip=\"10.0.0.1\",mac=\"02:00:00:00:00:02\",type=\"OL-2000\","
              "build=\"1.0\"} 1\n"
              "# HELP orvalink_device_first_seen_timestamp_seconds When a known Orvalink device first answered, in "
              "seconds since the Unix epoch.\n"
              "# TYPE orvalink_device_first_seen_timestamp_seconds gauge\n"
              "orvalink_device_first_seen_timestamp_seconds{interface=\"eth0\",ip=\"10.0.0.1\",mac=\"02:00:00:00:00:01\"} 100.000\n"
              "orvalink_device_first_seen_timestamp_seconds{interface=\"eth0\",ip=\"10.0.0.1\",mac=\"02:00:00:00:00:02\"} 100.000\n"
              "# HELP orvalink_device_last_seen_timestamp_seconds When a known Orvalink device last answered, in "
              "seconds since the Unix epoch.\n"
              "# TYPE orvalink_device_last_seen_timestamp_seconds gauge\n"
              "orvalink_device_last_seen_timestamp_seconds{interface=\"eth0\",ip=\"10.0.0.1\",mac=\"02:00:00:00:00:01\"} 100.000\n"
              "orvalink_device_last_seen_timestamp_seconds{interface=\"eth0\",ip=\"10.0.0.1\",mac=\"02:00:00:00:00:02\"} 160.000\n"
              "# HELP orvalink_scan_misses_counted Whether the scan counted a known device that did not answer as "
              "missing one more scan (0: it lost answers or stopped at its time limit, so a silence said nothing).\n"
              "# TYPE orvalink_scan_misses_counted gauge\n"
              "orvalink_scan_misses_counted{interface=\"eth0\"} 1\n"
              "# HELP orvalink_known_refused_devices New devices the scan did not keep because their interface "
              "holds --max-known known devices.\n"
              "# TYPE orvalink_known_refused_devices gauge\n"
              "orvalink_known_refused_devices{interface=\"eth0\"} 0\n");
    // The hostile texts on their own interface are escaped as every label is.
    EXPECT_NE(FormatKnownPrometheus(known, 160, {"eth1"})
                  .find("orvalink_device_up{interface=\"eth1\",ip=\"10.0.0.3\",mac=\"n/a\",type=\"t\xC3\xA9st "
                        "\\\"x\\\"\\\\\",build=\"b\\\\x01\\\\n\"} 1\n"),
              std::string::npos);
    EXPECT_EQ(known.Forget("02:00:00:00:00:0a").size(), 0u);
    EXPECT_EQ(known.Forget("02:00:00:00:00:01").size(), 1u);
    EXPECT_EQ(known.Forget("10.0.0.3").size(), 1u);
    ASSERT_EQ(known.Devices().size(), 1u);
    EXPECT_EQ(known.Devices().begin()->second.mac, "02:00:00:00:00:02");
}

// The MACs of the devices left, and the new devices the last scan refused.
std::string Macs(const CKnownDevices& known) {
    std::string macs;
    for (const auto& [key, d] : known.Devices())
        macs += d.mac.substr(15) + (d.missed ? "-" + std::to_string(d.missed) : "") + " ";
    for (const auto& [name, count] : known.Refused())
        macs += "refused " + name + ":" + std::to_string(count) + " ";
    return macs;
}

const COrvalink B = testsupport::MakeDevice("10.0.1.9", "02:00:00:00:00:09", "OL-2000", "1.0", "eth1");
const COrvalink A3 = testsupport::MakeDevice("10.0.0.3", "02:00:00:00:00:03", "OL-2000", "1.0", "eth0");
const COrvalink A4 = testsupport::MakeDevice("10.0.0.4", "02:00:00:00:00:04", "OL-2000", "1.0", "eth0");

TEST(KnownDevices, ForgettingRetiringAndCappingRemoveOnlyWhatTheyName) {
    const struct {
        const char* what;
        std::function<std::vector<KnownDevice>(CKnownDevices&)> change;
        std::string left;  // MACs' last bytes, "-N" for N scans missed
    } cases[] = {
        {"an IP takes every MAC on it", [](CKnownDevices& k) { return k.Forget("10.0.0.1"); }, "09-1 "},
        {"IP,MAC takes one of them", [](CKnownDevices& k) { return k.Forget("10.0.0.1,02:00:00:00:00:02"); },
         "01-1 09-1 "},
        {"IP,MAC of two devices takes none",
         [](CKnownDevices& k) { return k.Forget("10.0.0.1,02:00:00:00:00:09"); }, "01-1 02 09-1 "},
        {"retired: last seen before the bound", [](CKnownDevices& k) { return k.Retire(150); }, "02 "},
        {"retired only on the scanned interfaces", [](CKnownDevices& k) { return k.Retire(150, {"eth0"}); },
         "02 09-1 "},
        {"a full interface refuses the new and keeps the silent",
         [](CKnownDevices& k) {
             k.SetLimit(2);
             k.Record({A4, A3, A2}, 200, {"eth0"});
             return std::vector<KnownDevice>{};
         },
         "01-2 02 09-1 refused eth0:2 "},
        {"room for one: the first new one is kept",
         [](CKnownDevices& k) {
             k.SetLimit(3);
             k.Record({A4, A3}, 200, {"eth0"});
             return std::vector<KnownDevice>{};
         },
         "01-2 02-1 04 09-1 refused eth0:1 "},
        {"a scan that counts no misses keeps every count",
         [](CKnownDevices& k) {
             k.Record({A3}, 200, {}, false);
             return std::vector<KnownDevice>{};
         },
         "01-1 02 03 09-1 "},
    };
    for (const auto& c : cases) {
        CKnownDevices known;
        known.Record({A, B}, 100);
        known.Record({A2}, 160);
        const std::size_t before = known.Devices().size();
        const std::vector<KnownDevice> gone = c.change(known);
        EXPECT_EQ(Macs(known), c.left) << c.what;
        EXPECT_LE(gone.size() + known.Devices().size(), before + 1) << c.what;
    }
}

TEST(KnownDevices, TheListSaysUpOrMissingWhenLastSeenAndTheMissedScans) {
    CKnownDevices known;
    known.Record({A, B}, 1796645123.5);
    known.Record({A}, 1796645183.5);
    EXPECT_EQ(FormatKnownTable(known),
              "10.0.0.1\t02:00:00:00:00:01\tOL-2000\t1.0\tup\t2026-12-07T12:06:23.500Z\t0\n"
              "10.0.1.9\t02:00:00:00:00:09\tOL-2000\t1.0\tmissing\t2026-12-07T12:05:23.500Z\t1\n");
    // The latest time the file takes is shown as it is, not wrapped around the clock's range.
    CKnownDevices far;
    far.Record({A}, 99'900'000'000.25);
    EXPECT_EQ(FormatKnownTable(far),
              "10.0.0.1\t02:00:00:00:00:01\tOL-2000\t1.0\tup\t5135-09-16T00:00:00.250Z\t0\n");
}

}  // namespace
