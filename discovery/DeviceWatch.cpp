#include "discovery/DeviceWatch.h"

#include <ctime>
#include <cstdio>

#include "discovery/ScanOutput.h"

CDeviceWatch::CDeviceWatch(unsigned goneAfter) : m_goneAfter(goneAfter ? goneAfter : 1) {}

std::vector<WatchEvent> CDeviceWatch::Update(const std::vector<COrvalink>& devices,
                                             std::chrono::system_clock::time_point time) {
    ++m_scan;
    std::vector<WatchEvent> events;
    for (const COrvalink& d : devices) {
        auto [it, added] = m_known.try_emplace({d.m_strInterface, d.m_strIP});
        Entry& known = it->second;
        if (!added && known.seen == m_scan)
            continue;  // a second answer in the same scan
        if (added) {
            events.push_back(WatchEvent{WatchEvent::Kind::Appeared, time, d, {}});
        } else if (known.device.m_strMAC != d.m_strMAC || known.device.m_strType != d.m_strType ||
                   known.device.m_strBuild != d.m_strBuild) {
            events.push_back(WatchEvent{WatchEvent::Kind::Changed, time, d, known.device});
        }
        known.device = d;
        known.missed = 0;
        known.seen = m_scan;
    }
    for (auto it = m_known.begin(); it != m_known.end();) {
        if (it->second.seen != m_scan && ++it->second.missed >= m_goneAfter) {
            events.push_back(WatchEvent{WatchEvent::Kind::Gone, time, it->second.device, {}});
            it = m_known.erase(it);  // forgotten: a device seen again appears anew
        } else {
            ++it;
        }
    }
    return events;
}

std::string Rfc3339(std::chrono::system_clock::time_point time) {
    const auto ms = std::chrono::time_point_cast<std::chrono::milliseconds>(time);
    const auto whole = std::chrono::floor<std::chrono::seconds>(ms);  // before 1970 too
    const std::time_t seconds = std::chrono::system_clock::to_time_t(whole);
    const long milli = static_cast<long>((ms - whole).count());
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, milli);
    return text;
}

std::string FormatWatchEvent(const WatchEvent& event) {
    static const char* const kNames[] = {"appeared", "gone", "changed"};
    const COrvalink& d = event.device;
    std::string out = "{\"time\": \"" + Rfc3339(event.time) + "\", \"event\": \"" +
                      kNames[static_cast<int>(event.kind)] +
                      "\", \"interface\": " + JsonText(d.m_strInterface) +
                      ", \"ip\": " + JsonText(d.m_strIP) + ", \"mac\": " + JsonText(d.m_strMAC) +
                      ", \"type\": " + JsonText(d.m_strType) + ", \"build\": " + JsonText(d.m_strBuild);
    if (event.kind == WatchEvent::Kind::Changed) {
        const COrvalink& p = event.previous;
        out += ", \"old\": {\"mac\": " + JsonText(p.m_strMAC) + ", \"type\": " + JsonText(p.m_strType) +
               ", \"build\": " + JsonText(p.m_strBuild) + "}";
    }
    return out + "}\n";
}
