#include "net/DestinationKind.h"

#include <arpa/inet.h>
#include <linux/rtnetlink.h>
#include <netinet/in.h>

#include "net/AddressText.h"

namespace {

// The kind addr has in subnet: none (one host) unless it is the subnet's first or last address.
DestinationKind KindInSubnet(std::uint32_t host, const iftable::LocalSubnet& subnet) {
    const std::uint32_t mask = ntohl(subnet.mask);
    // /31 and /32 have no network or broadcast address.
    if (mask >= 0xFFFFFFFEu || (host & mask) != (ntohl(subnet.address) & mask))
        return DestinationKind::OneHost;
    if ((host & ~mask) == 0)
        return DestinationKind::Network;
    if ((host & ~mask) == ~mask)
        return DestinationKind::Broadcast;
    return DestinationKind::OneHost;
}

}  // namespace

DestinationKind ClassifyDestination(std::uint32_t addr, const netlink::RouteInfo* route,
                                    const std::vector<iftable::LocalSubnet>& subnets) {
    const std::uint32_t host = ntohl(addr);
    if (host == INADDR_ANY)
        return DestinationKind::Unspecified;
    // Without a route (no default route) the kernel says nothing about these; they are groups anyway.
    if ((route && route->type == RTN_MULTICAST) || IN_MULTICAST(host))
        return DestinationKind::Multicast;
    if ((route && route->type == RTN_BROADCAST) || host == INADDR_BROADCAST)
        return DestinationKind::Broadcast;
    if (!route || route->type != RTN_UNICAST || route->viaGateway)
        return DestinationKind::OneHost;
    for (const iftable::LocalSubnet& subnet : subnets) {
        if (subnet.ifindex != route->oif)
            continue;
        if (const DestinationKind kind = KindInSubnet(host, subnet); kind != DestinationKind::OneHost)
            return kind;
    }
    return DestinationKind::OneHost;
}

DestinationKind DestinationKindOf(std::uint32_t addr) {
    netlink::CRouteSocket routes;
    const Result<netlink::RouteInfo> route = routes.GetRoute(addr);
    return ClassifyDestination(addr, route ? &*route : nullptr, iftable::LocalSubnets());
}

const char* DestinationKindName(DestinationKind kind) {
    // In the order of the enumeration.
    static constexpr const char* kNames[] = {"",          "broadcast",   "network",
                                             "multicast", "unspecified", "loopback"};
    return kNames[static_cast<int>(kind)];
}

DestinationKind SourceKind(std::uint32_t addr, const std::vector<iftable::LocalSubnet>& subnets) {
    const std::uint32_t host = ntohl(addr);
    if (host == INADDR_ANY)
        return DestinationKind::Unspecified;
    if ((host >> IN_CLASSA_NSHIFT) == IN_LOOPBACKNET)
        return DestinationKind::Loopback;
    if (IN_MULTICAST(host))
        return DestinationKind::Multicast;
    if (host == INADDR_BROADCAST)
        return DestinationKind::Broadcast;
    for (const iftable::LocalSubnet& subnet : subnets)
        if (const DestinationKind kind = KindInSubnet(host, subnet); kind != DestinationKind::OneHost)
            return kind;
    return DestinationKind::OneHost;
}

Failure LocateRefusal(const std::string& ip) {
    const std::optional<std::uint32_t> addr = ParseIpv4(ip);
    if (!addr)
        return Failure(Errc::NotIpv4Text, ip);
    switch (DestinationKindOf(*addr)) {
    case DestinationKind::OneHost: return {};
    case DestinationKind::Broadcast: return Failure(Errc::BroadcastAddress, ip);
    case DestinationKind::Network: return Failure(Errc::NetworkAddress, ip);
    case DestinationKind::Multicast: return Failure(Errc::MulticastAddress, ip);
    case DestinationKind::Unspecified: return Failure(Errc::UnspecifiedAddress, ip);
    case DestinationKind::Loopback: return Failure(Errc::LoopbackAddress, ip);
    }
    return {};
}
