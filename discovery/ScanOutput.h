#pragma once
// How devices are written out as text: oldiscovery-scan's outputs and the saved list.
#include <string>
#include <vector>

#include "discovery/Orvalink.h"

// Devices by numeric IP address; equal addresses keep their arrival order.
void SortDevices(std::vector<COrvalink>& devices);
// Both outputs are UTF-8: a field that is valid UTF-8 is shown as such, any other field byte by
// byte as Latin-1 (DeviceTextUtf8), the same way the program's list shows it.
// One line per device: IP, MAC, type, build, separated by tabs. A tab, line break, backslash
// or other control character (C0, DEL, C1) inside a field is written as an escape (\t, \n, \r,
// \\, \xHH with the character's code) so every line keeps its four columns.
std::string FormatTable(const std::vector<COrvalink>& devices);
// A JSON array of {"ip","mac","type","build","interface"} objects; control characters as JSON
// escapes.
std::string FormatJson(const std::vector<COrvalink>& devices);
// True when text is a dotted-decimal IPv4 address: four decimal octets, no leading zeros, nothing else.
bool IsDottedQuad(const std::string& text);
