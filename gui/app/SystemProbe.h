#pragma once
// What the start-up checks ask of the system: its version and the rights for raw sockets.
#include <memory>

class ISystemProbe {
public:
    virtual ~ISystemProbe() = default;
    // Major and minor version of the running kernel; false when the query fails.
    virtual bool GetSystemVersion(unsigned* major, unsigned* minor) = 0;
    // True when the raw ICMP socket was opened at start-up.
    virtual bool HasRawSocketRights() = 0;
};

// The running system, whose raw ICMP socket main opened, or could not.
std::shared_ptr<ISystemProbe> CreateSystemProbe(bool rawIcmpOpened);
