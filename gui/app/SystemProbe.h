#pragma once
// What the start-up checks ask of the system: its version and the rights for raw sockets.
#include <memory>

class ISystemProbe {
public:
    virtual ~ISystemProbe() = default;
    // Major and minor version of the running kernel; false when the query fails.
    virtual bool GetSystemVersion(unsigned* major, unsigned* minor) = 0;
    // True when the raw ICMP socket opened at start-up (or, without that, the right is permitted).
    virtual bool HasRawSocketRights() = 0;
};

// The running system.
std::shared_ptr<ISystemProbe> CreateSystemProbe();
