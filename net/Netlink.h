#pragma once
// rtnetlink route and neighbour queries and ARP frames, for resolving an on-link IPv4 address to
// its hardware address. Building and parsing are pure functions so they can be tested offline.
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

#include "base/Error.h"
#include "base/UniqueFd.h"

namespace netlink {

using ByteView = std::span<const std::uint8_t>;

// What a route lookup for one destination said.
struct RouteInfo {
    bool viaGateway = false;    // the route names a next hop (RTA_GATEWAY)
    unsigned char type = 0;     // RTN_UNICAST, RTN_LOCAL, ...
    int oif = 0;                // output interface
    std::uint32_t prefsrc = 0;  // preferred source address, network byte order; 0 if none
    std::uint32_t gateway = 0;  // next hop (IPv4 RTA_GATEWAY), network byte order; 0 if none
};

// One neighbour table entry.
struct NeighInfo {
    std::uint16_t state = 0;  // NUD_* bits
    int ifindex = 0;
    std::uint32_t dst = 0;  // the neighbour's IPv4 address, network byte order
    std::uint8_t lladdr[32] = {};
    unsigned lladdrLength = 0;
};

// RTM_GETROUTE for one IPv4 destination (network byte order).
std::vector<std::uint8_t> BuildGetRouteRequest(std::uint32_t seq, std::uint32_t dst);
// True when the answer was found and parsed into route, false when no message of data belongs to
// this request; the kernel's error (its errno) when it answered with one.
Result<bool> ParseRouteReply(ByteView data, std::uint32_t seq, RouteInfo& route);

// RTM_GETNEIGH for one IPv4 address on one interface (not a dump).
std::vector<std::uint8_t> BuildGetNeighRequest(std::uint32_t seq, std::uint32_t dst, int ifindex);
// As ParseRouteReply, into neigh.
Result<bool> ParseNeighReply(ByteView data, std::uint32_t seq, NeighInfo& neigh);

// RTM_GETNEIGH dump of the whole IPv4 neighbour table.
std::vector<std::uint8_t> BuildDumpNeighRequest(std::uint32_t seq);
// Appends the entries of one datagram of a dump answering seq; true once its end (NLMSG_DONE) has
// been seen, the kernel's error when it ended with one.
Result<bool> ParseNeighDump(ByteView data, std::uint32_t seq, std::vector<NeighInfo>& entries);

// States whose link-layer address can be used as it stands.
bool NeighStateUsable(std::uint16_t state);

// ARP over a packet socket of type SOCK_DGRAM: the 28-byte ARP message, no Ethernet header.
constexpr std::size_t kArpLength = 28;
std::vector<std::uint8_t> BuildArpRequest(const std::uint8_t senderMac[6], std::uint32_t senderIp,
                                          std::uint32_t targetIp);
// True when data is an Ethernet/IPv4 ARP reply (or a request) whose sender is senderIp; the
// sender's hardware address goes to mac.
bool ParseArpFromSender(ByteView data, std::uint32_t senderIp, std::uint8_t mac[6]);

// The IPv4 sender address of an ARP message (network byte order); false when data is no
// Ethernet/IPv4 ARP message.
bool ArpSender(ByteView data, std::uint32_t& senderIp);

// A whole IPv4 packet as the kernel would send it from a raw ICMP socket: 20-byte header (no
// options, the given identification, don't-fragment, the given TTL, protocol ICMP, header
// checksum) followed by payload.
std::vector<std::uint8_t> BuildIcmpPacket(std::uint32_t source, std::uint32_t destination, std::uint16_t id,
                                          std::uint8_t ttl, ByteView payload);

// One NETLINK_ROUTE socket that serialises its requests.
class CRouteSocket {
public:
    CRouteSocket() = default;
    CRouteSocket(const CRouteSocket&) = delete;
    CRouteSocket& operator=(const CRouteSocket&) = delete;

    // Route for dst; the errno when there is none.
    Result<RouteInfo> GetRoute(std::uint32_t dst);
    // Neighbour entry for dst on ifindex; the errno when there is none.
    Result<NeighInfo> GetNeigh(std::uint32_t dst, int ifindex);
    // Appends every IPv4 neighbour entry to entries; the errno when the dump failed, with the
    // entries read before it.
    Failure DumpNeigh(std::vector<NeighInfo>& entries);

private:
    // Sends the request build(seq) makes and hands each datagram that comes back to take, which
    // says whether the answer is complete (true), still to come (false) or failed; after
    // maxDatagrams without an answer, EPROTO.
    template <typename Build, typename Take>
    Failure Exchange(Build build, Take take, int maxDatagrams = 16);
    Failure EnsureOpen();

    std::mutex m_mutex;
    UniqueFd m_fd;
    std::uint32_t m_seq = 0;
    std::vector<std::uint8_t> m_buffer;  // every answer's datagrams, one at a time
};

}  // namespace netlink
