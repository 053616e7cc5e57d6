#pragma once
// The socket layer the discovery engine talks to: raw ICMP on IPv4 plus hardware-address
// resolution. The system implementation is Linux raw sockets and rtnetlink; tests inject fakes.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

struct ReceivedPacket {
    std::size_t length = 0;        // bytes stored in the buffer
    bool truncated = false;        // the datagram was longer than the buffer (MSG_TRUNC)
    std::uint32_t sourceAddr = 0;  // IPv4 source address, network byte order
    int ifindex = 0;               // interface the packet arrived on (IP_PKTINFO), 0 if unknown
};

class ISocketLayer {
public:
    virtual ~ISocketLayer() = default;

    // Socket layer start-up; always succeeds on Linux.
    virtual bool Startup() = 0;
    // Raw ICMP socket; a descriptor > 0, or -1 with LastError set.
    virtual int OpenRawIcmp() = 0;
    virtual bool EnableBroadcast(int sock) = 0;
    // Sends to 255.255.255.255 out of every interface that is up, not loopback, broadcast-capable
    // and has an IPv4 address. True when at least one copy went out.
    virtual bool SendBroadcast(int sock, const void* data, std::size_t length) = 0;
    // Sends to one IPv4 address (network byte order), port 0.
    virtual bool SendTo(int sock, std::uint32_t addr, const void* data, std::size_t length) = 0;
    // 1 readable, 0 timed out, -1 the wait failed.
    virtual int WaitReadable(int sock, std::chrono::microseconds timeout) = 0;
    // One datagram (the whole IPv4 packet). False with LastError on failure.
    virtual bool Receive(int sock, void* buffer, std::size_t capacity, ReceivedPacket& packet) = 0;
    // True when a datagram can be read at once without waiting.
    virtual bool HasPending(int sock) = 0;
    // SendARP semantics: 0 on success with the address bytes in mac and their count in *length
    // (in: buffer size); non-zero when the address cannot be resolved (off-link, no answer).
    virtual int ResolveHardwareAddress(std::uint32_t addr, int ifindex, std::uint8_t* mac,
                                       unsigned* length) = 0;
    virtual void Close(int sock) = 0;
    // errno of the last failed call made on the calling thread.
    virtual int LastError() const = 0;
    // Monotonic clock, so tests can run the collection bounds on fake time.
    virtual std::chrono::steady_clock::time_point Now() = 0;
};

// The Linux implementation.
std::shared_ptr<ISocketLayer> CreateSystemSocketLayer();
