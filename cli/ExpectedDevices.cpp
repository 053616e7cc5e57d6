#include "ExpectedDevices.h"

#include <arpa/inet.h>
#include <net/if.h>

#include <map>
#include <set>
#include <utility>

#include "net/AddressText.h"

std::vector<CScanWorker::ExpectedDevice> ExpectedDevices(const CKnownDevices& known,
                                                         const std::vector<std::string>& interfaces) {
    std::vector<CScanWorker::ExpectedDevice> expected;
    std::map<std::string, int> indexes;  // one lookup per interface, not per device
    std::set<std::pair<in_addr_t, int>> addresses;
    for (const auto& [key, device] : known.Devices()) {
        if (!OnScannedInterface(interfaces, device.interface))
            continue;
        const std::optional<std::uint32_t> addr = ParseIpv4(device.ip);
        if (!addr)
            continue;
        auto [index, added] = indexes.try_emplace(device.interface, 0);
        if (added)
            index->second = static_cast<int>(if_nametoindex(device.interface.c_str()));
        // An answer names its IP address, not its MAC: with two devices known on one address (a
        // conflict) one answer cannot tell that both are there, so the scan keeps its full end.
        if (!addresses.emplace(*addr, index->second).second)
            return {};
        expected.push_back({*addr, index->second});
    }
    return expected;
}
