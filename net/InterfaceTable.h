#pragma once
// What the socket layer needs to know of this host's interfaces: their hardware addresses and
// their connected IPv4 subnets.
#include <cstdint>
#include <vector>

namespace iftable {

// The Ethernet address of the interface; false when it has none.
bool HardwareAddress(int ifindex, std::uint8_t mac[6]);

// One connected IPv4 subnet of an interface.
struct LocalSubnet {
    int ifindex;
    std::uint32_t address, mask;  // network byte order
    bool up = true;               // its interface is up
    long carrierDowns = -1;       // how often its link went down so far; -1 if not known
};

// The connected IPv4 subnets of every interface.
std::vector<LocalSubnet> LocalSubnets();
// Fills in carrierDowns, from the kernel's counter of each interface (Linux 4.16 and later).
void AddCarrierDowns(std::vector<LocalSubnet>& subnets);

// True when a subnet that was up in before is missing from after, down there or its link went
// down in between: its interface was deleted, made anew under another index, taken down (and
// perhaps up again), or the address was removed.
bool SubnetLost(const std::vector<LocalSubnet>& before, const std::vector<LocalSubnet>& after);

// True when addr lies in a subnet of the interface and is not the interface's own address.
bool OnSubnet(const std::vector<LocalSubnet>& subnets, int ifindex, std::uint32_t addr);

// The subnet of ours that holds addr, the arrival interface's first; null when none does or when
// addr is one of our own addresses.
const LocalSubnet* SubnetOf(const std::vector<LocalSubnet>& subnets, int arrival, std::uint32_t addr);

}  // namespace iftable
