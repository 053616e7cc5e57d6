#pragma once
// Checking the interfaces a scan is restricted to before it starts.
#include <string>

// Why a discovery request cannot leave on the interface called name, or "" when it can; then
// *ifindex is its index. It must exist, be up, take broadcasts, not be loopback and have an
// IPv4 address.
std::string InterfaceProblem(const std::string& name, int* ifindex);
