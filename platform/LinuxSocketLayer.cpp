#include "platform/LinuxSocketLayer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <linux/filter.h>
#include <linux/rtnetlink.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netpacket/packet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <unordered_map>

#include "log/Log.h"
#include "platform/Privileges.h"

namespace {

thread_local int t_lastError = 0;

// Sockets opened by PrepareRawSockets, waiting for the worker's OpenRawIcmp.
struct PreparedSockets {
    std::mutex mutex;
    bool prepared = false;
    UniqueFd icmp;
    int icmpError = 0;
    UniqueFd link;
    bool icmpOpened = false;  // stays true after the socket has been taken
};

PreparedSockets& Prepared() {
    static auto* prepared = new PreparedSockets;  // never destroyed: a late worker may still ask
    return *prepared;
}

int Fail() {
    t_lastError = errno;
    return t_lastError;
}

bool InterfaceHardwareAddress(int ifindex, std::uint8_t mac[6]) {
    ifreq req{};
    if (!if_indextoname(static_cast<unsigned>(ifindex), req.ifr_name))
        return false;
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd)
        return false;
    bool ok = ::ioctl(fd.get(), SIOCGIFHWADDR, &req) == 0 && req.ifr_hwaddr.sa_family == ARPHRD_ETHER;
    if (ok)
        std::memcpy(mac, req.ifr_hwaddr.sa_data, 6);
    return ok;
}

// Identification of the next packet sent as a frame; like the kernel's, it starts anywhere.
std::uint16_t NextPacketId() {
    static std::atomic<std::uint16_t> next{
        static_cast<std::uint16_t>(std::chrono::steady_clock::now().time_since_epoch().count())};
    return next.fetch_add(1);
}

// The connected IPv4 subnets of every interface.
struct LocalSubnet {
    int ifindex;
    std::uint32_t address, mask;  // network byte order
};

std::vector<LocalSubnet> LocalSubnets() {
    std::vector<LocalSubnet> subnets;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return subnets;
    for (ifaddrs* ifa = list; ifa; ifa = ifa->ifa_next) {
        if (!ifa->ifa_addr || ifa->ifa_addr->sa_family != AF_INET || !ifa->ifa_netmask)
            continue;
        subnets.push_back(LocalSubnet{static_cast<int>(if_nametoindex(ifa->ifa_name)),
                                      reinterpret_cast<sockaddr_in*>(ifa->ifa_addr)->sin_addr.s_addr,
                                      reinterpret_cast<sockaddr_in*>(ifa->ifa_netmask)->sin_addr.s_addr});
    }
    ::freeifaddrs(list);
    return subnets;
}

// True when addr lies in a subnet of the interface and is not the interface's own address.
bool OnSubnet(const std::vector<LocalSubnet>& subnets, int ifindex, std::uint32_t addr) {
    bool inside = false;
    for (const LocalSubnet& subnet : subnets) {
        if (subnet.ifindex != ifindex)
            continue;
        if (subnet.address == addr)
            return false;
        if (subnet.mask != 0xFFFFFFFFu && (subnet.address & subnet.mask) == (addr & subnet.mask))
            inside = true;
    }
    return inside;
}

// The subnet of ours that holds addr, the arrival interface's first; null when none does or when
// addr is one of our own addresses.
const LocalSubnet* SubnetOf(const std::vector<LocalSubnet>& subnets, int arrival, std::uint32_t addr) {
    const LocalSubnet* found = nullptr;
    for (const LocalSubnet& subnet : subnets) {
        if (subnet.address == addr)
            return nullptr;
        if (subnet.mask == 0xFFFFFFFFu || (subnet.address & subnet.mask) != (addr & subnet.mask))
            continue;
        if (!found || (subnet.ifindex == arrival && found->ifindex != arrival))
            found = &subnet;
    }
    return found;
}

