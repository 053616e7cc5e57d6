#pragma once
// The one way device text (type and build, raw bytes from the wire) becomes readable text: the
// list, the tab-separated and the JSON output and the log lines all show it through
// DeviceTextUtf8, and the outputs that must keep it on one line through EscapeDeviceText.
// It lives with the log, which may use nothing above the standard library.
#include <cstddef>
#include <string>
#include <string_view>

// The length of the UTF-8 sequence at text[at] (at < text.size()), or 0 when none starts there:
// the one check of UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
std::size_t Utf8Length(std::string_view text, std::size_t at);
// True when bytes is well-formed UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
bool IsUtf8(const std::string& bytes);
// bytes as they are when they are valid UTF-8; otherwise every byte taken as its Latin-1
// character, so the result is always valid UTF-8 and no byte is lost or merged.
std::string DeviceTextUtf8(const std::string& bytes);

// Code point of the C1 control a UTF-8 text holds at i (bytes C2 80 to C2 9F), or -1.
int C1ControlAt(const std::string& text, std::size_t i);

// Code point of the line or paragraph separator (U+2028, U+2029) or the format character
// (general category Cf: bidirectional marks, overrides and isolates, zero-width characters, the
// byte order mark, tags and the like) that a UTF-8 text holds at i, or -1. Readers split lines at
// the first two; the others are invisible, yet can show a text reversed or hide a difference.
int LayoutControlAt(const std::string& text, std::size_t i);
// text (UTF-8) with each of those written as \uHHHH (\UHHHHHHHH above U+FFFF).
std::string EscapeLayoutControls(const std::string& text);

// How an escaped control character is written: "\xHH" in lines of text (log lines, the
// tab-separated output, the window's list), "\u00HH" in a JSON string, where the double quote is
// escaped as well; in a metric's label value like a line of text, but a backslash is kept as it
// is, so a device's series keeps the name it has always had.
enum class ControlEscape { Text, Json, Label };

// DeviceTextUtf8(bytes) with a tab, line break and backslash written as \t, \n, \r, \\ and
// every other control character (C0, DEL, C1) as its code in the form's escape, and the layout
// controls above as \uHHHH (above U+FFFF: a surrogate pair in JSON, \UHHHHHHHH otherwise), so
// the text can neither end the line or field it stands in nor start one of its own, nor reach a
// terminal as a control sequence, nor hide in plain sight.
std::string EscapeDeviceText(const std::string& bytes, ControlEscape form = ControlEscape::Text);
