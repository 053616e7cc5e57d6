#pragma once
// Whether an IPv4 destination names one host or a group of them on this machine's networks: a
// request meant for one device must not reach every device of a subnet.
#include <cstdint>
#include <string>
#include <vector>

#include "base/Error.h"
#include "net/InterfaceTable.h"
#include "net/Netlink.h"

enum class DestinationKind { OneHost, Broadcast, Network, Multicast, Unspecified, Loopback };

// addr (network byte order) as the kernel's route to it says (route null: no route), and, for a
// subnet on the link the route leaves by, as that subnet's netmask says: its first address names
// the subnet, its last one every host on it. The kernel marks its broadcast addresses as such but
// routes a subnet's own address as any other.
DestinationKind ClassifyDestination(std::uint32_t addr, const netlink::RouteInfo* route,
                                    const std::vector<iftable::LocalSubnet>& subnets);

// The same with this machine's routes and interface addresses.
DestinationKind DestinationKindOf(std::uint32_t addr);

// "broadcast", "network", "multicast", "unspecified" or "loopback"; empty for one host.
const char* DestinationKindName(DestinationKind kind);

// What a packet's source address (network byte order) names: a device answers from one host's
// address, never from 0.0.0.0, loopback, a group, or a subnet's first or last address (which
// the kernel lets in with rp_filter off), whatever the subnet of ours it lies in.
DestinationKind SourceKind(std::uint32_t addr, const std::vector<iftable::LocalSubnet>& subnets);

// Why a locate request must not go to ip (NotIpv4Text, or the kind of address it names, with ip
// as the subject: "10.77.255.255 is a broadcast address"), empty when it names one host: the one
// check of every way to locate a device.
Failure LocateRefusal(const std::string& ip);
