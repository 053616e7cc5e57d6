// What oldiscovery-scan prints: columns that stay columns and JSON that stays JSON, whatever
// bytes a device sends.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "discovery/ScanOutput.h"

namespace {

COrvalink Device(const char* ip, const char* mac, std::string type, std::string build,
                 std::string interface = "eth0") {
    COrvalink d;
    d.m_strInterface = std::move(interface);
    d.m_strIP = ip;
    d.m_strMAC = mac;
    d.m_strType = std::move(type);
    d.m_strBuild = std::move(build);
    return d;
}

}  // namespace

TEST(ScanOutput, TableKeepsFourColumnsPerLine) {
    std::vector<COrvalink> devices = {
        Device("10.0.0.2", "02:00:00:00:00:02", "OL-2000", "1.2.3"),
        Device("10.0.0.3", "n/a", "a\tb\\c\r", std::string("x\x01y", 3)),
    };
    EXPECT_EQ(FormatTable(devices),
              "10.0.0.2\t02:00:00:00:00:02\tOL-2000\t1.2.3\n"
              "10.0.0.3\tn/a\ta\\tb\\\\c\\r\tx\\x01y\n");
    EXPECT_EQ(FormatTable({}), "");
}

TEST(ScanOutput, DeviceTextIsUtf8WhereValidElseLatin1InBothForms) {
    struct Case {
        const char* what;
        std::string type;
        const char* table;  // the type column
        const char* json;   // the type value, quotes included
    };
    const Case cases[] = {
        {"valid UTF-8 stays", "Ger\xC3\xA4t \xE2\x82\xAC", "Ger\xC3\xA4t \xE2\x82\xAC",
         "\"Ger\xC3\xA4t \xE2\x82\xAC\""},
        {"a Latin-1 byte", "\xE9", "\xC3\xA9", "\"\xC3\xA9\""},
        {"one bad byte makes the whole field Latin-1", "\xC3\xA4\xFF", "\xC3\x83\xC2\xA4\xC3\xBF",
         "\"\xC3\x83\xC2\xA4\xC3\xBF\""},
        {"overlong form is no UTF-8", "\xC0\xAF", "\xC3\x80\xC2\xAF", "\"\xC3\x80\xC2\xAF\""},
        {"C1 controls are escaped",
         "a\x9B"
         "b",
         "a\\x9Bb", "\"a\\u009Bb\""},
    };
    for (const Case& c : cases) {
        std::vector<COrvalink> one = {Device("1.1.1.1", "n/a", c.type, "n/a")};
        EXPECT_EQ(FormatTable(one), std::string("1.1.1.1\tn/a\t") + c.table + "\tn/a\n") << c.what;
        EXPECT_EQ(FormatJson(one), std::string("[\n  {\"ip\": \"1.1.1.1\", \"mac\": \"n/a\", \"type\": ") +
                                       c.json + ", \"build\": \"n/a\", \"interface\": \"eth0\"}\n]\n")
            << c.what;
    }
}

TEST(ScanOutput, JsonEscapesControlCharacters) {
    EXPECT_EQ(FormatJson({}), "[]\n");
    std::vector<COrvalink> devices = {Device("10.0.0.2", "n/a", "say \"hi\"\\", "\xE9\x7F\n")};
    EXPECT_EQ(FormatJson(devices),
              "[\n  {\"ip\": \"10.0.0.2\", \"mac\": \"n/a\", \"type\": \"say \\\"hi\\\"\\\\\", "
              "\"build\": \"\xC3\xA9\\u007F\\n\", \"interface\": \"eth0\"}\n]\n");
}

TEST(ScanOutput, SortedByNumericAddressDuplicatesKept) {
    std::vector<COrvalink> devices = {
        Device("10.0.0.10", "a", "1", "1"),
        Device("10.0.0.9", "b", "first", "1"),
        Device("9.255.255.255", "c", "1", "1"),
        Device("10.0.0.9", "b", "second", "1"),
    };
    SortDevices(devices);
    ASSERT_EQ(devices.size(), 4u);
    EXPECT_EQ(devices[0].m_strIP, "9.255.255.255");
    EXPECT_EQ(devices[1].m_strType, "first");  // arrival order among equals
    EXPECT_EQ(devices[2].m_strType, "second");
    EXPECT_EQ(devices[3].m_strIP, "10.0.0.10");
}

