#include "platform/LinuxSocketLayer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
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

#include <cerrno>
#include <cstring>
#include <set>

#include "log/Log.h"
#include "platform/Privileges.h"

namespace {

thread_local int t_lastError = 0;

// Sockets opened by PrepareRawSockets, waiting for the worker's OpenRawIcmp.
struct PreparedSockets {
    std::mutex mutex;
    bool prepared = false;
    int icmp = -1;
    int icmpError = 0;
    bool icmpOpened = false;  // stays true after the socket has been taken
    int arp = -1;
};

PreparedSockets& Prepared()
{
    static auto* prepared = new PreparedSockets;  // never destroyed: a late worker may still ask
    return *prepared;
}

int Fail()
{
    t_lastError = errno;
    return t_lastError;
}

bool InterfaceHardwareAddress(int ifindex, std::uint8_t mac[6])
{
    ifreq req{};
    if (!if_indextoname(static_cast<unsigned>(ifindex), req.ifr_name))
        return false;
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    bool ok = ::ioctl(fd, SIOCGIFHWADDR, &req) == 0 && req.ifr_hwaddr.sa_family == ARPHRD_ETHER;
    ::close(fd);
    if (ok)
        std::memcpy(mac, req.ifr_hwaddr.sa_data, 6);
    return ok;
}

}  // namespace

std::shared_ptr<ISocketLayer> CreateSystemSocketLayer()
{
    return std::make_shared<CLinuxSocketLayer>();
}

CLinuxSocketLayer::~CLinuxSocketLayer()
{
    if (m_arpSocket >= 0)
        ::close(m_arpSocket);
}

bool CLinuxSocketLayer::Startup()
{
    return true;
}

bool PrepareRawSockets()
{
    PreparedSockets& prepared = Prepared();
    std::lock_guard<std::mutex> lock(prepared.mutex);
    if (prepared.prepared)
        return !CapabilityDropFailed();
    CLinuxSocketLayer opener;
    int sock = opener.OpenFresh();  // raises, opens both sockets, drops every capability
    prepared.prepared = true;
    prepared.icmp = sock;
    prepared.icmpOpened = sock >= 0;
    prepared.icmpError = sock < 0 ? opener.LastError() : 0;
    prepared.arp = opener.ReleaseArpSocket();
    if (CapabilityDropFailed()) {
        int error = errno;
        errno = error ? error : EPERM;
        return false;
    }
    return true;
}

bool RawSocketAvailable()
{
    PreparedSockets& prepared = Prepared();
    std::lock_guard<std::mutex> lock(prepared.mutex);
    return prepared.prepared ? prepared.icmpOpened : HasNetRawPermitted();
}

namespace {

// The kernel may grant less than asked (net.core.rmem_max without CAP_NET_ADMIN); a burst of
// replies then overflows sooner, which is worth a line. It reports twice the usable size.
void CheckReceiveBuffer(int sock)
{
    int granted = 0;
    socklen_t length = sizeof granted;
    if (::getsockopt(sock, SOL_SOCKET, SO_RCVBUF, &granted, &length) != 0)
        return;
    if (granted / 2 < CLinuxSocketLayer::kReceiveBuffer)
        LogWrite(LOG_WARNING, "Receive buffer of the raw socket is %d bytes, %d asked for", granted / 2,
                 CLinuxSocketLayer::kReceiveBuffer);
}

}  // namespace

int CLinuxSocketLayer::ReleaseArpSocket()
{
    std::lock_guard<std::mutex> lock(m_arpMutex);
    int arp = m_arpSocket;
    m_arpSocket = -1;
    return arp;
}

bool CLinuxSocketLayer::TakePreparedSockets(int& sock)
{
    PreparedSockets& prepared = Prepared();
    std::lock_guard<std::mutex> lock(prepared.mutex);
    if (!prepared.prepared || (prepared.icmp < 0 && prepared.icmpError == 0))
        return false;  // nothing prepared, or already taken: open afresh
    sock = prepared.icmp;
    if (sock < 0) {
        // Opening failed while the rights were still there; that is the error to report.
        t_lastError = prepared.icmpError;
        prepared.icmpError = 0;
        errno = t_lastError;
        return true;
    }
    prepared.icmp = -1;
    std::lock_guard<std::mutex> arpLock(m_arpMutex);
    if (m_arpSocket < 0)
        m_arpSocket = prepared.arp;
    else if (prepared.arp >= 0)
        ::close(prepared.arp);
    prepared.arp = -1;
    return true;
}

