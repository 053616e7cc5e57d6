// Outside text in a log line: written the way the tab-separated output writes it, so no byte of
// it can end the line, forge one, or reach a terminal reading the log as a control sequence.
#include <gtest/gtest.h>

#include "log/LogText.h"

namespace {

TEST(LogTextTest, ControlsAndStrayBytesAreEscapedValidTextIsKept) {
    const struct {
        const char* what;
        std::string text;
        std::string logged;
    } cases[] = {
        {"line breaks, tab, backslash", "a\r\nb\tc\\", "a\\r\\nb\\tc\\\\"},
        {"other C0 controls and DEL", std::string("\x00\x01\x1B[2J\x7F", 7), "\\x00\\x01\\x1B[2J\\x7F"},
        {"C1 controls as UTF-8",
         "\xC2\x80x\xC2\x9B"
         "1m\xC2\x9F",
         "\\x80x\\x9B1m\\x9F"},
        {"a stray byte makes the text Latin-1, its C1 bytes escaped too",
         "\x9B"
         "31m\xFF",
         "\\x9B31m\xC3\xBF"},
        {"a cut sequence", "ok\xE2\x82", "ok\xC3\xA2\\x82"},
        {"valid non-ASCII text stays", "Ger\xC3\xA4t \xE2\x82\xAC \xF0\x9F\x93\xA1 \xC2\xA0",
         "Ger\xC3\xA4t \xE2\x82\xAC \xF0\x9F\x93\xA1 \xC2\xA0"},
        {"plain text", "OL-2000 build:1.2", "OL-2000 build:1.2"},
        {"line and paragraph separators, bidirectional overrides and isolates",
         "a\xE2\x80\xA8"
         "b\xE2\x80\xA9\xE2\x80\xAA\xE2\x80\xAE\xE2\x81\xA6\xE2\x81\xA9",
         "a\\u2028b\\u2029\\u202A\\u202E\\u2066\\u2069"},
        {"their neighbours stay", "\xE2\x80\xA7\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA",
         "\xE2\x80\xA7\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LogEscape(c.text), c.logged) << c.what;
}

}  // namespace
