#include "formats/WatchOutput.h"

#include <cstdio>
#include <ctime>

#include "formats/ScanOutput.h"

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
