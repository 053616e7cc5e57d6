#include "net/InterfaceTable.h"

#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string>

#include "base/UniqueFd.h"

namespace iftable {

bool HardwareAddress(int ifindex, std::uint8_t mac[6]) {
    ifreq req{};
    if (!if_indextoname(static_cast<unsigned>(ifindex), req.ifr_name))
        return false;
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd)
        return false;
    bool ok = ::ioctl(fd.get(), SIOCGIFHWADDR, &req) == 0 && req.ifr_hwaddr.sa_family == ARPHRD_ETHER;
    if (ok)
        std::memcpy(mac, req.ifr_hwaddr.sa_data, 6);
    return ok;
}

std::vector<LocalSubnet> LocalSubnets() {
    std::vector<LocalSubnet> subnets;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return subnets;
    for (ifaddrs* ifa = list; ifa; ifa = ifa->ifa_next) {
        if (!ifa->ifa_addr || ifa->ifa_addr->sa_family != AF_INET || !ifa->ifa_netmask)
            continue;
        subnets.push_back(LocalSubnet{static_cast<int>(if_nametoindex(ifa->ifa_name)),
                                      reinterpret_cast<sockaddr_in*>(ifa->ifa_addr)->sin_addr.s_addr,
                                      reinterpret_cast<sockaddr_in*>(ifa->ifa_netmask)->sin_addr.s_addr,
                                      (ifa->ifa_flags & IFF_UP) != 0});
    }
    ::freeifaddrs(list);
    return subnets;
}

void AddCarrierDowns(std::vector<LocalSubnet>& subnets) {
    for (LocalSubnet& subnet : subnets) {
        // sysfs shows the interfaces of the namespace it was mounted in (ip netns exec mounts
        // the namespace's own); one not there stays not known.
        char name[IF_NAMESIZE] = {};
        if (!if_indextoname(static_cast<unsigned>(subnet.ifindex), name))
            continue;
        const std::string path = std::string("/sys/class/net/") + name + "/carrier_down_count";
        const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        char text[24];
        const ssize_t length = fd ? ::read(fd.get(), text, sizeof text) : -1;
        long count = 0;
        if (length > 0 && std::from_chars(text, text + length, count).ec == std::errc{})
            subnet.carrierDowns = count;
    }
}

bool SubnetLost(const std::vector<LocalSubnet>& before, const std::vector<LocalSubnet>& after) {
    for (const LocalSubnet& was : before) {
        if (!was.up)
            continue;
        const bool kept = std::any_of(after.begin(), after.end(), [&](const LocalSubnet& now) {
            return now.up && now.ifindex == was.ifindex && now.address == was.address && now.mask == was.mask &&
                   now.carrierDowns == was.carrierDowns;
        });
        if (!kept)
            return true;
    }
    return false;
}

bool OnSubnet(const std::vector<LocalSubnet>& subnets, int ifindex, std::uint32_t addr) {
    bool inside = false;
    for (const LocalSubnet& subnet : subnets) {
        if (subnet.ifindex != ifindex)
            continue;
        if (subnet.address == addr)
            return false;
        if (subnet.mask != 0xFFFFFFFFu && (subnet.address & subnet.mask) == (addr & subnet.mask))
            inside = true;
    }
    return inside;
}

const LocalSubnet* SubnetOf(const std::vector<LocalSubnet>& subnets, int arrival, std::uint32_t addr) {
    const LocalSubnet* found = nullptr;
    for (const LocalSubnet& subnet : subnets) {
        if (subnet.address == addr)
            return nullptr;
        if (subnet.mask == 0xFFFFFFFFu || (subnet.address & subnet.mask) != (addr & subnet.mask))
            continue;
        if (!found || (subnet.ifindex == arrival && found->ifindex != arrival))
            found = &subnet;
    }
    return found;
}

}  // namespace iftable
