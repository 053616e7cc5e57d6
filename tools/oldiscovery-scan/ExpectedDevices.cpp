#include "ExpectedDevices.h"

#include <arpa/inet.h>
#include <net/if.h>

#include <algorithm>

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
    return expected;
}
