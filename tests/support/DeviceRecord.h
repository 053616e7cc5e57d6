#pragma once
// A device record as the scan worker hands it on, for the tests of what is made of it.
#include <string>
#include <utility>

#include "engine/Orvalink.h"

namespace testsupport {

inline COrvalink MakeDevice(std::string ip, std::string mac, std::string type, std::string build,
                            std::string interface = "eth0") {
    COrvalink d;
    d.m_strIP = std::move(ip);
    d.m_strMAC = std::move(mac);
    d.m_strType = std::move(type);
    d.m_strBuild = std::move(build);
    d.m_strInterface = std::move(interface);
    return d;
}

}  // namespace testsupport
