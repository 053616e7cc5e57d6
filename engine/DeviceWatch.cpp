#include "engine/DeviceWatch.h"

CDeviceWatch::CDeviceWatch(unsigned goneAfter, bool keepGone)
    : m_goneAfter(goneAfter ? goneAfter : 1), m_keepGone(keepGone) {}

std::vector<WatchEvent> CDeviceWatch::Update(const std::vector<COrvalink>& devices,
                                             std::chrono::system_clock::time_point time,
                                             const std::vector<std::string>& interfaces, bool countMisses) {
    const double seconds = std::chrono::duration<double>(time.time_since_epoch()).count();
    auto& known = m_known.Devices();
    std::vector<WatchEvent> events;
    for (const CKnownDevices::Answer& answer : m_known.Record(devices, seconds, interfaces, countMisses)) {
        const COrvalink now = AsDevice(known.at(answer.key));
        // A device that was gone comes back as one that appears.
        if (answer.added || answer.before.missed >= m_goneAfter)
            events.push_back(WatchEvent{WatchEvent::Kind::Appeared, time, now, {}});
        else if (answer.before.type != now.m_strType || answer.before.build != now.m_strBuild)
            events.push_back(WatchEvent{WatchEvent::Kind::Changed, time, now, AsDevice(answer.before)});
    }
    for (auto it = known.begin(); countMisses && it != known.end();) {
        // Announced once, when the count reaches the bound (a kept inventory counts on).
        if (it->second.missed == m_goneAfter && OnScannedInterface(interfaces, it->second.interface)) {
            events.push_back(WatchEvent{WatchEvent::Kind::Gone, time, AsDevice(it->second), {}});
            if (!m_keepGone) {
                it = known.erase(it);
                continue;
            }
        }
        ++it;
    }
    return events;
}
