// The saved list's CSV: one record per device whatever bytes a device sends, readable by any
// RFC 4180 reader.
#include <gtest/gtest.h>

#include "DeviceRecord.h"
#include "formats/ScanOutput.h"

using testsupport::MakeDevice;

TEST(ScanOutputCsv, FieldsAreQuotedExactlyWhereAReaderNeedsIt) {
    struct Case {
        const char* what;
        std::string type;
        const char* field;  // the type field as written
    };
    const Case cases[] = {
        {"plain text stays bare", "OL-2100 PoE", "OL-2100 PoE"},
        {"empty stays empty", "", ""},
        {"a comma", "OL,2000", "\"OL,2000\""},
        {"quotes doubled", "say \"hi\"", "\"say \"\"hi\"\"\""},
        {"line breaks as the list shows them", "a\r\nb\n", "a\\r\\nb\\n"},
        {"tab and other controls", std::string("a\tb\x01\x7F\x07\x1B[2J", 10), "a\\tb\\x01\\x7F\\x07\\x1B[2J"},
        {"C1 control of the Latin-1 form", "x\x85\x9B", "x\\x85\\x9B"},
        {"a backslash is doubled, as in the list", "a\\b", "a\\\\b"},
        {"outer spaces kept by quoting", " OL ", "\" OL \""},
        {"inner space only", "OL 1", "OL 1"},
        {"valid UTF-8 stays", "Ger\xC3\xA4t", "Ger\xC3\xA4t"},
        {"invalid UTF-8 is Latin-1", "\xE9\xFF", "\xC3\xA9\xC3\xBF"},
        {"line separator and right-to-left override escaped",
         "a\xE2\x80\xA8"
         "b\xE2\x80\xAE",
         "a\\u2028b\\u202E"},
        {"invisible marks as the list shows them", "a\xE2\x80\x8F" "b\xEF\xBB\xBF", "a\\u200Fb\\uFEFF"},
        // A spreadsheet would run these as formulas: an apostrophe makes them text.
        {"formula", "=HYPERLINK(\"http://x/\")", "\"'=HYPERLINK(\"\"http://x/\"\")\""},
        {"plus, minus, at", "+1", "'+1"},
        {"minus", "-2+3", "'-2+3"},
        {"at", "@SUM(A1)", "'@SUM(A1)"},
        {"tab first", "\t=1", "\\t=1"},
        {"carriage return first", "\r=1", "\\r=1"},
        {"only the first character counts", "OL=+-@", "OL=+-@"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatCsv({MakeDevice("10.0.0.1", "n/a", c.type, "1.0")}),
                  std::string("ip,mac,type,build\r\n10.0.0.1,n/a,") + c.field + ",1.0\r\n")
            << c.what;
    }
}

TEST(ScanOutputCsv, HeaderThenOneRecordPerDeviceInTheGivenOrder) {
    EXPECT_EQ(FormatCsv({}), "ip,mac,type,build\r\n");
    EXPECT_EQ(FormatCsv({MakeDevice("10.0.0.9", "02:00:0A:00:00:09", "OL-9", "9.0"),
                         MakeDevice("10.0.0.10", "n/a", "OL-10", "10.0"),
                         MakeDevice("10.0.0.9", "02:00:0A:00:00:09", "OL-9", "9.1")}),
              "ip,mac,type,build\r\n"
              "10.0.0.9,02:00:0A:00:00:09,OL-9,9.0\r\n"
              "10.0.0.10,n/a,OL-10,10.0\r\n"
              "10.0.0.9,02:00:0A:00:00:09,OL-9,9.1\r\n");
}
