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
                                                         const std::vector<std::string>& interfaces,
                                                         bool countMisses) {
    std::map<std::string, std::size_t> held;
    if (m_limit)
        for (const auto& [key, known] : m_devices)
            ++held[known.interface];
    m_refused.clear();
    m_countedMisses = countMisses;
    std::vector<Answer> answers;
    std::set<Key> answered;
    for (const COrvalink& d : devices) {
        Key key = KnownKey(d);
        if (!answered.insert(key).second)
            continue;
        if (m_limit && !m_devices.count(key) && held[std::get<0>(key)]++ >= m_limit) {
            ++m_refused[std::get<0>(key)];
            continue;
        }
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
        if (countMisses && !answered.count(key) && OnScannedInterface(interfaces, known.interface))
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

bool AddressNames(const std::string& address, const KnownDevice& d) {
    const std::size_t comma = address.find(',');
    if (comma == std::string::npos)
        return SameAddress(d.ip, address) || SameAddress(d.mac, address);
    return SameAddress(d.ip, address.substr(0, comma)) && SameAddress(d.mac, address.substr(comma + 1));
}

std::vector<KnownDevice> CKnownDevices::Forget(const std::string& address) {
    std::vector<KnownDevice> gone;
    std::erase_if(m_devices, [&](const auto& entry) {
        const bool named = AddressNames(address, entry.second);
        if (named)
            gone.push_back(entry.second);
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
