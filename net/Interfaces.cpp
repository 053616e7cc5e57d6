#include "net/Interfaces.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>

Failure InterfaceProblem(const std::string& name, int* ifindex) {
    const unsigned index = name.empty() || name.size() >= IF_NAMESIZE ? 0 : if_nametoindex(name.c_str());
    if (index == 0)
        return Failure(Errc::UnknownInterface, name);
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return Failure(Errc::InterfaceUnreadable, name);
    bool found = false, hasIpv4 = false;
    unsigned flags = 0;
    for (ifaddrs* ifa = list; ifa; ifa = ifa->ifa_next) {
        if (name != ifa->ifa_name)
            continue;
        found = true;
        flags = ifa->ifa_flags;
        hasIpv4 = hasIpv4 || (ifa->ifa_addr && ifa->ifa_addr->sa_family == AF_INET);
    }
    ::freeifaddrs(list);
    if (!found)
        return Failure(Errc::UnknownInterface, name);
    if (!(flags & IFF_UP))
        return Failure(Errc::InterfaceDown, name);
    if ((flags & IFF_LOOPBACK) || !(flags & IFF_BROADCAST))
        return Failure(Errc::NoBroadcast, name);
    if (!hasIpv4)
        return Failure(Errc::NoIpv4Address, name);
    if (ifindex)
        *ifindex = static_cast<int>(index);
    return {};
}

bool InterfaceNotReady(const Failure& problem) {
    return problem == Errc::InterfaceDown || problem == Errc::NoIpv4Address;
}

std::vector<std::string> BroadcastInterfaceNames() {
    std::vector<std::string> names;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return names;
    for (ifaddrs* ifa = list; ifa; ifa = ifa->ifa_next) {
        const unsigned flags = ifa->ifa_flags;
        if (ifa->ifa_addr && ifa->ifa_addr->sa_family == AF_INET && (flags & IFF_UP) &&
            !(flags & IFF_LOOPBACK) && (flags & IFF_BROADCAST) &&
            std::find(names.begin(), names.end(), ifa->ifa_name) == names.end())
            names.emplace_back(ifa->ifa_name);
    }
    ::freeifaddrs(list);
    return names;
}
