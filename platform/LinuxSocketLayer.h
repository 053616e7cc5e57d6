#pragma once
// Raw ICMP sockets, broadcast per interface and hardware-address resolution on Linux.
#include <cstdint>
#include <mutex>

#include "platform/Netlink.h"
#include "platform/SocketLayer.h"

class CLinuxSocketLayer : public ISocketLayer {
    friend bool PrepareRawSockets();
public:
    CLinuxSocketLayer() = default;
    ~CLinuxSocketLayer() override;

    bool Startup() override;
    int OpenRawIcmp() override;
    bool EnableBroadcast(int sock) override;
    bool SendBroadcast(int sock, const void* data, std::size_t length) override;
    bool SendTo(int sock, std::uint32_t addr, const void* data, std::size_t length) override;
    int WaitReadable(int sock, std::chrono::microseconds timeout) override;
    bool Receive(int sock, void* buffer, std::size_t capacity, ReceivedPacket& packet) override;
    bool HasPending(int sock) override;
    int ResolveHardwareAddress(std::uint32_t addr, int ifindex, std::uint8_t* mac, unsigned* length) override;
    void Close(int sock) override;
    int LastError() const override;
    std::chrono::steady_clock::time_point Now() override;

    // Hands the ARP packet socket over to the caller (-1 when there is none).
    int ReleaseArpSocket();

    // Longest wait for an ARP answer.
    static constexpr std::chrono::milliseconds kArpWait{1000};
    // Receive buffer asked for on the raw socket: room for a burst of well over 1000 replies.
    static constexpr int kReceiveBuffer = 8 * 1024 * 1024;

private:
    // Takes the sockets PrepareRawSockets opened; false when there are none to take.
    bool TakePreparedSockets(int& sock);
    // Raises CAP_NET_RAW, opens the raw socket (and the ARP socket), drops every capability.
    int OpenFresh();
    bool ArpProbe(const netlink::RouteInfo& route, std::uint32_t addr, std::uint8_t mac[6]);

    netlink::CRouteSocket m_route;
    std::mutex m_arpMutex;
    int m_arpSocket = -1;  // AF_PACKET, made while CAP_NET_RAW was raised; -1 without
};

// Opens the raw ICMP socket and the ARP packet socket while the process is still a single thread,
// then drops every capability. Capabilities belong to threads on Linux, and every thread started
// afterwards (the toolkit starts some of its own) inherits its creator's: done first thing in
// main, no thread of the program ever holds a privilege. The first OpenRawIcmp takes the sockets
// (or, when opening failed, reports that failure with its errno). False when the capabilities
// could not be given up: the caller must end the program (errno tells why).
bool PrepareRawSockets();
// Whether raw sockets can be had: after PrepareRawSockets, whether it opened the raw socket (root
// without CAP_NET_RAW, as in a container, cannot); before it, whether the right is permitted.
bool RawSocketAvailable();
