#pragma once
// Checking the interfaces a scan is restricted to before it starts.
#include <string>
#include <vector>

// Why a discovery request cannot leave on the interface called name, or "" when it can; then
// *ifindex is its index. It must exist, be up, take broadcasts, not be loopback and have an
// IPv4 address. *notReady (when given) tells a problem of the network's state, an interface that
// exists but is down or has no IPv4 address, from a wrong name.
std::string InterfaceProblem(const std::string& name, int* ifindex, bool* notReady = nullptr);

// The names of the interfaces a discovery request without a choice goes out on: up, taking
// broadcasts, not loopback, with an IPv4 address; in the order the system lists them.
std::vector<std::string> BroadcastInterfaceNames();