TEST(ScanOutput, LocateAddressMustBeDottedDecimal) {
    for (const char* good : {"10.77.1.2", "0.0.0.0", "255.255.255.255", "192.168.100.1"})
        EXPECT_TRUE(IsDottedQuad(good)) << good;
    for (const char* bad :
         {"", "10.77.1", "10.77.1.2.3", "10.77.1.256", "010.1.1.1", "10.77.1.2 ", " 10.77.1.2", "10.077.1.2",
          "1e.1.1.1", "10..1.2", "-1.2.3.4", "1111.1.1.1", "10.77.1.2\n"})
        EXPECT_FALSE(IsDottedQuad(bad)) << bad;
}

namespace {

// The sample lines (no # lines) of an exposition that start with prefix.
std::vector<std::string> Samples(const std::string& exposition, const std::string& prefix) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < exposition.size()) {
        std::size_t end = exposition.find('\n', start);
        std::string line = exposition.substr(start, end - start);
        if (line.rfind(prefix, 0) == 0)
            lines.push_back(line);
        start = end == std::string::npos ? exposition.size() : end + 1;
    }
    return lines;
}

}  // namespace

TEST(ScanOutput, PrometheusScanSeriesPerInterfaceScanned) {
    struct Case {
        const char* what;
        std::vector<std::string> interfaces;
        bool success;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"all interfaces: one unlabelled series each",
         {},
         true,
         {"orvalink_scan_success 1", "orvalink_scan_duration_seconds 1.031",
          "orvalink_scan_timestamp_seconds 1796645123.400"}},
        {"one interface",
         {"eth0"},
         true,
         {"orvalink_scan_success{interface=\"eth0\"} 1",
          "orvalink_scan_duration_seconds{interface=\"eth0\"} 1.031",
          "orvalink_scan_timestamp_seconds{interface=\"eth0\"} 1796645123.400"}},
        {"failed, interfaces named twice and unsorted",
         {"eth1", "eth0", "eth1"},
         false,
         {"orvalink_scan_success{interface=\"eth0\"} 0", "orvalink_scan_success{interface=\"eth1\"} 0",
          "orvalink_scan_duration_seconds{interface=\"eth0\"} 1.031",
          "orvalink_scan_duration_seconds{interface=\"eth1\"} 1.031",
          "orvalink_scan_timestamp_seconds{interface=\"eth0\"} 1796645123.400",
          "orvalink_scan_timestamp_seconds{interface=\"eth1\"} 1796645123.400"}},
        {"a name with a quote and a backslash",
         {"a\"b\\c"},
         true,
         {"orvalink_scan_success{interface=\"a\\\"b\\\\c\"} 1",
          "orvalink_scan_duration_seconds{interface=\"a\\\"b\\\\c\"} 1.031",
          "orvalink_scan_timestamp_seconds{interface=\"a\\\"b\\\\c\"} 1796645123.400"}},
    };
    for (const Case& c : cases) {
        ScanSummary scan;
        scan.success = c.success;
        scan.durationSeconds = 1.031;
        scan.timestampSeconds = 1796645123.4;
        scan.interfaces = c.interfaces;
        EXPECT_EQ(
            Samples(FormatPrometheus({Device("10.77.1.2", "02:00:0A:4D:01:02", "OL-2000", "1.2.3")}, scan),
                    "orvalink_scan_"),
            c.expected)
            << c.what;
    }
}

TEST(ScanOutput, PrometheusFilesOfTwoInterfacesHoldNoSeriesTwice) {
    // The node exporter serves every file of its folder as one page; a series in two files is
    // an error there, and one of the two values is lost.
    std::set<std::string> seen;
    for (const char* interface : {"eth0", "eth1"}) {
        ScanSummary scan;
        scan.success = true;
        scan.interfaces = {interface};
        const std::string page =
            FormatPrometheus({Device("10.77.1.2", "02:00:0A:4D:01:02", "OL-2000", "1.2.3", interface)}, scan);
        for (const std::string& line : Samples(page, "orvalink_")) {
            std::string series = line.substr(0, line.rfind(' '));
            EXPECT_TRUE(seen.insert(series).second) << series << " in both files";
        }
    }
}
