#pragma once
// How oldiscovery-scan prints the devices it found.
#include <string>
#include <vector>

#include "discovery/Orvalink.h"

// Devices by numeric IP address; equal addresses keep their arrival order.
void SortDevices(std::vector<COrvalink>& devices);
// One line per device: IP, MAC, type, build, separated by tabs. A tab, line break, backslash
// or other control byte inside a field is written as an escape (\t, \n, \r, \\, \xHH) so every
// line keeps its four columns; other bytes pass unchanged.
std::string FormatTable(const std::vector<COrvalink>& devices);
// A JSON array of {"ip","mac","type","build"} objects. Bytes outside ASCII are taken as
// Latin-1, so the output is valid UTF-8 whatever a device sends.
std::string FormatJson(const std::vector<COrvalink>& devices);
// True when text is a dotted-decimal IPv4 address: four decimal octets, no leading zeros, nothing else.
bool IsDottedQuad(const std::string& text);
