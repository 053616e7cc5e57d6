#pragma once
// The program's string table: every text the user sees that is not part of a dialog template.
#include <string>
#include <string_view>

// The text of the given string id; empty when the table has no such entry.
std::string LoadString(unsigned id);
// The text of the given string id with every "%1" replaced by the argument.
std::string FormatString1(unsigned id, const std::string& argument);
// The same with "%1" replaced by first and "%2" by second.
std::string FormatString2(unsigned id, const std::string& first, const std::string& second);
// Equal but for the case of ASCII letters, as the names of resources and settings compare; no
// locale takes part, so none can make "TELNET" miss "telnet".
bool SameName(std::string_view a, std::string_view b);
