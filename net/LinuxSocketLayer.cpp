// Opening the program's sockets while the right to is there: the raw ICMP socket the layer hands
// to the worker, and the packet socket of the ARP resolver and the frame sender, with the filter
// locked on it.
#include "net/LinuxSocketLayer.h"

#include <arpa/inet.h>
#include <linux/filter.h>
#include <net/ethernet.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <netpacket/packet.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "log/Log.h"
#include "net/Privileges.h"

namespace {

// The offset that loads one of the kernel's facts about the frame instead of its bytes.
constexpr std::uint32_t Ancillary(int field) {
    return static_cast<std::uint32_t>(SKF_AD_OFF + field);
}

// The ARP answers addressed to this host's own hardware address, nothing else: the only frames
// GatherAnswers reads. Run by the kernel on every frame before it queues; SOCK_DGRAM, so the ARP
// message starts at offset 0. Checking the protocol too keeps it exact when the socket is bound to
// every protocol.
const sock_filter kArpAnswerFilter[] = {
    BPF_STMT(BPF_LD | BPF_W | BPF_ABS, Ancillary(SKF_AD_PKTTYPE)),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, PACKET_HOST, 0, 9),  // unicast to us: no broadcast, no own
    BPF_STMT(BPF_LD | BPF_W | BPF_ABS, Ancillary(SKF_AD_PROTOCOL)),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ETH_P_ARP, 0, 7),
    BPF_STMT(BPF_LD | BPF_W | BPF_LEN, 0),
    BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, netlink::kArpLength, 0, 5),
    BPF_STMT(BPF_LD | BPF_W | BPF_ABS, 0),  // hardware type, protocol type
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ARPHRD_ETHER << 16 | ETH_P_IP, 0, 3),
    BPF_STMT(BPF_LD | BPF_W | BPF_ABS, 4),  // address lengths, operation
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 6u << 24 | 4u << 16 | ARPOP_REPLY, 0, 1),
    BPF_STMT(BPF_RET | BPF_K, netlink::kArpLength),
    BPF_STMT(BPF_RET | BPF_K, 0),
};

// The packet socket for ARP probes and whole frames. Its filter is attached and locked before it is
// bound, so no frame the program does not read ever queues on it, and no code in the process (a
// library, a plugin) can widen it later to read other traffic of the segment. Its queue takes the
// answers to a few thousand probes sent at once. Empty when any of it fails.
UniqueFd OpenArpAnswerSocket(int receiveBuffer) {
    // Protocol 0: nothing is received until bind.
    UniqueFd fd(::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd)
        return fd;
    sock_fprog program{static_cast<unsigned short>(std::size(kArpAnswerFilter)),
                       const_cast<sock_filter*>(kArpAnswerFilter)};
    int on = 1;
    if (::setsockopt(fd.get(), SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) != 0 ||
        ::setsockopt(fd.get(), SOL_SOCKET, SO_LOCK_FILTER, &on, sizeof on) != 0)
        return UniqueFd();
    // The probes it sends are not even offered to the filter (kernel 4.20 on; before, the filter
    // drops them as outgoing).
    ::setsockopt(fd.get(), SOL_PACKET, PACKET_IGNORE_OUTGOING, &on, sizeof on);
    if (::setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUFFORCE, &receiveBuffer, sizeof receiveBuffer) != 0)
        ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_ll local{};
    local.sll_family = AF_PACKET;
    local.sll_protocol = htons(ETH_P_ARP);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
        return UniqueFd();
    return fd;
}

// Receive buffer for a burst of replies from every address of this host's segments: room for
// kReplyRoom bytes each (the kernel doubles what is asked for its own overhead), at least
// kReceiveBuffer, at most kReceiveBufferMax. OLDISCOVERY_TEST_RCVBUF can only make it smaller:
// a test's way to a queue that overflows; it is not read when the program runs with raised rights.
int ReceiveBufferSize() {
    std::uint64_t addresses = 0;
    for (const iftable::LocalSubnet& subnet : iftable::LocalSubnets()) {
        if ((ntohl(subnet.address) >> 24) == 127)
            continue;  // loopback's /8 holds no devices
        addresses += std::uint64_t{~ntohl(subnet.mask)} + 1;
    }
    std::uint64_t size = addresses * CLinuxSocketLayer::kReplyRoom;
    size = std::clamp<std::uint64_t>(size, CLinuxSocketLayer::kReceiveBuffer, CLinuxSocketLayer::kReceiveBufferMax);
    if (const char* test = ::secure_getenv("OLDISCOVERY_TEST_RCVBUF")) {
        unsigned long smaller = 0;
        if (std::from_chars(test, test + std::strlen(test), smaller).ec == std::errc{} && smaller > 0)
            size = std::min<std::uint64_t>(size, smaller);
    }
    return static_cast<int>(size);
}

