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
        {"their neighbours stay", "\xE2\x80\xA7\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xB0",
         "\xE2\x80\xA7\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xB0"},
        // Every other format character (Cf) is as invisible: each run's ends, in its UTF-8 length.
        {"format characters of two bytes", "\xC2\xAD\xD8\x80\xD8\x85\xD8\x9C\xDB\x9D\xDC\x8F\xE0\xA3\xA2"
         "\xC2\xAC\xC2\xAE",
         "\\u00AD\\u0600\\u0605\\u061C\\u06DD\\u070F\\u08E2\xC2\xAC\xC2\xAE"},
        {"of three bytes", "\xE0\xA2\x90\xE0\xA2\x91\xE1\xA0\x8E\xE2\x80\x8B\xE2\x80\x8F\xE2\x81\xA0\xE2\x81\xA4"
         "\xE2\x81\xAF\xEF\xBB\xBF\xEF\xBF\xB9\xEF\xBF\xBB\xEF\xBF\xBC",
         "\\u0890\\u0891\\u180E\\u200B\\u200F\\u2060\\u2064\\u206F\\uFEFF\\uFFF9\\uFFFB\xEF\xBF\xBC"},
        {"of four bytes", "\xF0\x91\x82\xBD\xF0\x91\x83\x8D\xF0\x93\x90\xB0\xF0\x93\x90\xBF\xF0\x9B\xB2\xA0"
         "\xF0\x9D\x85\xBA\xF3\xA0\x80\x81\xF3\xA0\x81\xBF\xF3\xA0\x82\x80",
         "\\U000110BD\\U000110CD\\U00013430\\U0001343F\\U0001BCA0\\U0001D17A\\U000E0001\\U000E007F"
         "\xF3\xA0\x82\x80"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LogEscape(c.text), c.logged) << c.what;
}

}  // namespace
