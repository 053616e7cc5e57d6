#include "engine/KnownDevices.h"

#include <algorithm>
#include <cctype>
#include <set>

#include "log/DeviceText.h"

CKnownDevices::Key KnownKey(const COrvalink& d) {
    return {DeviceTextUtf8(d.m_strInterface), DeviceTextUtf8(d.m_strIP), DeviceTextUtf8(d.m_strMAC)};
}

COrvalink AsDevice(const KnownDevice& known) {
    COrvalink d;
    d.m_strInterface = known.interface;
    d.m_strIP = known.ip;
    d.m_strMAC = known.mac;
    d.m_strType = known.type;
    d.m_strBuild = known.build;
    return d;
}

bool OnScannedInterface(const std::vector<std::string>& interfaces, const std::string& name) {
    return interfaces.empty() || std::find(interfaces.begin(), interfaces.end(), name) != interfaces.end();
}

std::vector<CKnownDevices::Answer> CKnownDevices::Record(const std::vector<COrvalink>& devices, double time,
                                                         const std::vector<std::string>& interfaces) {
    std::vector<Answer> answers;
    std::set<Key> answered;
    for (const COrvalink& d : devices) {
        Key key = KnownKey(d);
        if (!answered.insert(key).second)
            continue;
        auto [it, added] = m_devices.try_emplace(key);
        KnownDevice& known = it->second;
        answers.push_back(Answer{key, added, known});
        if (added) {
            std::tie(known.interface, known.ip, known.mac) = key;
            known.firstSeen = time;
        }
        known.type = DeviceTextUtf8(d.m_strType);
        known.build = DeviceTextUtf8(d.m_strBuild);
        known.lastSeen = time;
        known.missed = 0;
    }
    // A device on a segment this scan did not ask said nothing by its silence.
    for (auto& [key, known] : m_devices)
        if (!answered.count(key) && OnScannedInterface(interfaces, known.interface))
            ++known.missed;
    return answers;
}

namespace {

bool SameAddress(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

std::vector<KnownDevice> CKnownDevices::Forget(const std::string& address) {
    const std::size_t comma = address.find(',');
    const std::string ip = comma == std::string::npos ? address : address.substr(0, comma);
    const std::string mac = comma == std::string::npos ? address : address.substr(comma + 1);
    std::vector<KnownDevice> gone;
    std::erase_if(m_devices, [&](const auto& entry) {
        const KnownDevice& d = entry.second;
        const bool named = comma == std::string::npos
                               ? SameAddress(d.ip, address) || SameAddress(d.mac, address)
                               : SameAddress(d.ip, ip) && SameAddress(d.mac, mac);
        if (named)
            gone.push_back(d);
        return named;
    });
    return gone;
}

std::vector<KnownDevice> CKnownDevices::Retire(double oldest, const std::vector<std::string>& interfaces) {
    std::vector<KnownDevice> gone;
    std::erase_if(m_devices, [&](const auto& entry) {
        const KnownDevice& d = entry.second;
        const bool retired = d.lastSeen < oldest && OnScannedInterface(interfaces, d.interface);
        if (retired)
            gone.push_back(d);
        return retired;
    });
    return gone;
}

std::vector<KnownDevice> CKnownDevices::Cap(std::size_t perInterface) {
    std::map<std::string, std::vector<const KnownDevice*>> byInterface;
    for (const auto& [key, d] : m_devices)
        byInterface[d.interface].push_back(&d);
    std::vector<KnownDevice> gone;
    for (auto& [name, list] : byInterface) {
        if (list.size() <= perInterface)
            continue;
        // The longest silent go first; of devices seen at one time, the later key.
        std::stable_sort(list.begin(), list.end(), [](const KnownDevice* a, const KnownDevice* b) {
            return a->lastSeen > b->lastSeen;
        });
        for (std::size_t i = list.size(); i-- > perInterface;)
            gone.push_back(*list[i]);
    }
    for (const KnownDevice& d : gone)
        m_devices.erase({d.interface, d.ip, d.mac});
    return gone;
}
