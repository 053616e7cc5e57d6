// What oldiscovery-scan prints: columns that stay columns and JSON that stays JSON, whatever
// bytes a device sends.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "DeviceRecord.h"
#include "formats/ScanOutput.h"
#include "formats/WatchOutput.h"

using testsupport::MakeDevice;

TEST(ScanOutput, TableKeepsFourColumnsPerLine) {
    std::vector<COrvalink> devices = {
        MakeDevice("10.0.0.2", "02:00:00:00:00:02", "OL-2000", "1.2.3"),
        MakeDevice("10.0.0.3", "n/a", "a\tb\\c\r", std::string("x\x01y", 3)),
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
        {"invisible marks are escaped", "a\xE2\x80\x8F\xD8\x9C\xEF\xBB\xBF\xF3\xA0\x81\x81" "b",
         "a\\u200F\\u061C\\uFEFF\\U000E0041b", "\"a\\u200F\\u061C\\uFEFF\\uDB40\\uDC41b\""},
        {"a Latin-1 soft hyphen too", "x\xAD", "x\\u00AD", "\"x\\u00AD\""},
    };
    for (const Case& c : cases) {
        std::vector<COrvalink> one = {MakeDevice("1.1.1.1", "n/a", c.type, "n/a")};
        EXPECT_EQ(FormatTable(one), std::string("1.1.1.1\tn/a\t") + c.table + "\tn/a\n") << c.what;
        EXPECT_EQ(FormatJson(one), std::string("[\n  {\"ip\": \"1.1.1.1\", \"mac\": \"n/a\", \"type\": ") +
                                       c.json + ", \"build\": \"n/a\", \"interface\": \"eth0\"}\n]\n")
            << c.what;
    }
}

TEST(ScanOutput, JsonEscapesControlCharacters) {
    EXPECT_EQ(FormatJson({}), "[]\n");
    std::vector<COrvalink> devices = {MakeDevice("10.0.0.2", "n/a", "say \"hi\"\\", "\xE9\x7F\n")};
    EXPECT_EQ(FormatJson(devices),
              "[\n  {\"ip\": \"10.0.0.2\", \"mac\": \"n/a\", \"type\": \"say \\\"hi\\\"\\\\\", "
              "\"build\": \"\xC3\xA9\\u007F\\n\", \"interface\": \"eth0\"}\n]\n");
    EXPECT_NE(FormatJson({MakeDevice("10.0.0.2", "n/a", "a\xE2\x80\xA9", "1")}).find("\"a\\u2029\""),
              std::string::npos);
}

TEST(ScanOutput, SortedByNumericAddressDuplicatesKept) {
    std::vector<COrvalink> devices = {
        MakeDevice("10.0.0.10", "a", "1", "1"),
        MakeDevice("10.0.0.9", "b", "first", "1"),
        MakeDevice("9.255.255.255", "c", "1", "1"),
        MakeDevice("10.0.0.9", "b", "second", "1"),
    };
    SortDevices(devices);
    ASSERT_EQ(devices.size(), 4u);
    EXPECT_EQ(devices[0].m_strIP, "9.255.255.255");
    EXPECT_EQ(devices[1].m_strType, "first");  // arrival order among equals
    EXPECT_EQ(devices[2].m_strType, "second");
    EXPECT_EQ(devices[3].m_strIP, "10.0.0.10");
}

// ---------------------------------------------------------------- Prometheus

namespace {

// The texts a device can send that a careless output would let break out of its place.
std::vector<COrvalink> HostileDevices() {
    std::string long250(250, 'x');
    long250[100] = '"';
    long250[200] = '\n';
    return {
        MakeDevice("10.0.0.1", "02:00:0A:00:00:01", "say \"hi\"", "back\\slash"),
        MakeDevice("10.0.0.2", "02:00:0A:00:00:02", "line\nfeed} 1\norvalink_scan_success{x=\"", "cr\rtab\t"),
        MakeDevice("10.0.0.3", "02:00:0A:00:00:03", "\xFF\xFE invalid", "\xC3\xA4 valid \xE2\x82\xAC"),
        MakeDevice("10.0.0.4", "02:00:0A:00:00:04", long250, std::string(250, '\\')),
        MakeDevice("10.0.0.5", "n/a", "a\x9B\x01", "n/a", "n/a"),
        MakeDevice("10.0.0.1", "02:00:0A:00:00:01", "say \"hi\"", "back\\slash"),  // answered twice
    };
}

std::string WriteTemp(const std::string& text) {
    char path[] = "/tmp/scanoutput.XXXXXX";
    int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(fd);
    return path;
}

}  // namespace

