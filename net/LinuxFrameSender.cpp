// The requests as whole Ethernet frames on the packet socket, which need no neighbour entry;
// the kernel's path where there is no packet socket or no Ethernet framing.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/rtnetlink.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netpacket/packet.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <set>

#include "net/InterfaceTable.h"
#include "net/LinuxSocketLayer.h"

namespace {

// Identification of the next packet sent as a frame; like the kernel's, it starts anywhere.
std::uint16_t NextPacketId() {
    static std::atomic<std::uint16_t> next{
        static_cast<std::uint16_t>(std::chrono::steady_clock::now().time_since_epoch().count())};
    return next.fetch_add(1);
}

}  // namespace

Failure CLinuxSocketLayer::SendBroadcast(const IcmpSocket& sock, const void* data, std::size_t length,
                                                 const std::vector<int>& ifindexes) {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return ErrnoFailure(errno);
    const std::uint8_t everyone[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    bool sent = false;
    Failure lastError = ErrnoFailure(ENETUNREACH);  // no interface qualified
    std::set<unsigned> done;                         // one copy per interface, however many addresses it has
    for (ifaddrs* ifa = list; ifa; ifa = ifa->ifa_next) {
        if (!ifa->ifa_addr || ifa->ifa_addr->sa_family != AF_INET)
            continue;
        unsigned flags = ifa->ifa_flags;
        if (!(flags & IFF_UP) || (flags & IFF_LOOPBACK) || !(flags & IFF_BROADCAST))
            continue;
        unsigned ifindex = if_nametoindex(ifa->ifa_name);
        if (ifindex == 0 || !done.insert(ifindex).second)
            continue;
        if (!ifindexes.empty() &&
            std::find(ifindexes.begin(), ifindexes.end(), static_cast<int>(ifindex)) == ifindexes.end())
            continue;
        const std::uint32_t source = reinterpret_cast<sockaddr_in*>(ifa->ifa_addr)->sin_addr.s_addr;
        const int index = static_cast<int>(ifindex);
        std::uint8_t ownMac[6];
        Failure error;
        if (m_arp && m_arp->CarriesFrames() && iftable::HardwareAddress(index, ownMac))
            error = m_arp->SendFrame(
                index, everyone,
                netlink::BuildIcmpPacket(source, htonl(INADDR_BROADCAST), NextPacketId(), kTtl,
                                         {static_cast<const std::uint8_t*>(data), length}));
        else
            error = SendThroughKernel(sock, htonl(INADDR_BROADCAST), index, source, data, length);
        if (!error)
            sent = true;
        else
            lastError = error;
    }
    ::freeifaddrs(list);
    return sent ? Failure() : lastError;
}

Failure CLinuxSocketLayer::SendTo(const IcmpSocket& sock, std::uint32_t addr, const void* data,
                                          std::size_t length) {
    std::uint8_t ownMac[6];
    const Result<netlink::RouteInfo> route = m_arp && m_arp->CarriesFrames()
                                                 ? m_route.GetRoute(addr)
                                                 : Result<netlink::RouteInfo>(ErrnoFailure(ENOTSOCK));
    if (route && route->type == RTN_UNICAST && route->oif > 0 && route->prefsrc != 0 &&
        iftable::HardwareAddress(route->oif, ownMac)) {
        // The next hop's hardware address from the table, or asked for; never a new table entry.
        std::uint8_t hop[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
        unsigned hopLength = sizeof hop;
        const std::uint32_t hopAddr = route->gateway ? route->gateway : addr;
        if (m_arp->ResolveHardwareAddress(hopAddr, route->oif, hop, &hopLength) || hopLength != 6)
            return ErrnoFailure(EHOSTUNREACH);
        return m_arp->SendFrame(route->oif, hop,
                                netlink::BuildIcmpPacket(route->prefsrc, addr, NextPacketId(), kTtl,
                                                         {static_cast<const std::uint8_t*>(data), length}));
    }
    // Loopback, our own addresses and interfaces without Ethernet framing.
    return SendThroughKernel(sock, addr, 0, 0, data, length);
}
