// The packet socket of the ARP resolver and the frame sender, with the filter locked on it.
#include <arpa/inet.h>
#include <linux/filter.h>
#include <net/ethernet.h>
#include <net/if_arp.h>
#include <netpacket/packet.h>
#include <sys/socket.h>

#include <iterator>

#include "platform/LinuxSocketLayer.h"

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

}  // namespace

// The packet socket for ARP probes and whole frames. Its filter is attached and locked before it is
// bound, so no frame the program does not read ever queues on it, and no code in the process (a
// library, a plugin) can widen it later to read other traffic of the segment. Its queue takes the
// answers to a few thousand probes sent at once. Empty when any of it fails.
UniqueFd CLinuxSocketLayer::OpenArpAnswerSocket(int receiveBuffer) {
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
