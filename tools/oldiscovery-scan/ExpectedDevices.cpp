#include "ExpectedDevices.h"

#include <arpa/inet.h>
#include <net/if.h>

#include <algorithm>
#include <tuple>

std::vector<CScanWorker::ExpectedDevice> ExpectedDevices(const CKnownDevices& known,
                                                         const std::vector<std::string>& interfaces) {
    std::vector<CScanWorker::ExpectedDevice> expected;
    for (const auto& [key, device] : known.Devices()) {
        if (!interfaces.empty() && std::find(interfaces.begin(), interfaces.end(), device.interface) == interfaces.end())
            continue;
        in_addr addr{};
        if (inet_pton(AF_INET, device.ip.c_str(), &addr) != 1)
            continue;
        expected.push_back({addr.s_addr, static_cast<int>(if_nametoindex(device.interface.c_str()))});
    }
    // An answer names its IP address, not its MAC: with two devices known on one address (a
    // conflict) one answer cannot tell that both are there, so the scan keeps its full end.
    std::sort(expected.begin(), expected.end(), [](const auto& a, const auto& b) {
        return std::tie(a.addr, a.ifindex) < std::tie(b.addr, b.ifindex);
    });
    if (std::adjacent_find(expected.begin(), expected.end(), [](const auto& a, const auto& b) {
            return a.addr == b.addr && a.ifindex == b.ifindex;
        }) != expected.end())
        return {};
    return expected;
}
