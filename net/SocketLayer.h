#pragma once
// The socket layer the discovery engine talks to: raw ICMP on IPv4 (hardware addresses are
// IHardwareResolver's). The system implementation is Linux raw sockets; tests inject fakes.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <system_error>
#include <utility>
#include <vector>

#include "net/InterfaceTable.h"
#include "base/Error.h"
#include "base/UniqueFd.h"

struct ReceivedPacket {
    std::size_t length = 0;        // bytes stored in the buffer
    bool truncated = false;        // the datagram was longer than the buffer (MSG_TRUNC)
    std::uint32_t sourceAddr = 0;  // IPv4 source address, network byte order
    int ifindex = 0;               // interface the packet arrived on (IP_PKTINFO), 0 if unknown
    long drops = -1;               // the socket's drop count as it was queued (SO_RXQ_OVFL), -1 if unknown
};

// A raw ICMP socket of the layer, closed when it goes; empty when moved from.
class IcmpSocket {
public:
    IcmpSocket() = default;
    explicit IcmpSocket(UniqueFd fd) : m_fd(std::move(fd)) {}

    int Descriptor() const { return m_fd.get(); }
    explicit operator bool() const { return m_fd.valid(); }

private:
    UniqueFd m_fd;
};

class ISocketLayer {
public:
    virtual ~ISocketLayer() = default;

    // Raw ICMP socket; the errno when it cannot be had.
    virtual Result<IcmpSocket> OpenRawIcmp() = 0;
    // The errno when the socket refuses.
    virtual Failure EnableBroadcast(const IcmpSocket& sock) = 0;
    // Sends to 255.255.255.255 out of every interface that is up, not loopback, broadcast-capable
    // and has an IPv4 address, without needing a neighbour entry; when ifindexes is not empty,
    // only out of those of them it names. No error when at least one copy left; a copy the kernel
    // took but dropped counts as not sent.
    virtual Failure SendBroadcast(const IcmpSocket& sock, const void* data, std::size_t length,
                                          const std::vector<int>& ifindexes) = 0;
    // Sends to one IPv4 address (network byte order), port 0.
    virtual Failure SendTo(const IcmpSocket& sock, std::uint32_t addr, const void* data,
                                   std::size_t length) = 0;
    // True when readable; false when timed out, or with error set when the wait failed.
    virtual Result<bool> WaitReadable(const IcmpSocket& sock, std::chrono::microseconds timeout) = 0;
    // One datagram (the whole IPv4 packet).
    virtual Failure Receive(const IcmpSocket& sock, void* buffer, std::size_t capacity,
                                    ReceivedPacket& packet) = 0;
    // True when a datagram can be read at once without waiting.
    virtual bool HasPending(const IcmpSocket& sock) = 0;
    // Up to count datagrams that are there now, the i-th in buffers + i * capacity and described
    // by packets[i]; received says how many. An error met after some datagrams comes with them.
    virtual Failure ReceiveMany(const IcmpSocket& sock, std::uint8_t* buffers, std::size_t capacity,
                                        ReceivedPacket* packets, std::size_t count, std::size_t& received) {
        received = 0;
        do {
            if (Failure error = Receive(sock, buffers + received * capacity, capacity, packets[received]))
                return error;
        } while (++received < count && HasPending(sock));
        return {};
    }
    // Monotonic clock, so tests can run the collection bounds on fake time.
    virtual std::chrono::steady_clock::time_point Now() = 0;
    // How many datagrams the kernel has dropped so far because the socket's receive queue was
    // full (a 32-bit counter that wraps); -1 when not known.
    virtual long ReceiveDrops(const IcmpSocket& sock) {
        static_cast<void>(sock);
        return -1;
    }
    // The connected IPv4 subnets of this host's interfaces (none known by default).
    virtual std::vector<iftable::LocalSubnet> LocalSubnets() { return {}; }
};
