#pragma once
// Checking the interfaces a scan is restricted to before it starts.
#include <string>
#include <vector>

#include "base/Error.h"

// Why a discovery request cannot leave on the interface called name, empty when it can; then
// *ifindex is its index. It must exist (else UnknownInterface; InterfaceUnreadable when the
// addresses cannot be read), be up (InterfaceDown), take broadcasts and not be loopback
// (NoBroadcast), and have an IPv4 address (NoIpv4Address). The subject is the name.
Failure InterfaceProblem(const std::string& name, int* ifindex);
// True for a problem of the network's state, an interface that exists but is down or has no IPv4
// address, rather than a wrong name.
bool InterfaceNotReady(const Failure& problem);

// The names of the interfaces a discovery request without a choice goes out on: up, taking
// broadcasts, not loopback, with an IPv4 address; in the order the system lists them.
std::vector<std::string> BroadcastInterfaceNames();
