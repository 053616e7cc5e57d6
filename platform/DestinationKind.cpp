#include "platform/DestinationKind.h"

#include <arpa/inet.h>
#include <linux/rtnetlink.h>
#include <netinet/in.h>

DestinationKind ClassifyDestination(std::uint32_t addr, const netlink::RouteInfo* route,
                                    const std::vector<iftable::LocalSubnet>& subnets) {
    const std::uint32_t host = ntohl(addr);
    // Without a route (no default route) the kernel says nothing about these; they are groups anyway.
    if ((route && route->type == RTN_MULTICAST) || IN_MULTICAST(host))
        return DestinationKind::Multicast;
    if ((route && route->type == RTN_BROADCAST) || host == INADDR_BROADCAST)
        return DestinationKind::Broadcast;
    if (!route || route->type != RTN_UNICAST || route->viaGateway)
        return DestinationKind::OneHost;
    for (const iftable::LocalSubnet& subnet : subnets) {
        const std::uint32_t mask = ntohl(subnet.mask);
        // /31 and /32 have no network or broadcast address.
        if (subnet.ifindex != route->oif || mask >= 0xFFFFFFFEu ||
            (host & mask) != (ntohl(subnet.address) & mask))
            continue;
        if ((host & ~mask) == 0)
            return DestinationKind::Network;
        if ((host & ~mask) == ~mask)
            return DestinationKind::Broadcast;
    }
    return DestinationKind::OneHost;
}

DestinationKind DestinationKindOf(std::uint32_t addr) {
    netlink::CRouteSocket routes;
    netlink::RouteInfo route;
    int error = 0;
    const bool routed = routes.GetRoute(addr, route, error);
    return ClassifyDestination(addr, routed ? &route : nullptr, iftable::LocalSubnets());
}

const char* DestinationKindName(DestinationKind kind) {
    // In the order of the enumeration.
    static constexpr const char* kNames[] = {"", "broadcast", "network", "multicast"};
    return kNames[static_cast<int>(kind)];
}
