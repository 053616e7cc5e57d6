#pragma once
// Raw ICMP sockets, broadcast per interface and hardware-address resolution on Linux. Its parts:
// the sockets' opening with the packet socket's filter (LinuxSocketLayer.cpp), the requests as
// frames (LinuxFrameSender.cpp), the kernel's path with its discard counter and the receiver
// (LinuxIcmpPath.cpp), the ARP resolver (LinuxArpResolver.cpp); InterfaceTable.h beside them.
#include <array>
#include <cstdint>
#include <unordered_map>
#include <mutex>
#include <system_error>
#include <vector>

#include "net/Netlink.h"
#include "net/SocketLayer.h"
#include "base/UniqueFd.h"

// The sockets opened while the right to was there (OpenRawSockets), owned until a layer takes them.
struct RawSockets {
    UniqueFd icmp;
    UniqueFd link;        // the ARP packet socket; empty when it could not be had
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
    // Takes the sockets main opened; the first OpenRawIcmp hands the raw socket over (or the
    // failure to open it). A layer given none has none to hand over.
    explicit CLinuxSocketLayer(RawSockets sockets);

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
    void LookupHardwareAddresses(std::vector<HardwareRequest>& requests) override;
    void SendProbes(const std::vector<HardwareRequest>& requests) override;
    void TakeAnswers(std::vector<HardwareRequest>& requests) override;
    void ProbeHardwareAddresses(std::vector<HardwareRequest>& requests,
                                std::chrono::steady_clock::time_point deadline) override;
    std::chrono::steady_clock::time_point Now() override;
    std::vector<iftable::LocalSubnet> LocalSubnets() override { return iftable::LocalSubnets(); }
    long ReceiveDrops(const IcmpSocket& sock) override;

    // One address, lookup then probe (SendARP semantics): the address bytes in mac and their count
    // in *length (in: buffer size); EHOSTUNREACH when it cannot be resolved.
    Failure ResolveHardwareAddress(std::uint32_t addr, int ifindex, std::uint8_t* mac, unsigned* length);

    // Hands the link-layer packet socket over to the caller (empty when there is none).
    UniqueFd ReleaseLinkSocket();

    // Longest wait for an ARP answer.
    static constexpr std::chrono::milliseconds kArpWait{1000};
    // How long a hardware address learned by a probe is used without asking again; like the
    // kernel's own reachable time, since the kernel's table may have had no room for it.
    static constexpr std::chrono::seconds kLearnedLifetime{30};
    // A probe without an answer after this long is taken as lost and sent again.
    static constexpr std::chrono::milliseconds kProbeRetry{100};
    // TTL of the requests sent as whole frames, the kernel's default.
    static constexpr std::uint8_t kTtl = 64;
    // Receive buffer asked for on the raw socket: room for a burst of well over 1000 replies;
    // more for larger segments, kReplyRoom per address, up to kReceiveBufferMax.
    static constexpr int kReceiveBuffer = 8 * 1024 * 1024;
    static constexpr int kReplyRoom = 1024;
    static constexpr int kReceiveBufferMax = 64 * 1024 * 1024;

private:
    // Sends one IPv4 packet as an Ethernet frame on the link socket.
    Failure SendFrame(int ifindex, const std::uint8_t destination[6],
                              const std::vector<std::uint8_t>& packet);
    // The kernel's own way: sendmsg on the raw socket, from source out of ifindex when they are
    // not 0. A datagram the kernel takes but then drops (no neighbour entry could be made for
    // it) is seen in the IP discard counter and reported as ENOBUFS.
    Failure SendThroughKernel(const IcmpSocket& sock, std::uint32_t addr, int ifindex,
                                      std::uint32_t source, const void* data, std::size_t length);

    struct LearnedAddress {
        int ifindex = 0;
        std::array<std::uint8_t, 6> mac{};
        std::chrono::steady_clock::time_point until;
    };

    // An address probed and not answered yet, with what asking it again takes.
    struct AskedAddress {
        int ifindex = 0;
        std::uint32_t source = 0;
        std::array<std::uint8_t, 6> ownMac{};
        std::chrono::steady_clock::time_point sentAt;
    };
    // With m_linkMutex held: reads every ARP frame waiting on the link socket; answers to asked
    // addresses go to m_learned and their addresses to answered.
    void GatherAnswers(std::vector<std::uint32_t>* answered);
    void SendProbe(std::uint32_t addr, const AskedAddress& asked);

    // The raw socket main opened, until OpenRawIcmp hands it over, or why there is none.
    std::mutex m_icmpMutex;
    UniqueFd m_icmp;
    Failure m_icmpFailure;
    const int m_bufferAsked;
    const bool m_icmpOpened;
    const Failure m_dropFailure;

    netlink::CRouteSocket m_route;
    std::mutex m_learnedMutex;  // guards m_learned only
    std::unordered_map<std::uint32_t, LearnedAddress> m_learned;
    std::mutex m_linkMutex;
    // AF_PACKET (ARP), made while CAP_NET_RAW was raised; empty without. It carries the ARP probes
    // and the requests as whole frames, which need no neighbour entry.
    UniqueFd m_linkSocket;
    std::unordered_map<std::uint32_t, AskedAddress> m_asked;  // guarded by m_linkMutex
    unsigned m_probesSent = 0;
};
