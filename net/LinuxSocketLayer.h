#pragma once
// Raw ICMP sockets and broadcast per interface on Linux. Its parts: the sockets' opening with the
// packet socket's filter (LinuxSocketLayer.cpp), the requests as frames (LinuxFrameSender.cpp),
// the kernel's path with its discard counter and the receiver (LinuxIcmpPath.cpp);
// InterfaceTable.h beside them. The packet socket is CLinuxArpResolver's (LinuxArpResolver.h).
#include <cstdint>
#include <memory>
#include <mutex>
#include <system_error>
#include <vector>

#include "net/LinuxArpResolver.h"
#include "net/Netlink.h"
#include "net/SocketLayer.h"
#include "base/UniqueFd.h"

// The sockets opened while the right to was there (OpenRawSockets), owned until a layer takes them.
struct RawSockets {
    UniqueFd icmp;
    UniqueFd link;        // the ARP packet socket, for CLinuxArpResolver; empty when it could not be had
    Failure icmpFailure;  // why icmp is empty
    int bufferAsked = 0;  // the receive buffer asked for icmp
    Failure dropFailure;  // the capabilities could not be given up: the caller must end
};

// Opens the raw ICMP socket and the ARP packet socket while the process is still a single thread,
// then drops every capability. Capabilities belong to threads on Linux, and every thread started
// afterwards (the toolkit starts some of its own) inherits its creator's: done first thing in
// main, no thread of the program ever holds a privilege. Root without CAP_NET_RAW, as in a
// container, cannot open them either.
[[nodiscard]] RawSockets OpenRawSockets();

class CLinuxSocketLayer : public ISocketLayer {
public:
    // Takes the raw socket main opened; the first OpenRawIcmp hands it over (or the failure to
    // open it). A layer given none has none to hand over. The requests go as whole frames on arp's
    // packet socket while it has one (none given: through the kernel); sockets.link is not used.
    CLinuxSocketLayer(RawSockets sockets, std::shared_ptr<CLinuxArpResolver> arp);

    // Whether the raw ICMP socket was opened, whether OpenRawIcmp has taken it since or not.
    bool RawIcmpOpened() const { return m_icmpOpened; }

    // Once; later calls fail with EPERM: with the capabilities given up, no other can be made.
    Result<IcmpSocket> OpenRawIcmp() override;
    Failure EnableBroadcast(const IcmpSocket& sock) override;
    Failure SendBroadcast(const IcmpSocket& sock, const void* data, std::size_t length,
                                  const std::vector<int>& ifindexes) override;
    Failure SendTo(const IcmpSocket& sock, std::uint32_t addr, const void* data,
                           std::size_t length) override;
    Result<bool> WaitReadable(const IcmpSocket& sock, std::chrono::microseconds timeout) override;
    Failure Receive(const IcmpSocket& sock, void* buffer, std::size_t capacity,
                            ReceivedPacket& packet) override;
    bool HasPending(const IcmpSocket& sock) override;
    Failure ReceiveMany(const IcmpSocket& sock, std::uint8_t* buffers, std::size_t capacity,
                                ReceivedPacket* packets, std::size_t count, std::size_t& received) override;
    std::chrono::steady_clock::time_point Now() override;
    // With how often each link went down, which a scan compares at its end.
    std::vector<iftable::LocalSubnet> LocalSubnets() override {
        std::vector<iftable::LocalSubnet> subnets = iftable::LocalSubnets();
        iftable::AddCarrierDowns(subnets);
        return subnets;
    }
    long ReceiveDrops(const IcmpSocket& sock) override;

    // TTL of the requests sent as whole frames, the kernel's default.
    static constexpr std::uint8_t kTtl = 64;
    // Receive buffer asked for on the raw socket: room for a burst of well over 1000 replies;
    // more for larger segments, kReplyRoom per address, up to kReceiveBufferMax.
    static constexpr int kReceiveBuffer = 8 * 1024 * 1024;
    static constexpr int kReplyRoom = 1024;
    static constexpr int kReceiveBufferMax = 64 * 1024 * 1024;

private:
    // The kernel's own way: sendmsg on the raw socket, from source out of ifindex when they are
    // not 0. A datagram the kernel takes but then drops (no neighbour entry could be made for
    // it) is seen in the IP discard counter and reported as ENOBUFS.
    Failure SendThroughKernel(const IcmpSocket& sock, std::uint32_t addr, int ifindex,
                                      std::uint32_t source, const void* data, std::size_t length);

    // The raw socket main opened, until OpenRawIcmp hands it over, or why there is none.
    std::mutex m_icmpMutex;
    UniqueFd m_icmp;
    Failure m_icmpFailure;
    const int m_bufferAsked;
    const bool m_icmpOpened;
    const Failure m_dropFailure;

    // The next hop of a request to one address.
    netlink::CRouteSocket m_route;
    std::shared_ptr<CLinuxArpResolver> m_arp;
};