// The namespace's IP OutDiscards counter, -1 when it cannot be read.
long IpOutDiscards() {
    std::FILE* snmp = std::fopen("/proc/self/net/snmp", "re");
    if (!snmp)
        return -1;
    char names[1024], values[1024];
    long result = -1;
    while (std::fgets(names, sizeof names, snmp) && std::fgets(values, sizeof values, snmp)) {
        if (std::strncmp(names, "Ip:", 3) != 0)
            continue;
        char* nameSave = nullptr;
        char* valueSave = nullptr;
        for (char *name = strtok_r(names, " \n", &nameSave), *value = strtok_r(values, " \n", &valueSave);
             name && value;
             name = strtok_r(nullptr, " \n", &nameSave), value = strtok_r(nullptr, " \n", &valueSave)) {
            if (std::strcmp(name, "OutDiscards") == 0 &&
                std::from_chars(value, value + std::strlen(value), result).ec != std::errc{})
                result = -1;
        }
        break;
    }
    std::fclose(snmp);
    return result;
}

}  // namespace

std::shared_ptr<ISocketLayer> CreateSystemSocketLayer() {
    return std::make_shared<CLinuxSocketLayer>();
}

bool CLinuxSocketLayer::Startup() {
    return true;
}

bool PrepareRawSockets() {
    PreparedSockets& prepared = Prepared();
    std::lock_guard<std::mutex> lock(prepared.mutex);
    if (prepared.prepared)
        return !CapabilityDropFailed();
    CLinuxSocketLayer opener;
    int sock = opener.OpenFresh();  // raises, opens both sockets, drops every capability
    prepared.prepared = true;
    prepared.icmp.reset(sock);
    prepared.icmpOpened = sock >= 0;
    prepared.icmpError = sock < 0 ? opener.LastError() : 0;
    prepared.link = opener.ReleaseLinkSocket();
    if (CapabilityDropFailed()) {
        int error = errno;
        errno = error ? error : EPERM;
        return false;
    }
    return true;
}

bool RawSocketAvailable() {
    PreparedSockets& prepared = Prepared();
    std::lock_guard<std::mutex> lock(prepared.mutex);
    return prepared.prepared ? prepared.icmpOpened : HasNetRawPermitted();
}

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

// The kernel may grant less than asked (net.core.rmem_max without CAP_NET_ADMIN); a burst of
// replies then overflows sooner, which is worth a line. An Info line: with only cap_net_raw, as
// installed, this is the usual case, and a Warning would leave a debug.log behind every start.
// The kernel reports twice the usable size.
void CheckReceiveBuffer(int sock) {
    int granted = 0;
    socklen_t length = sizeof granted;
    if (::getsockopt(sock, SOL_SOCKET, SO_RCVBUF, &granted, &length) != 0)
        return;
    if (granted / 2 < CLinuxSocketLayer::kReceiveBuffer)
        LogWrite(LOG_INFO, "Receive buffer of the raw socket is %d bytes, %d asked for", granted / 2,
                 CLinuxSocketLayer::kReceiveBuffer);
}

}  // namespace

UniqueFd CLinuxSocketLayer::ReleaseLinkSocket() {
    std::lock_guard<std::mutex> lock(m_linkMutex);
    return std::move(m_linkSocket);
}

bool CLinuxSocketLayer::TakePreparedSockets(int& sock) {
    PreparedSockets& prepared = Prepared();
    std::lock_guard<std::mutex> lock(prepared.mutex);
    if (!prepared.prepared || (!prepared.icmp && prepared.icmpError == 0))
        return false;  // nothing prepared, or already taken: open afresh
    if (!prepared.icmp) {
        // Opening failed while the rights were still there; that is the error to report.
        t_lastError = prepared.icmpError;
        prepared.icmpError = 0;
        errno = t_lastError;
        sock = -1;
        return true;
    }
    sock = prepared.icmp.release();
    std::lock_guard<std::mutex> linkLock(m_linkMutex);
    if (!m_linkSocket)
        m_linkSocket = std::move(prepared.link);
    prepared.link.reset();
    return true;
}

int CLinuxSocketLayer::OpenRawIcmp() {
    int taken = -1;
    UniqueFd sock(TakePreparedSockets(taken) ? taken : OpenFresh());
    if (sock && CapabilityDropFailed()) {
        // A process that could not give up its rights does not go on to use them.
        sock.reset();
        t_lastError = EPERM;
        errno = EPERM;
        return -1;
    }
    if (sock)
        CheckReceiveBuffer(sock.get());
    return sock.release();
}

