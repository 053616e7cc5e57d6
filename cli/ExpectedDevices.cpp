#include "ExpectedDevices.h"

#include <arpa/inet.h>
#include <net/if.h>

#include <map>
#include <set>
#include <utility>

std::vector<CScanWorker::ExpectedDevice> ExpectedDevices(const CKnownDevices& known,
                                                         const std::vector<std::string>& interfaces) {
    std::vector<CScanWorker::ExpectedDevice> expected;
    std::map<std::string, int> indexes;  // one lookup per interface, not per device
    std::set<std::pair<in_addr_t, int>> addresses;
    for (const auto& [key, device] : known.Devices()) {
        if (!OnScannedInterface(interfaces, device.interface))
            continue;
        in_addr addr{};
        if (inet_pton(AF_INET, device.ip.c_str(), &addr) != 1)
            continue;
        auto [index, added] = indexes.try_emplace(device.interface, 0);
        if (added)
            index->second = static_cast<int>(if_nametoindex(device.interface.c_str()));
        // An answer names its IP address, not its MAC: with two devices known on one address (a
        // conflict) one answer cannot tell that both are there, so the scan keeps its full end.
        if (!addresses.emplace(addr.s_addr, index->second).second)
            return {};
        expected.push_back({addr.s_addr, index->second});
    }
    return expected;
}
