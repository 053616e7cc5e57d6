// One host or a group: the route's type and the subnet's netmask decide.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <linux/rtnetlink.h>

#include "net/DestinationKind.h"

namespace {

std::uint32_t Ip(const char* text) {
    return inet_addr(text);
}

netlink::RouteInfo Route(unsigned char type, int oif, bool viaGateway = false) {
    netlink::RouteInfo route;
    route.type = type;
    route.oif = oif;
    route.viaGateway = viaGateway;
    return route;
}

}  // namespace

TEST(DestinationKind, RouteTypeAndSubnetSayWhetherOneHostIsMeant) {
    // Interface 2 holds 10.77.0.10/16 and 192.168.5.1/31; interface 3 holds 172.16.1.1/24.
    const std::vector<iftable::LocalSubnet> subnets = {
        {2, Ip("10.77.0.10"), Ip("255.255.0.0")},
        {2, Ip("192.168.5.1"), Ip("255.255.255.254")},
        {3, Ip("172.16.1.1"), Ip("255.255.255.0")},
    };
    const auto unicast2 = Route(RTN_UNICAST, 2), unicast3 = Route(RTN_UNICAST, 3);
    const auto viaRouter = Route(RTN_UNICAST, 2, true), broadcast = Route(RTN_BROADCAST, 2);
    const auto multicast = Route(RTN_MULTICAST, 2), local = Route(RTN_LOCAL, 1);
    struct Case {
        const char* addr;
        const netlink::RouteInfo* route;
        DestinationKind kind;
    } cases[] = {
        {"10.77.1.2", &unicast2, DestinationKind::OneHost},
        {"10.77.0.0", &unicast2, DestinationKind::Network},  // the kernel routes it as unicast
        {"10.77.255.255", &broadcast, DestinationKind::Broadcast},
        {"10.77.255.255", &unicast2, DestinationKind::Broadcast},  // other broadcast set on the interface
        {"255.255.255.255", &broadcast, DestinationKind::Broadcast},
        {"255.255.255.255", nullptr, DestinationKind::Broadcast},  // no route without a default route
        {"224.0.0.1", &multicast, DestinationKind::Multicast},
        {"239.255.255.250", nullptr, DestinationKind::Multicast},
        {"172.16.1.0", &unicast3, DestinationKind::Network},
        {"172.16.1.255", &unicast3, DestinationKind::Broadcast},
        {"172.16.1.0", &unicast2, DestinationKind::OneHost},   // not the subnet of the route's link
        {"192.168.5.0", &unicast2, DestinationKind::OneHost},  // a /31 has two hosts, no group
        {"192.168.5.1", &local, DestinationKind::OneHost},
        {"10.78.0.0", &viaRouter, DestinationKind::OneHost},  // behind a router: not ours to judge
        {"10.78.0.0", nullptr, DestinationKind::OneHost},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ClassifyDestination(Ip(c.addr), c.route, subnets), c.kind)
            << c.addr << (c.route ? "" : " (no route)");
}

TEST(DestinationKind, ARepliesSourceMustNameOneHostOfAnySubnet) {
    const std::vector<iftable::LocalSubnet> subnets = {
        {2, Ip("10.77.0.10"), Ip("255.255.0.0")},
        {3, Ip("192.168.5.1"), Ip("255.255.255.254")},
    };
    const struct {
        const char* addr;
        DestinationKind kind;
    } cases[] = {
        {"10.77.1.2", DestinationKind::OneHost},         {"10.77.255.255", DestinationKind::Broadcast},
        {"10.77.0.0", DestinationKind::Network},         {"192.168.5.0", DestinationKind::OneHost},
        {"10.78.0.0", DestinationKind::OneHost},         {"0.0.0.0", DestinationKind::Unspecified},
        {"127.0.0.1", DestinationKind::Loopback},        {"224.0.0.1", DestinationKind::Multicast},
        {"255.255.255.255", DestinationKind::Broadcast},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SourceKind(Ip(c.addr), subnets), c.kind) << c.addr;
    // Whatever this machine's routes: a locate names one host.
    EXPECT_EQ(ReasonText(LocateRefusal("255.255.255.255")), "255.255.255.255 is a broadcast address");
    EXPECT_EQ(ReasonText(LocateRefusal("0.0.0.0")), "0.0.0.0 is an unspecified address");
    EXPECT_EQ(ReasonText(LocateRefusal("239.1.2.3")), "239.1.2.3 is a multicast address");
    EXPECT_EQ(ReasonText(LocateRefusal("10.0.0.300")), "10.0.0.300 is no IPv4 address");
}