int CLinuxSocketLayer::OpenFresh() {
    RaiseNetRaw();  // when it cannot be raised, socket() below reports EPERM
    UniqueFd sock(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP));
    // With standard input closed the socket would be descriptor 0, which reads as "no socket".
    if (sock.get() == 0) {
        UniqueFd moved(::fcntl(sock.get(), F_DUPFD_CLOEXEC, 1));
        int error = errno;
        sock = std::move(moved);
        errno = error;
    }
    if (!sock) {
        Fail();
        DropCapabilities();
        errno = t_lastError;
        return -1;
    }
    // The default queue holds only a few hundred small packets; a burst of replies needs more.
    // SO_RCVBUFFORCE passes net.core.rmem_max but needs CAP_NET_ADMIN, so fall back.
    int size = kReceiveBuffer;
    if (::setsockopt(sock.get(), SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
        ::setsockopt(sock.get(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    int on = 1;
    ::setsockopt(sock.get(), IPPROTO_IP, IP_PKTINFO, &on, sizeof on);

    // ARP probes and whole frames need a packet socket, which only the privilege we are about to
    // drop allows.
    if (!m_linkSocket) {
        std::lock_guard<std::mutex> lock(m_linkMutex);
        m_linkSocket = OpenArpAnswerSocket(size);
    }
    DropCapabilities();
    return sock.release();
}

bool CLinuxSocketLayer::EnableBroadcast(int sock) {
    int on = 1;
    if (::setsockopt(sock, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
        Fail();
        return false;
    }
    return true;
}

bool CLinuxSocketLayer::SendBroadcast(int sock, const void* data, std::size_t length,
                                      const std::vector<int>& ifindexes) {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        Fail();
        return false;
    }
    const std::uint8_t everyone[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    bool sent = false;
    int lastError = ENETUNREACH;  // no interface qualified
    std::set<unsigned> done;      // one copy per interface, however many addresses it has
    for (ifaddrs* ifa = list; ifa; ifa = ifa->ifa_next) {
        if (!ifa->ifa_addr || ifa->ifa_addr->sa_family != AF_INET)
            continue;
        unsigned flags = ifa->ifa_flags;
        if (!(flags & IFF_UP) || (flags & IFF_LOOPBACK) || !(flags & IFF_BROADCAST))
            continue;
        unsigned ifindex = if_nametoindex(ifa->ifa_name);
        if (ifindex == 0 || !done.insert(ifindex).second)
            continue;
        if (!ifindexes.empty() &&
            std::find(ifindexes.begin(), ifindexes.end(), static_cast<int>(ifindex)) == ifindexes.end())
            continue;
        const std::uint32_t source = reinterpret_cast<sockaddr_in*>(ifa->ifa_addr)->sin_addr.s_addr;
        const int index = static_cast<int>(ifindex);
        std::uint8_t ownMac[6];
        bool ok;
        if (m_linkSocket && InterfaceHardwareAddress(index, ownMac))
            ok = SendFrame(index, everyone,
                           netlink::BuildIcmpPacket(source, htonl(INADDR_BROADCAST), NextPacketId(), kTtl,
                                                    {static_cast<const std::uint8_t*>(data), length}));
        else
            ok = SendThroughKernel(sock, htonl(INADDR_BROADCAST), index, source, data, length);
        if (ok)
            sent = true;
        else
            lastError = t_lastError;
    }
    ::freeifaddrs(list);
    if (!sent) {
        t_lastError = lastError;
        errno = lastError;
    }
    return sent;
}

bool CLinuxSocketLayer::SendTo(int sock, std::uint32_t addr, const void* data, std::size_t length) {
    netlink::RouteInfo route;
    int error = 0;
    std::uint8_t ownMac[6];
    if (m_linkSocket && m_route.GetRoute(addr, route, error) && route.type == RTN_UNICAST && route.oif > 0 &&
        route.prefsrc != 0 && InterfaceHardwareAddress(route.oif, ownMac)) {
        // The next hop's hardware address from the table, or asked for; never a new table entry.
        std::vector<HardwareRequest> hop(1);
        hop[0].addr = route.gateway ? route.gateway : addr;
        hop[0].ifindex = route.oif;
        std::memset(hop[0].mac, 0xFF, sizeof hop[0].mac);
        hop[0].length = 6;
        LookupHardwareAddresses(hop);
        ProbeHardwareAddresses(hop, Now() + kArpWait);
        if (hop[0].state != HardwareState::Resolved || hop[0].length != 6) {
            t_lastError = errno = EHOSTUNREACH;
            return false;
        }
        return SendFrame(route.oif, hop[0].mac,
                         netlink::BuildIcmpPacket(route.prefsrc, addr, NextPacketId(), kTtl,
                                                  {static_cast<const std::uint8_t*>(data), length}));
    }
    // Loopback, our own addresses and interfaces without Ethernet framing.
    return SendThroughKernel(sock, addr, 0, 0, data, length);
}

bool CLinuxSocketLayer::SendFrame(int ifindex, const std::uint8_t destination[6],
                                  const std::vector<std::uint8_t>& packet) {
    std::lock_guard<std::mutex> lock(m_linkMutex);
    sockaddr_ll to{};
    to.sll_family = AF_PACKET;
    to.sll_protocol = htons(ETH_P_IP);
    to.sll_ifindex = ifindex;
    to.sll_halen = 6;
    std::memcpy(to.sll_addr, destination, 6);
    ssize_t n;
    do {
        n = ::sendto(m_linkSocket.get(), packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to),
                     sizeof to);
    } while (n < 0 && errno == EINTR);
    if (n != static_cast<ssize_t>(packet.size())) {
        if (n >= 0)
            errno = EMSGSIZE;
        Fail();
        return false;
    }
    return true;
}

bool CLinuxSocketLayer::SendThroughKernel(int sock, std::uint32_t addr, int ifindex, std::uint32_t source,
                                          const void* data, std::size_t length) {
    sockaddr_in dst{};
    dst.sin_family = AF_INET;
    dst.sin_addr.s_addr = addr;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    iovec iov{const_cast<void*>(data), length};
    msghdr msg{};
    msg.msg_name = &dst;
    msg.msg_namelen = sizeof dst;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    if (ifindex > 0) {
        // Naming the interface lets the limited broadcast out even without a default route.
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        cmsghdr* cmsg = CMSG_FIRSTHDR(&msg);
        cmsg->cmsg_level = IPPROTO_IP;
        cmsg->cmsg_type = IP_PKTINFO;
        cmsg->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_ifindex = ifindex;
        info.ipi_spec_dst.s_addr = source;
        std::memcpy(CMSG_DATA(cmsg), &info, sizeof info);
    }
    long discardsBefore = IpOutDiscards();
    if (::sendmsg(sock, &msg, 0) != static_cast<ssize_t>(length)) {
        Fail();
        return false;
    }
    long discardsAfter = IpOutDiscards();
    if (discardsBefore >= 0 && discardsAfter > discardsBefore) {
        t_lastError = errno = ENOBUFS;
        return false;
    }
    return true;
}

int CLinuxSocketLayer::WaitReadable(int sock, std::chrono::microseconds timeout) {
    auto deadline = Now() + timeout;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Now());
        if (left.count() < 0)
            left = std::chrono::nanoseconds(0);
        timespec ts{static_cast<time_t>(left.count() / 1000000000),
                    static_cast<long>(left.count() % 1000000000)};
        // While probes are out, their answers are gathered here so none is lost to a full queue.
        pollfd pfd[2] = {{sock, POLLIN, 0}, {-1, POLLIN, 0}};
        {
            std::lock_guard<std::mutex> lock(m_linkMutex);
            if (m_linkSocket && !m_asked.empty())
                pfd[1].fd = m_linkSocket.get();
        }
        int ready = ::ppoll(pfd, pfd[1].fd >= 0 ? 2 : 1, &ts, nullptr);
        if (ready > 0) {
            if (pfd[0].revents & POLLNVAL) {
                errno = EBADF;
                Fail();
                return -1;
            }
            if (pfd[0].revents)
                return 1;
            std::lock_guard<std::mutex> lock(m_linkMutex);
            GatherAnswers(nullptr);
            continue;
        }
        if (ready == 0)
            return 0;
        if (errno != EINTR) {
            Fail();
            return -1;
        }
    }
}

bool CLinuxSocketLayer::Receive(int sock, void* buffer, std::size_t capacity, ReceivedPacket& packet) {
    sockaddr_in src{};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo)) + 64];
    iovec iov{buffer, capacity};
    msghdr msg{};
    msg.msg_name = &src;
    msg.msg_namelen = sizeof src;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;

    ssize_t n;
    do {
        // MSG_TRUNC makes a raw socket return the datagram's real length.
        n = ::recvmsg(sock, &msg, MSG_TRUNC);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        Fail();
        return false;
    }
    packet = ReceivedPacket{};
    packet.truncated = (msg.msg_flags & MSG_TRUNC) != 0 || static_cast<std::size_t>(n) > capacity;
    packet.length = static_cast<std::size_t>(n) < capacity ? static_cast<std::size_t>(n) : capacity;
    packet.sourceAddr = src.sin_addr.s_addr;
    for (cmsghdr* cmsg = CMSG_FIRSTHDR(&msg); cmsg; cmsg = CMSG_NXTHDR(&msg, cmsg)) {
        if (cmsg->cmsg_level == IPPROTO_IP && cmsg->cmsg_type == IP_PKTINFO) {
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(cmsg), sizeof info);
            packet.ifindex = info.ipi_ifindex;
        }
    }
    return true;
}

