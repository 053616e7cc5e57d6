#pragma once
// Hardware-address resolution on Linux: the neighbour table through rtnetlink, then ARP probes on
// the packet socket main opened, whose locked filter lets only the answers to this host through.
// The same socket carries the requests the socket layer sends as whole frames.
#include <array>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "net/HardwareResolver.h"
#include "net/Netlink.h"
#include "base/Error.h"
#include "base/UniqueFd.h"

class CLinuxArpResolver : public IHardwareResolver {
public:
    // Takes the packet socket OpenRawSockets opened; without one (empty) every address not in the
    // neighbour table fails.
    explicit CLinuxArpResolver(UniqueFd linkSocket);
    ~CLinuxArpResolver() override = default;
    CLinuxArpResolver(const CLinuxArpResolver&) = delete;
    CLinuxArpResolver& operator=(const CLinuxArpResolver&) = delete;

    void LookupHardwareAddresses(std::vector<HardwareRequest>& requests) override;
    void SendProbes(const std::vector<HardwareRequest>& requests) override;
    void TakeAnswers(std::vector<HardwareRequest>& requests) override;
    void ProbeHardwareAddresses(std::vector<HardwareRequest>& requests,
                                std::chrono::steady_clock::time_point deadline) override;
    // Closes the packet socket: the scans are over.
    void Retire() override;

    // One address, lookup then probe (SendARP semantics): the address bytes in mac and their count
    // in *length (in: buffer size); EHOSTUNREACH when it cannot be resolved.
    Failure ResolveHardwareAddress(std::uint32_t addr, int ifindex, std::uint8_t* mac, unsigned* length);

    // Whether the packet socket is there to carry whole frames.
    bool CarriesFrames();
    // Sends one IPv4 packet as an Ethernet frame on the packet socket; ENOTSOCK without one.
    Failure SendFrame(int ifindex, const std::uint8_t destination[6],
                      const std::vector<std::uint8_t>& packet);
    // For the socket layer's wait: the packet socket while probes are unanswered (-1 otherwise),
    // and the reading of what arrived on it, so that no answer is lost to a full queue.
    int AnswerDescriptor();
    void GatherWaiting();

    // Hands the packet socket over to the caller (empty when there is none).
    UniqueFd ReleaseLinkSocket();

    // Longest wait for an ARP answer.
    static constexpr std::chrono::milliseconds kArpWait{1000};
    // How long a hardware address learned by a probe is used without asking again; like the
    // kernel's own reachable time, since the kernel's table may have had no room for it.
    static constexpr std::chrono::seconds kLearnedLifetime{30};
    // A probe without an answer after this long is taken as lost and sent again.
    static constexpr std::chrono::milliseconds kProbeRetry{100};

private:
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
    // With m_mutex held: reads every ARP frame waiting on the packet socket; answers to asked
    // addresses go to m_learned and their addresses to answered.
    void GatherAnswers(std::vector<std::uint32_t>* answered);
    void SendProbe(std::uint32_t addr, const AskedAddress& asked);
    void SendProbesLocked(const std::vector<HardwareRequest>& requests);
    void TakeAnswersLocked(std::vector<HardwareRequest>& requests);

    netlink::CRouteSocket m_route;
    // Guards the packet socket with what was asked on it and learned from it: the scan's worker
    // resolves, and the socket layer sends frames and waits on it, from whichever thread scans.
    std::mutex m_mutex;
    // AF_PACKET (ARP), made while CAP_NET_RAW was raised; empty without, or once retired.
    UniqueFd m_linkSocket;
    std::unordered_map<std::uint32_t, AskedAddress> m_asked;
    std::unordered_map<std::uint32_t, LearnedAddress> m_learned;
    unsigned m_probesSent = 0;
};
