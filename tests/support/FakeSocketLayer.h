#pragma once
// A socket layer and hardware resolver that send nothing: scripted packets on a fake clock (a quiet
// wait of a second takes no real time), recorded sends and resolutions, injectable failures, and a
// way to hold the scan inside a wait while a test acts.
#include <poll.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "net/HardwareResolver.h"
#include "net/SocketLayer.h"
#include "base/UniqueFd.h"

namespace testsupport {

// IPv4 address text to network byte order (the fake's and the layer's form).
std::uint32_t Ipv4(const char* text);

struct FakePacket {
    std::vector<std::uint8_t> bytes;  // the whole IPv4 packet
    std::uint32_t source = 0;         // network byte order
    int ifindex = 1;
    bool truncated = false;              // reported as cut even if it fits
    std::chrono::microseconds delay{0};  // arrival after the moment it is queued (or the broadcast)
    bool receiveError = false;           // Receive fails with errorCode instead of delivering
    int errorCode = 0;
    long drops = -1;  // the socket's drop count it carries (SO_RXQ_OVFL)
};

// A discover reply from source: IPv4 header, ICMP type 9, the family marker, then extra bytes.
FakePacket MakeReply(const char* source, const std::string& extra = "",
                     std::chrono::microseconds delay = std::chrono::microseconds(0));
// The same packet with options (a multiple of 4 bytes) in its IP header.
FakePacket WithIpOptions(FakePacket packet, const std::vector<std::uint8_t>& options);
// Any ICMP packet of the given length (at least 21 bytes) whose type byte is icmpType.
FakePacket MakeIcmp(const char* source, std::uint8_t icmpType, std::size_t length = 84,
                    std::chrono::microseconds delay = std::chrono::microseconds(0));

class FakeSocketLayer : public ISocketLayer, public IHardwareResolver {
public:
    using Clock = std::chrono::steady_clock;

    struct Sent {
        bool broadcast = false;
        std::uint32_t addr = 0;  // network byte order; 0 for the broadcast
        std::vector<std::uint8_t> bytes;
        std::vector<int> ifindexes;  // the broadcast's interfaces; empty for all
    };
    struct ProbeCall {
        std::vector<std::uint32_t> addrs;     // the Pending addresses, in request order
        std::chrono::microseconds budget{0};  // from the call to its deadline
    };
    struct ProbeSent {
        std::uint32_t addr = 0;
        std::chrono::microseconds at{0};  // fake time since construction
    };
    struct ResolveCall {
        std::uint32_t addr = 0;
        int ifindex = 0;
        unsigned lengthIn = 0;
        std::vector<std::uint8_t> bufferIn;  // the caller's buffer as it came in
    };

    FakeSocketLayer();

    // ---- script ----
    void QueuePacket(FakePacket packet);
    // Every discover broadcast queues copies of these, their delays counted from the send.
    void SetRepliesOnBroadcast(std::vector<FakePacket> replies);
    // Endless traffic: a copy of packet arrives every interval from now on, until StopFlood.
    void SetFlood(std::chrono::microseconds interval, FakePacket packet);
    void StopFlood();
    // The neighbour table knows addr with these bytes (possibly none); unknown addresses are
    // off the local subnet and fail at the lookup.
    void SetHardwareAddress(const char* addr, std::vector<std::uint8_t> mac);
    // addr is on the local subnet but not in the table; a probe is answered after delay.
    void SetProbeAnswer(const char* addr, std::vector<std::uint8_t> mac, std::chrono::microseconds delay);
    // addr is on the local subnet, not in the table, and never answers a probe.
    void SetUnanswering(const char* addr);
    // What ReceiveDrops says from now on (-1: not known, as by default).
    void SetReceiveDrops(long drops);
    // What the next LocalSubnets calls say, one list a call, the last one from then on.
    void SetLocalSubnets(std::vector<std::vector<iftable::LocalSubnet>> answers);
    // Fake time each lookup call takes.
    void SetResolveCost(std::chrono::microseconds cost);
    // Called inside each lookup call with no lock held, e.g. to let more packets arrive.
    void SetResolveHook(std::function<void(std::uint32_t addr)> hook);

