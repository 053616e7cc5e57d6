#include "discovery/Orvalink.h"

COrvalink& COrvalink::operator=(const COrvalink& other) {
    if (this != &other) {
        m_strIP = other.m_strIP;
        m_strMAC = other.m_strMAC;
        m_strType = other.m_strType;
        m_strBuild = other.m_strBuild;
        m_strInterface = other.m_strInterface;
    }
    return *this;
}