TEST(ScanOutput, PrometheusLabelValuesEscapeAfterTheTextConvention) {
    const struct {
        const char* what;
        std::string bytes;
        std::string label;
    } cases[] = {
        {"plain", "OL-2000", "OL-2000"},
        {"quote and backslash", "a\"b\\c", "a\\\"b\\\\c"},
        {"line feed cannot start a line, nor be one", "a\nb", "a\\\\nb"},
        {"carriage return and tab as the table writes them", "a\r\tb", "a\\\\r\\\\tb"},
        {"escape sequence reaches no terminal", "\x1B[2J", "\\\\x1B[2J"},
        {"DEL", "a\x7F", "a\\\\x7F"},
        {"C1 control CSI", "a\xC2\x9B", "a\\\\x9B"},
        {"right-to-left override", "a\xE2\x80\xAEz", "a\\\\u202Ez"},
        {"right-to-left mark and a tag", "a\xE2\x80\x8F\xF3\xA0\x81\x81", "a\\\\u200F\\\\U000E0041"},
        {"invalid UTF-8 is read as Latin-1", "\xFF\"", "\xC3\xBF\\\""},
        {"valid UTF-8 stays", "\xE2\x82\xAC", "\xE2\x82\xAC"},
        {"a Latin-1 backslash-like byte is no escape", "\xDC\\", "\xC3\x9C\\\\"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PrometheusLabelValue(c.bytes), c.label) << c.what;
}

TEST(ScanOutput, PrometheusOneSeriesPerDeviceAndCountsPerInterface) {
    const ScanSummary scan{.success = true,
                           .durationSeconds = 1.0314,
                           .timestampSeconds = 1796645123.4,
                           .interfaces = {"eth0", "eth9"}};
    const std::vector<COrvalink> devices = {
        MakeDevice("10.77.1.2", "02:00:0A:4D:01:02", "OL-2000", "1.2.3"),
        MakeDevice("10.77.1.2", "02:00:0A:4D:01:02", "OL-2000", "1.2.3"),  // the same answer twice
        MakeDevice("10.77.2.2", "02:00:0A:4D:02:02", "OL-2000", "1.2.3", "eth1"),
    };
    EXPECT_EQ(
        FormatPrometheus(devices, scan),
        "# HELP orvalink_device_info An Orvalink device that answered the scan, with its addresses, type "
        "and build.\n"
        "# TYPE orvalink_device_info gauge\n"
        "orvalink_device_info{interface=\"eth0\",ip=\"10.77.1.2\",mac=\"02:00:0A:4D:01:02\",type=\"OL-2000\","
        "build=\"1.2.3\"} 1\n"
        "orvalink_device_info{interface=\"eth1\",ip=\"10.77.2.2\",mac=\"02:00:0A:4D:02:02\",type=\"OL-2000\","
        "build=\"1.2.3\"} 1\n"
        "# HELP orvalink_devices Orvalink devices that answered the scan, per interface.\n"
        "# TYPE orvalink_devices gauge\n"
        "orvalink_devices{interface=\"eth0\"} 1\n"
        "orvalink_devices{interface=\"eth1\"} 1\n"
        "orvalink_devices{interface=\"eth9\"} 0\n"
        "# HELP orvalink_scan_success Whether the scan could run (1) or not (0).\n"
        "# TYPE orvalink_scan_success gauge\n"
        "orvalink_scan_success{interface=\"eth0\"} 1\n"
        "orvalink_scan_success{interface=\"eth9\"} 1\n"
        "# HELP orvalink_scan_duration_seconds How long the scan took.\n"
        "# TYPE orvalink_scan_duration_seconds gauge\n"
        "orvalink_scan_duration_seconds{interface=\"eth0\"} 1.031\n"
        "orvalink_scan_duration_seconds{interface=\"eth9\"} 1.031\n"
        "# HELP orvalink_scan_timestamp_seconds When the scan ended, in seconds since the Unix epoch.\n"
        "# TYPE orvalink_scan_timestamp_seconds gauge\n"
        "orvalink_scan_timestamp_seconds{interface=\"eth0\"} 1796645123.400\n"
        "orvalink_scan_timestamp_seconds{interface=\"eth9\"} 1796645123.400\n"
        "# HELP orvalink_scan_truncated Whether the scan stopped at its time limit with answers still "
        "arriving (1): the list may be incomplete.\n"
        "# TYPE orvalink_scan_truncated gauge\n"
        "orvalink_scan_truncated{interface=\"eth0\"} 0\n"
        "orvalink_scan_truncated{interface=\"eth9\"} 0\n");
}

TEST(ScanOutput, PrometheusFailedScanSaysSoWithoutDeviceSeries) {
    const ScanSummary scan{.success = false, .interfaces = {"eth0"}};
    const std::string out = FormatPrometheus({MakeDevice("10.0.0.1", "n/a", "n/a", "n/a")}, scan);
    EXPECT_NE(out.find("\norvalink_scan_success{interface=\"eth0\"} 0\n"), std::string::npos);
    EXPECT_EQ(out.find("orvalink_device_info"), std::string::npos);
    EXPECT_EQ(out.find("orvalink_devices"), std::string::npos);
}

TEST(ScanOutput, PrometheusHostileTextsStayInTheirLabels) {
    const std::string out =
        FormatPrometheus(HostileDevices(), ScanSummary{.success = true, .interfaces = {}});
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = out.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(out.substr(at, end - at));
    // Five devices (the one that answered twice once), one count, four scan series.
    std::size_t samples = 0, deviceSeries = 0;
    for (const std::string& line : lines) {
        if (line.rfind('#', 0) == 0)
            continue;
        ++samples;
        if (line.rfind("orvalink_device_info{", 0) == 0)
            ++deviceSeries;
    }
    EXPECT_EQ(deviceSeries, 5u);
    EXPECT_EQ(samples, 5u + 2u + 4u);  // the fifth device's interface is "n/a": two counts
}

TEST(ScanOutput, ParsersAcceptEveryFormatOfHostileTexts) {
    // promtool is Prometheus's own parser and linter; python3's json module a strict JSON one.
    const ScanSummary scan{.success = true, .interfaces = {"eth0"}};
    std::vector<COrvalink> devices = HostileDevices();
    std::string events;
    for (const COrvalink& d : devices)
        events += FormatWatchEvent(WatchEvent{WatchEvent::Kind::Changed, {}, d, d});
    const struct {
        const char* what;
        std::string text;
        const char* command;  // reads the file named after it
    } cases[] = {
        {"prometheus", FormatPrometheus(devices, scan), "promtool check metrics <"},
        {"json", FormatJson(devices),
         "python3 -c 'import json,sys; json.load(open(sys.argv[1], encoding=\"utf-8\"))'"},
        {"table", FormatTable(devices),
         "python3 -c 'import sys; l=open(sys.argv[1], \"rb\").read().split(b\"\\n\"); "
         "sys.exit(l[-1] != b\"\" or any(x.count(b\"\\t\") != 3 for x in l[:-1]))'"},
        {"watch events, one JSON object per line", events,
         "python3 -c 'import json,sys; [json.loads(x) for x in open(sys.argv[1], encoding=\"utf-8\")]'"},
    };
    for (const auto& c : cases) {
        const std::string path = WriteTemp(c.text);
        const std::string command = std::string(c.command) + " " + path + " >/dev/null 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << c.what << ": " << command << "\n" << c.text;
        unlink(path.c_str());
    }
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
        bool truncated;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"all interfaces: one unlabelled series each",
         {},
         true,
         false,
         {"orvalink_scan_success 1", "orvalink_scan_duration_seconds 1.031",
          "orvalink_scan_timestamp_seconds 1796645123.400", "orvalink_scan_truncated 0"}},
        {"one interface",
         {"eth0"},
         true,
         true,
         {"orvalink_scan_success{interface=\"eth0\"} 1",
          "orvalink_scan_duration_seconds{interface=\"eth0\"} 1.031",
          "orvalink_scan_timestamp_seconds{interface=\"eth0\"} 1796645123.400",
          "orvalink_scan_truncated{interface=\"eth0\"} 1"}},
        {"failed, interfaces named twice and unsorted",
         {"eth1", "eth0", "eth1"},
         false,
         false,
         {"orvalink_scan_success{interface=\"eth0\"} 0", "orvalink_scan_success{interface=\"eth1\"} 0",
          "orvalink_scan_duration_seconds{interface=\"eth0\"} 1.031",
          "orvalink_scan_duration_seconds{interface=\"eth1\"} 1.031",
          "orvalink_scan_timestamp_seconds{interface=\"eth0\"} 1796645123.400",
          "orvalink_scan_timestamp_seconds{interface=\"eth1\"} 1796645123.400",
          "orvalink_scan_truncated{interface=\"eth0\"} 0", "orvalink_scan_truncated{interface=\"eth1\"} 0"}},
        {"a name with a quote and a backslash",
         {"a\"b\\c"},
         true,
         false,
         {"orvalink_scan_success{interface=\"a\\\"b\\\\c\"} 1",
          "orvalink_scan_duration_seconds{interface=\"a\\\"b\\\\c\"} 1.031",
          "orvalink_scan_timestamp_seconds{interface=\"a\\\"b\\\\c\"} 1796645123.400",
          "orvalink_scan_truncated{interface=\"a\\\"b\\\\c\"} 0"}},
    };
    for (const Case& c : cases) {
        const ScanSummary scan{.success = c.success,
                               .durationSeconds = 1.031,
                               .timestampSeconds = 1796645123.4,
                               .interfaces = c.interfaces,
                               .truncated = c.truncated};
        EXPECT_EQ(Samples(FormatPrometheus({MakeDevice("10.77.1.2", "02:00:0A:4D:01:02", "OL-2000", "1.2.3")},
                                           scan),
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
        const ScanSummary scan{.success = true, .interfaces = {interface}};
        const std::string page = FormatPrometheus(
            {MakeDevice("10.77.1.2", "02:00:0A:4D:01:02", "OL-2000", "1.2.3", interface)}, scan);
        for (const std::string& line : Samples(page, "orvalink_")) {
            std::string series = line.substr(0, line.rfind(' '));
            EXPECT_TRUE(seen.insert(series).second) << series << " in both files";
        }
    }
}