bool CLinuxSocketLayer::HasPending(int sock) {
    pollfd pfd{sock, POLLIN, 0};
    return ::poll(&pfd, 1, 0) > 0 && (pfd.revents & POLLIN);
}

void CLinuxSocketLayer::LookupHardwareAddresses(std::vector<HardwareRequest>& requests) {
    // One dump of the table answers every address at once; a failed dump means asking one by one.
    std::vector<netlink::NeighInfo> entries;
    int error = 0;
    bool dumped = m_route.DumpNeigh(entries, error);
    std::unordered_multimap<std::uint32_t, const netlink::NeighInfo*> table;
    for (const netlink::NeighInfo& entry : entries)
        if (netlink::NeighStateUsable(entry.state) && entry.lladdrLength > 0)
            table.emplace(entry.dst, &entry);
    const std::vector<LocalSubnet> subnets = LocalSubnets();
    const auto now = Now();
    {
        std::lock_guard<std::mutex> lock(m_learnedMutex);
        std::erase_if(m_learned, [&](const auto& entry) { return entry.second.until <= now; });
    }

    auto resolve = [](HardwareRequest& request, const std::uint8_t* lladdr, unsigned lladdrLength) {
        unsigned n = lladdrLength < request.length ? lladdrLength : request.length;
        std::memcpy(request.mac, lladdr, n);
        request.length = n;
        request.state = HardwareState::Resolved;
    };
    auto fromTable = [&](HardwareRequest& request, auto onLink) {
        auto range = table.equal_range(request.addr);
        for (auto it = range.first; it != range.second; ++it) {
            if (onLink(it->second->ifindex)) {
                resolve(request, it->second->lladdr, it->second->lladdrLength);
                return true;
            }
        }
        return false;
    };

    for (HardwareRequest& request : requests) {
        if (request.state != HardwareState::Pending)
            continue;
        // An entry on an interface whose own subnet holds the address needs no route lookup.
        if (fromTable(request, [&](int ifindex) { return OnSubnet(subnets, ifindex, request.addr); }))
            continue;
        {
            std::lock_guard<std::mutex> lock(m_learnedMutex);
            auto learned = m_learned.find(request.addr);
            if (learned != m_learned.end() && learned->second.until > now &&
                OnSubnet(subnets, learned->second.ifindex, request.addr)) {
                resolve(request, learned->second.mac.data(), 6);
                continue;
            }
        }
        // On a subnet of ours and not in the table: asked for by a probe, with no route lookup, so
        // that tens of thousands of unknown repliers cost no netlink round trip each.
        if (const LocalSubnet* subnet = SubnetOf(subnets, request.ifindex, request.addr)) {
            request.probeIfindex = subnet->ifindex;
            request.probeSource = subnet->address;
            continue;
        }
        netlink::RouteInfo route;
        if (!m_route.GetRoute(request.addr, route, error) || route.viaGateway || route.type != RTN_UNICAST ||
            route.oif <= 0) {
            request.state = HardwareState::Failed;
            continue;
        }
        if (dumped ? fromTable(request, [&](int ifindex) { return ifindex == route.oif; }) : false)
            continue;
        netlink::NeighInfo neigh;
        if (!dumped && m_route.GetNeigh(request.addr, route.oif, neigh, error) &&
            netlink::NeighStateUsable(neigh.state)) {
            resolve(request, neigh.lladdr, neigh.lladdrLength);
            continue;
        }
        request.probeIfindex = route.oif;
        request.probeSource = route.prefsrc;
    }
}

