#pragma once
// Hardware-address resolution for the discovery engine: the neighbour table, then ARP probes.
// The system implementation is CLinuxArpResolver; tests inject fakes.
#include <chrono>
#include <cstdint>
#include <vector>

// One address to resolve to its hardware address, as part of a batch.
enum class HardwareState { Pending, Resolved, Failed };
struct HardwareRequest {
    std::uint32_t addr = 0;  // IPv4 address, network byte order
    int ifindex = 0;         // interface the reply arrived on, 0 if unknown
    std::uint8_t mac[8];     // the caller fills it (0xFF); the address bytes go here
    unsigned length = 0;     // in: room for address bytes; out: bytes written when Resolved
    HardwareState state = HardwareState::Pending;
    // Where a probe for it goes; set by LookupHardwareAddresses for requests left Pending.
    int probeIfindex = 0;
    std::uint32_t probeSource = 0;
};

class IHardwareResolver {
public:
    virtual ~IHardwareResolver() = default;

    // Resolution in two steps, both for many addresses at once. The lookup sends nothing: every
    // Pending request becomes Resolved from the neighbour table, Failed when its address is not
    // on a local subnet (behind a router, no route, one of ours), or stays Pending for a probe.
    virtual void LookupHardwareAddresses(std::vector<HardwareRequest>& requests) = 0;
    // Sends an ARP probe for every Pending request at once and returns without waiting; the
    // answers are gathered while the scan waits for ICMP packets.
    virtual void SendProbes(const std::vector<HardwareRequest>& requests) = 0;
    // Resolves the Pending requests whose probes have been answered by now, without waiting or
    // sending; the others stay Pending. Lets a scan report a device as soon as its address is known.
    virtual void TakeAnswers(std::vector<HardwareRequest>& requests) { static_cast<void>(requests); }
    // Settles every Pending request: from the answers gathered so far, else by probing (again)
    // and collecting the answers together until all have come or the deadline. What stays
    // unanswered becomes Failed.
    virtual void ProbeHardwareAddresses(std::vector<HardwareRequest>& requests,
                                        std::chrono::steady_clock::time_point deadline) = 0;
    // No scan will ask again: what the resolver holds for probing may go, without the caller
    // waiting for it. Later requests are settled from the neighbour table alone.
    virtual void Retire() {}
};
