#include "net/DestinationKind.h"

#include <arpa/inet.h>
#include <linux/rtnetlink.h>
#include <netinet/in.h>

#include "res/Translation.h"

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

std::string LocateRefusal(const std::string& ip) {
    // In the order of the enumeration; whole sentences, so a translation may order its words.
    static constexpr const char* kReasons[] = {
        "",
        QT_TRANSLATE_NOOP("LocateRefusal", "%1 is a broadcast address"),
        QT_TRANSLATE_NOOP("LocateRefusal", "%1 is a network address"),
        QT_TRANSLATE_NOOP("LocateRefusal", "%1 is a multicast address"),
        QT_TRANSLATE_NOOP("LocateRefusal", "%1 is an unspecified address"),
        QT_TRANSLATE_NOOP("LocateRefusal", "%1 is a loopback address"),
    };
    in_addr addr{};
    if (inet_pton(AF_INET, ip.c_str(), &addr) != 1)
        return TranslatedWith("LocateRefusal", QT_TRANSLATE_NOOP("LocateRefusal", "%1 is no IPv4 address"),
                              ip);
    const DestinationKind kind = DestinationKindOf(addr.s_addr);
    if (kind == DestinationKind::OneHost)
        return {};
    return TranslatedWith("LocateRefusal", kReasons[static_cast<int>(kind)], ip);
}