    // ---- failures (an errno value, 0 for none) ----
    void FailOpen(int error);
    void FailBroadcastOption(int error);
    void FailBroadcastSend(int error);
    void FailSendTo(int error);
    void FailWait(bool fail);

    // ---- holding the scan in a wait ----
    void HoldWaits(bool hold);
    // True once a WaitReadable call is held (within the real-time bound).
    bool WaitUntilHeld(std::chrono::milliseconds bound);

    // ---- observation ----
    std::vector<Sent> Sends();
    // One entry per request handed to a lookup.
    std::vector<ResolveCall> Resolves();
    std::vector<ProbeCall> Probes();
    // One entry per address asked, in order (not counting the repeats inside a probe call).
    std::vector<ProbeSent> ProbesSent();
    int Opened();
    // How often Retire was called.
    int Retired();
    int Closed();
    // True once a socket has been closed (within the real-time bound).
    bool WaitUntilClosed(std::chrono::milliseconds bound);
    // Fake time passed since construction.
    std::chrono::microseconds Elapsed();
    // Packets still queued (not counting the flood).
    std::size_t Queued();

    // ---- ISocketLayer ----
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
    Clock::time_point Now() override;
    long ReceiveDrops(const IcmpSocket& sock) override;
    std::vector<iftable::LocalSubnet> LocalSubnets() override;

    // ---- IHardwareResolver ----
    void LookupHardwareAddresses(std::vector<HardwareRequest>& requests) override;
    void SendProbes(const std::vector<HardwareRequest>& requests) override;
    void TakeAnswers(std::vector<HardwareRequest>& requests) override;
    void ProbeHardwareAddresses(std::vector<HardwareRequest>& requests, Clock::time_point deadline) override;
    // From then on no probe goes out or is answered, as with the system's socket closed.
    void Retire() override;

private:
    // Earliest arrival time of anything receivable; false when nothing is scripted.
    bool NextArrival(Clock::time_point& when) const;
    std::vector<pollfd> SocketPeers();

    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    Clock::time_point m_start;
    Clock::time_point m_now;
    std::multimap<Clock::time_point, FakePacket> m_queue;
    std::vector<FakePacket> m_onBroadcast;
    bool m_bFlood = false;
    std::chrono::microseconds m_floodInterval{0};
    Clock::time_point m_floodNext;
    FakePacket m_floodPacket;
    std::map<std::uint32_t, std::vector<std::uint8_t>> m_hardware;
    struct ProbeAnswer {
        std::vector<std::uint8_t> mac;
        bool answers = false;
        std::chrono::microseconds delay{0};
    };
    std::map<std::uint32_t, ProbeAnswer> m_onLink;
    std::chrono::microseconds m_resolveCost{0};
    std::function<void(std::uint32_t)> m_resolveHook;
    long m_drops = -1;
    std::vector<std::vector<iftable::LocalSubnet>> m_subnets;

    int m_nFailOpen = 0;
    int m_nFailBroadcastOption = 0;
    int m_nFailBroadcastSend = 0;
    int m_nFailSendTo = 0;
    bool m_bFailWait = false;

    bool m_bHold = false;
    bool m_bHeld = false;

    std::vector<Sent> m_sends;
    std::vector<ResolveCall> m_resolves;
    std::vector<ProbeCall> m_probes;
    std::vector<ProbeSent> m_probesSent;
    std::map<std::uint32_t, Clock::time_point> m_asked;  // address -> when its probe went out
    int m_nOpened = 0;
    int m_nRetired = 0;
    // The far ends of the pipes handed out as sockets: hung up once the socket is closed.
    std::vector<UniqueFd> m_socketPeers;
};

}  // namespace testsupport