void CLinuxSocketLayer::GatherAnswers(std::vector<std::uint32_t>* answered) {
    std::uint8_t frame[256];
    sockaddr_ll from{};
    socklen_t fromLength = sizeof from;
    ssize_t n;
    while ((n = ::recvfrom(m_linkSocket.get(), frame, sizeof frame, MSG_DONTWAIT,
                           reinterpret_cast<sockaddr*>(&from), &fromLength)) >= 0) {
        fromLength = sizeof from;
        std::uint32_t sender = 0;
        if (!netlink::ArpSender({frame, static_cast<std::size_t>(n)}, sender))
            continue;
        auto asked = m_asked.find(sender);
        if (asked == m_asked.end() || asked->second.ifindex != from.sll_ifindex)
            continue;
        {
            std::lock_guard<std::mutex> learnedLock(m_learnedMutex);
            LearnedAddress& learned = m_learned[sender];
            learned.ifindex = from.sll_ifindex;
            std::memcpy(learned.mac.data(), frame + 8, 6);
            learned.until = Now() + kLearnedLifetime;
        }
        m_asked.erase(asked);
        if (answered)
            answered->push_back(sender);
    }
}

void CLinuxSocketLayer::SendProbe(std::uint32_t addr, const AskedAddress& asked) {
    auto request = netlink::BuildArpRequest(asked.ownMac.data(), asked.source, addr);
    sockaddr_ll to{};
    to.sll_family = AF_PACKET;
    to.sll_protocol = htons(ETH_P_ARP);
    to.sll_ifindex = asked.ifindex;
    to.sll_halen = 6;
    std::memset(to.sll_addr, 0xFF, 6);
    ::sendto(m_linkSocket.get(), request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&to),
             sizeof to);
    // Answers come while the probes still go out; read them now and then so the socket's
    // queue never overflows.
    if (++m_probesSent % 64 == 0)
        GatherAnswers(nullptr);
}

