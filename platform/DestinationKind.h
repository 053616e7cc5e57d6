#pragma once
// Whether an IPv4 destination names one host or a group of them on this machine's networks: a
// request meant for one device must not reach every device of a subnet.
#include <cstdint>
#include <vector>

#include "platform/InterfaceTable.h"
#include "platform/Netlink.h"

enum class DestinationKind { OneHost, Broadcast, Network, Multicast };

// addr (network byte order) as the kernel's route to it says (route null: no route), and, for a
// subnet on the link the route leaves by, as that subnet's netmask says: its first address names
// the subnet, its last one every host on it. The kernel marks its broadcast addresses as such but
// routes a subnet's own address as any other.
DestinationKind ClassifyDestination(std::uint32_t addr, const netlink::RouteInfo* route,
                                    const std::vector<iftable::LocalSubnet>& subnets);

// The same with this machine's routes and interface addresses.
DestinationKind DestinationKindOf(std::uint32_t addr);

// "broadcast", "network" or "multicast"; empty for one host.
const char* DestinationKindName(DestinationKind kind);
