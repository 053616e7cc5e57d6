#pragma once
// One device that answered a discovery request, as display texts.
#include <string>

class COrvalink {
public:
    COrvalink() = default;
    COrvalink(const COrvalink& other) = default;
    virtual ~COrvalink() = default;
    COrvalink& operator=(const COrvalink& other) = default;

    std::string m_strIP;
    std::string m_strMAC;
    std::string m_strType;
    std::string m_strBuild;
    // The name of the interface the reply came in on; "n/a" when unknown.
    std::string m_strInterface;
};
