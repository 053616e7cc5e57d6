#pragma once
// Text from outside the program (what a device sent, a command line from a desktop entry or
// the settings) made safe for one log line.
#include <string>

// The tab-separated output's escaping (EscapeDeviceText): valid UTF-8 kept, other bytes as
// Latin-1 characters; \t, \n, \r and \\, and every other control character (C0, DEL, C1) as
// \xHH, so the text can neither end the line nor start one of its own, nor carry a terminal's
// control sequence.
std::string LogEscape(const std::string& text);