int CLinuxSocketLayer::OpenRawIcmp()
{
    int sock = -1;
    if (!TakePreparedSockets(sock))
        sock = OpenFresh();
    if (sock >= 0 && CapabilityDropFailed()) {
        // A process that could not give up its rights does not go on to use them.
        ::close(sock);
        t_lastError = EPERM;
        errno = EPERM;
        return -1;
    }
    if (sock >= 0)
        CheckReceiveBuffer(sock);
    return sock;
}

int CLinuxSocketLayer::OpenFresh()
{
    RaiseNetRaw();  // when it cannot be raised, socket() below reports EPERM
    int sock = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (sock < 0) {
        Fail();
        DropCapabilities();
        errno = t_lastError;
        return -1;
    }
    // With standard input closed the socket would be descriptor 0, which reads as "no socket".
    if (sock == 0) {
        int moved = ::fcntl(sock, F_DUPFD_CLOEXEC, 1);
        int error = errno;
        ::close(sock);
        if (moved < 0) {
            errno = error;
            Fail();
            DropCapabilities();
            errno = t_lastError;
            return -1;
        }
        sock = moved;
    }
    // The default queue holds only a few hundred small packets; a burst of replies needs more.
    // SO_RCVBUFFORCE passes net.core.rmem_max but needs CAP_NET_ADMIN, so fall back.
    int size = kReceiveBuffer;
    if (::setsockopt(sock, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
        ::setsockopt(sock, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    int on = 1;
    ::setsockopt(sock, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);

    // ARP probes need a packet socket, which only the privilege we are about to drop allows.
    if (m_arpSocket < 0) {
        std::lock_guard<std::mutex> lock(m_arpMutex);
        m_arpSocket = ::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, htons(ETH_P_ARP));
    }
    DropCapabilities();
    return sock;
}

bool CLinuxSocketLayer::EnableBroadcast(int sock)
{
    int on = 1;
    if (::setsockopt(sock, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
        Fail();
        return false;
    }
    return true;
}

bool CLinuxSocketLayer::SendBroadcast(int sock, const void* data, std::size_t length)
{
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        Fail();
        return false;
    }
    sockaddr_in dst{};
    dst.sin_family = AF_INET;
    dst.sin_addr.s_addr = htonl(INADDR_BROADCAST);

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

        // Naming the interface lets the limited broadcast out even without a default route.
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
        iovec iov{const_cast<void*>(data), length};
        msghdr msg{};
        msg.msg_name = &dst;
        msg.msg_namelen = sizeof dst;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        cmsghdr* cmsg = CMSG_FIRSTHDR(&msg);
        cmsg->cmsg_level = IPPROTO_IP;
        cmsg->cmsg_type = IP_PKTINFO;
        cmsg->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_ifindex = static_cast<int>(ifindex);
        info.ipi_spec_dst = reinterpret_cast<sockaddr_in*>(ifa->ifa_addr)->sin_addr;
        std::memcpy(CMSG_DATA(cmsg), &info, sizeof info);

        if (::sendmsg(sock, &msg, 0) == static_cast<ssize_t>(length))
            sent = true;
        else
            lastError = errno;
    }
    ::freeifaddrs(list);
    if (!sent) {
        t_lastError = lastError;
        errno = lastError;
    }
    return sent;
}

bool CLinuxSocketLayer::SendTo(int sock, std::uint32_t addr, const void* data, std::size_t length)
{
    sockaddr_in dst{};
    dst.sin_family = AF_INET;
    dst.sin_addr.s_addr = addr;
    if (::sendto(sock, data, length, 0, reinterpret_cast<sockaddr*>(&dst), sizeof dst) != static_cast<ssize_t>(length)) {
        Fail();
        return false;
    }
    return true;
}

int CLinuxSocketLayer::WaitReadable(int sock, std::chrono::microseconds timeout)
{
    auto deadline = Now() + timeout;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Now());
        if (left.count() < 0)
            left = std::chrono::nanoseconds(0);
        timespec ts{static_cast<time_t>(left.count() / 1000000000), static_cast<long>(left.count() % 1000000000)};
        pollfd pfd{sock, POLLIN, 0};
        int ready = ::ppoll(&pfd, 1, &ts, nullptr);
        if (ready > 0) {
            if (pfd.revents & POLLNVAL) {
                errno = EBADF;
                Fail();
                return -1;
            }
            return 1;
        }
        if (ready == 0)
            return 0;
        if (errno != EINTR) {
            Fail();
            return -1;
        }
    }
}