void CLinuxSocketLayer::SendProbes(const std::vector<HardwareRequest>& requests) {
    std::lock_guard<std::mutex> lock(m_linkMutex);
    if (!m_linkSocket)
        return;
    std::map<int, std::array<std::uint8_t, 6>> ownMacs;
    for (const HardwareRequest& request : requests) {
        if (request.state != HardwareState::Pending || request.probeIfindex <= 0 ||
            m_asked.count(request.addr))
            continue;
        auto own = ownMacs.find(request.probeIfindex);
        if (own == ownMacs.end()) {
            std::array<std::uint8_t, 6> mac{};
            if (!InterfaceHardwareAddress(request.probeIfindex, mac.data()))
                continue;
            own = ownMacs.emplace(request.probeIfindex, mac).first;
        }
        AskedAddress asked{request.probeIfindex, request.probeSource, own->second, Now()};
        m_asked[request.addr] = asked;
        SendProbe(request.addr, asked);
    }
}

void CLinuxSocketLayer::ProbeHardwareAddresses(std::vector<HardwareRequest>& requests,
                                               std::chrono::steady_clock::time_point deadline) {
    {
        // Answered already, while the layer waited for ICMP packets.
        std::lock_guard<std::mutex> lock(m_linkMutex);
        if (m_linkSocket)
            GatherAnswers(nullptr);
        std::lock_guard<std::mutex> learnedLock(m_learnedMutex);
        for (HardwareRequest& request : requests) {
            if (request.state != HardwareState::Pending)
                continue;
            auto learned = m_learned.find(request.addr);
            if (learned == m_learned.end() || learned->second.ifindex != request.probeIfindex)
                continue;
            unsigned length = request.length < 6 ? request.length : 6;
            std::memcpy(request.mac, learned->second.mac.data(), length);
            request.length = length;
            request.state = HardwareState::Resolved;
        }
    }
    SendProbes(requests);  // for those not asked yet
    std::lock_guard<std::mutex> lock(m_linkMutex);
    // Requests by address: one probe per address, however often it answered.
    std::unordered_map<std::uint32_t, std::vector<HardwareRequest*>> waiting;
    for (HardwareRequest& request : requests) {
        if (request.state != HardwareState::Pending)
            continue;
        if (!m_linkSocket || !m_asked.count(request.addr))
            request.state = HardwareState::Failed;  // it could not be asked
        else
            waiting[request.addr].push_back(&request);
    }
    auto settle = [&](const std::vector<std::uint32_t>& answered) {
        for (std::uint32_t addr : answered) {
            auto it = waiting.find(addr);
            if (it == waiting.end())
                continue;
            std::lock_guard<std::mutex> learnedLock(m_learnedMutex);
            const LearnedAddress& learned = m_learned[addr];
            for (HardwareRequest* request : it->second) {
                unsigned length = request->length < 6 ? request->length : 6;
                std::memcpy(request->mac, learned.mac.data(), length);
                request->length = length;
                request->state = HardwareState::Resolved;
            }
            waiting.erase(it);
        }
    };
    auto resend = [&](std::chrono::steady_clock::time_point sentBefore) {
        for (const auto& entry : waiting) {
            auto asked = m_asked.find(entry.first);
            if (asked != m_asked.end() && asked->second.sentAt < sentBefore) {
                asked->second.sentAt = Now();
                SendProbe(entry.first, asked->second);
            }
        }
    };

    // Probes sent a while ago without an answer (a lost frame, a full queue) go again at once;
    // a second round half-way covers lost frames once more.
    const auto start = Now();
    resend(start - kProbeRetry);
    auto secondRound = start + (deadline - start) / 2;
    std::vector<std::uint32_t> answered;
    for (;;) {
        answered.clear();
        GatherAnswers(&answered);
        settle(answered);
        auto now = Now();
        if (waiting.empty() || now >= deadline)
            break;
        if (now >= secondRound) {
            resend(now);
            secondRound = deadline;
            continue;
        }
        auto until = secondRound < deadline ? secondRound : deadline;
        int ms = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(until - now).count());
        pollfd pfd{m_linkSocket.get(), POLLIN, 0};
        ::poll(&pfd, 1, ms);
    }
    for (auto& entry : waiting) {
        m_asked.erase(entry.first);
        for (HardwareRequest* request : entry.second)
            request->state = HardwareState::Failed;
    }
}

int CLinuxSocketLayer::ResolveHardwareAddress(std::uint32_t addr, int ifindex, std::uint8_t* mac,
                                              unsigned* length) {
    std::vector<HardwareRequest> one(1);
    one[0].addr = addr;
    one[0].ifindex = ifindex;
    one[0].length = *length < sizeof one[0].mac ? *length : sizeof one[0].mac;
    std::memcpy(one[0].mac, mac, one[0].length);
    LookupHardwareAddresses(one);
    ProbeHardwareAddresses(one, Now() + kArpWait);
    if (one[0].state != HardwareState::Resolved)
        return EHOSTUNREACH;
    std::memcpy(mac, one[0].mac, one[0].length);
    *length = one[0].length;
    return 0;
}

void CLinuxSocketLayer::Close(int sock) {
    if (sock >= 0)
        ::close(sock);
}

int CLinuxSocketLayer::LastError() const {
    return t_lastError;
}

std::chrono::steady_clock::time_point CLinuxSocketLayer::Now() {
    return std::chrono::steady_clock::now();
}