// The kernel may grant less than asked (net.core.rmem_max without CAP_NET_ADMIN); a burst of
// replies then overflows sooner, which is worth a line. An Info line: with only cap_net_raw, as
// installed, this is the usual case, and a Warning would leave a debug.log behind every start.
// The kernel reports twice the usable size.
void CheckReceiveBuffer(int sock, int asked) {
    int granted = 0;
    socklen_t length = sizeof granted;
    if (::getsockopt(sock, SOL_SOCKET, SO_RCVBUF, &granted, &length) != 0)
        return;
    if (granted / 2 < asked)
        LogWrite(LOG_INFO, "Receive buffer of the raw socket is %d bytes, %d asked for", granted / 2, asked);
}

}  // namespace

RawSockets OpenRawSockets() {
    RawSockets opened;
    // Without the right, socket() below fails with EPERM; the reason the right is missing is kept.
    const Failure raised = RaiseNetRaw();
    opened.icmp.reset(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP));
    if (!opened.icmp) {
        opened.icmpFailure = raised && errno == EPERM ? raised : LastErrno();
        opened.dropFailure = DropCapabilities();
        return opened;
    }
    // The default queue holds only a few hundred small packets; a burst of replies needs more.
    // SO_RCVBUFFORCE passes net.core.rmem_max but needs CAP_NET_ADMIN, so fall back to what
    // net.core.rmem_max allows.
    int size = opened.bufferAsked = ReceiveBufferSize();
    if (::setsockopt(opened.icmp.get(), SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
        ::setsockopt(opened.icmp.get(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    int on = 1;
    ::setsockopt(opened.icmp.get(), IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    // Each datagram carries the count of those the full queue dropped: a scan that lost answers
    // can say so.
    ::setsockopt(opened.icmp.get(), SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on);
    // ARP probes and whole frames need a packet socket, which only the privilege we are about to
    // drop allows.
    opened.link = OpenArpAnswerSocket(CLinuxSocketLayer::kReceiveBuffer);
    opened.dropFailure = DropCapabilities();
    return opened;
}

CLinuxSocketLayer::CLinuxSocketLayer(RawSockets sockets, std::shared_ptr<CLinuxArpResolver> arp)
    : m_icmp(std::move(sockets.icmp)),
      m_icmpFailure(std::move(sockets.icmpFailure)),
      m_bufferAsked(sockets.bufferAsked),
      m_icmpOpened(m_icmp.valid()),
      m_dropFailure(std::move(sockets.dropFailure)),
      m_arp(std::move(arp)) {}

Result<IcmpSocket> CLinuxSocketLayer::OpenRawIcmp() {
    UniqueFd icmp;
    Failure failure;
    {
        std::lock_guard<std::mutex> lock(m_icmpMutex);
        icmp = std::move(m_icmp);
        failure = m_icmpFailure;
        // Handed over once: the rights to make another one are gone with the opening.
        m_icmpFailure = ErrnoFailure(EPERM);
    }
    if (!icmp)
        return failure ? failure : ErrnoFailure(EPERM);
    // A process that could not give up its rights does not go on to use them.
    if (m_dropFailure)
        return ErrnoFailure(EPERM);
    CheckReceiveBuffer(icmp.get(), m_bufferAsked);
    return IcmpSocket(std::move(icmp));
}

Failure CLinuxSocketLayer::EnableBroadcast(const IcmpSocket& sock) {
    int on = 1;
    if (::setsockopt(sock.Descriptor(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0)
        return LastErrno();
    return {};
}
std::chrono::steady_clock::time_point CLinuxSocketLayer::Now() {
    return std::chrono::steady_clock::now();
}