bool CLinuxSocketLayer::Receive(int sock, void* buffer, std::size_t capacity, ReceivedPacket& packet)
{
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

bool CLinuxSocketLayer::HasPending(int sock)
{
    pollfd pfd{sock, POLLIN, 0};
    return ::poll(&pfd, 1, 0) > 0 && (pfd.revents & POLLIN);
}

int CLinuxSocketLayer::ResolveHardwareAddress(std::uint32_t addr, int /*ifindex*/, std::uint8_t* mac,
                                              unsigned* length)
{
    // The route decides the interface; the arrival interface may differ on a bridged host.
    netlink::RouteInfo route;
    int error = 0;
    if (!m_route.GetRoute(addr, route, error))
        return error ? error : ENETUNREACH;
    if (route.viaGateway || route.type != RTN_UNICAST || route.oif <= 0)
        return ENETUNREACH;

    netlink::NeighInfo neigh;
    if (m_route.GetNeigh(addr, route.oif, neigh, error) && netlink::NeighStateUsable(neigh.state)) {
        unsigned n = neigh.lladdrLength < *length ? neigh.lladdrLength : *length;
        std::memcpy(mac, neigh.lladdr, n);
        *length = n;
        return 0;
    }

    std::uint8_t found[6];
    if (!ArpProbe(route, addr, found))
        return EHOSTUNREACH;
    unsigned n = *length < 6 ? *length : 6;
    std::memcpy(mac, found, n);
    *length = n;
    return 0;
}

bool CLinuxSocketLayer::ArpProbe(const netlink::RouteInfo& route, std::uint32_t addr, std::uint8_t mac[6])
{
    std::lock_guard<std::mutex> lock(m_arpMutex);
    if (m_arpSocket < 0)
        return false;
    std::uint8_t ownMac[6];
    if (!InterfaceHardwareAddress(route.oif, ownMac))
        return false;

    // Whatever ARP traffic queued up since the last probe is of no interest.
    std::uint8_t frame[256];
    while (::recv(m_arpSocket, frame, sizeof frame, MSG_DONTWAIT) >= 0) {
    }

    auto request = netlink::BuildArpRequest(ownMac, route.prefsrc, addr);
    sockaddr_ll to{};
    to.sll_family = AF_PACKET;
    to.sll_protocol = htons(ETH_P_ARP);
    to.sll_ifindex = route.oif;
    to.sll_halen = 6;
    std::memset(to.sll_addr, 0xFF, 6);

    auto deadline = Now() + kArpWait;
    auto nextSend = Now();
    for (;;) {
        auto now = Now();
        if (now >= deadline)
            return false;
        if (now >= nextSend) {
            // A second request half-way covers one lost frame.
            ::sendto(m_arpSocket, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
            nextSend = now + kArpWait / 2;
        }
        auto until = nextSend < deadline ? nextSend : deadline;
        int ms = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count()) + 1;
        pollfd pfd{m_arpSocket, POLLIN, 0};
        if (::poll(&pfd, 1, ms) <= 0)
            continue;
        sockaddr_ll from{};
        socklen_t fromLength = sizeof from;
        ssize_t n;
        while ((n = ::recvfrom(m_arpSocket, frame, sizeof frame, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from),
                               &fromLength)) >= 0) {
            if (from.sll_ifindex == route.oif && netlink::ParseArpFromSender(frame, static_cast<std::size_t>(n), addr, mac))
                return true;
            fromLength = sizeof from;
        }
    }
}

void CLinuxSocketLayer::Close(int sock)
{
    if (sock >= 0)
        ::close(sock);
}

int CLinuxSocketLayer::LastError() const
{
    return t_lastError;
}

std::chrono::steady_clock::time_point CLinuxSocketLayer::Now()
{
    return std::chrono::steady_clock::now();
}
