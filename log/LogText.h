#pragma once
// Text from outside the program (what a device sent) made safe for one log line.
#include <string>

// Control bytes (below 0x20, and 0x7F) as \n, \r, \t or \xHH, and a backslash as \\, so the text
// can neither end the line nor start one of its own. Other bytes pass unchanged.
std::string LogEscape(const std::string& text);
