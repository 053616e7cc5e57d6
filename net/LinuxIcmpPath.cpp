// The raw ICMP socket's own traffic: sending through the kernel, checked against its discard
// counter, and receiving with the arrival interface.
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <vector>

#include "net/LinuxSocketLayer.h"

namespace {

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

// What the kernel says about a received datagram beside its bytes: the arrival interface, and the
// socket's drop count as the datagram was queued.
void ReadControl(msghdr& msg, ReceivedPacket& packet) {
    for (cmsghdr* cmsg = CMSG_FIRSTHDR(&msg); cmsg; cmsg = CMSG_NXTHDR(&msg, cmsg)) {
        if (cmsg->cmsg_level == IPPROTO_IP && cmsg->cmsg_type == IP_PKTINFO) {
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(cmsg), sizeof info);
            packet.ifindex = info.ipi_ifindex;
        } else if (cmsg->cmsg_level == SOL_SOCKET && cmsg->cmsg_type == SO_RXQ_OVFL) {
            std::uint32_t drops;
            std::memcpy(&drops, CMSG_DATA(cmsg), sizeof drops);
            packet.drops = static_cast<long>(drops);
        }
    }
}

}  // namespace

Failure CLinuxSocketLayer::SendThroughKernel(const IcmpSocket& sock, std::uint32_t addr, int ifindex,
                                                     std::uint32_t source, const void* data,
                                                     std::size_t length) {
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
    if (::sendmsg(sock.Descriptor(), &msg, 0) != static_cast<ssize_t>(length))
        return ErrnoFailure(errno);
    long discardsAfter = IpOutDiscards();
    if (discardsBefore >= 0 && discardsAfter > discardsBefore)
        return ErrnoFailure(ENOBUFS);
    return {};
}

Result<bool> CLinuxSocketLayer::WaitReadable(const IcmpSocket& sock, std::chrono::microseconds timeout) {
    // poll passes over a negative descriptor instead of failing on it.
    if (!sock)
        return ErrnoFailure(EBADF);
    auto deadline = Now() + timeout;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Now());
        if (left.count() < 0)
            left = std::chrono::nanoseconds(0);
        timespec ts{static_cast<time_t>(left.count() / 1000000000),
                    static_cast<long>(left.count() % 1000000000)};
        // While probes are out, their answers are gathered here so none is lost to a full queue.
        pollfd pfd[2] = {{sock.Descriptor(), POLLIN, 0}, {m_arp ? m_arp->AnswerDescriptor() : -1, POLLIN, 0}};
        int ready = ::ppoll(pfd, pfd[1].fd >= 0 ? 2 : 1, &ts, nullptr);
        if (ready > 0) {
            if (pfd[0].revents & POLLNVAL)
                return ErrnoFailure(EBADF);
            if (pfd[0].revents)
                return true;
            m_arp->GatherWaiting();
            continue;
        }
        if (ready == 0)
            return false;
        if (errno != EINTR)
            return ErrnoFailure(errno);
    }
}

Failure CLinuxSocketLayer::Receive(const IcmpSocket& sock, void* buffer, std::size_t capacity,
                                           ReceivedPacket& packet) {
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
        n = ::recvmsg(sock.Descriptor(), &msg, MSG_TRUNC);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        return ErrnoFailure(errno);
    packet = ReceivedPacket{};
    packet.truncated = (msg.msg_flags & MSG_TRUNC) != 0 || static_cast<std::size_t>(n) > capacity;
    packet.length = static_cast<std::size_t>(n) < capacity ? static_cast<std::size_t>(n) : capacity;
    packet.sourceAddr = src.sin_addr.s_addr;
    ReadControl(msg, packet);
    return {};
}

bool CLinuxSocketLayer::HasPending(const IcmpSocket& sock) {
    pollfd pfd{sock.Descriptor(), POLLIN, 0};
    return ::poll(&pfd, 1, 0) > 0 && (pfd.revents & POLLIN);
}

Failure CLinuxSocketLayer::ReceiveMany(const IcmpSocket& sock, std::uint8_t* buffers,
                                               std::size_t capacity, ReceivedPacket* packets,
                                               std::size_t count, std::size_t& received) {
    // One system call for a whole run of datagrams: at tens of thousands of replies a second,
    // one call each would leave the socket's queue to overflow.
    constexpr std::size_t kControl = CMSG_SPACE(sizeof(in_pktinfo)) + 64;
    std::vector<mmsghdr> messages(count);
    std::vector<iovec> iovs(count);
    std::vector<sockaddr_in> sources(count);
    std::vector<std::array<std::uint8_t, kControl>> controls(count);
    for (std::size_t i = 0; i < count; ++i) {
        iovs[i] = iovec{buffers + i * capacity, capacity};
        msghdr& msg = messages[i].msg_hdr;
        msg = msghdr{};
        msg.msg_name = &sources[i];
        msg.msg_namelen = sizeof sources[i];
        msg.msg_iov = &iovs[i];
        msg.msg_iovlen = 1;
        msg.msg_control = controls[i].data();
        msg.msg_controllen = kControl;
    }
    received = 0;
    int n;
    do {
        // MSG_TRUNC makes a raw socket report each datagram's real length.
        n = ::recvmmsg(sock.Descriptor(), messages.data(), static_cast<unsigned>(count), MSG_DONTWAIT | MSG_TRUNC,
                       nullptr);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK ? Failure() : ErrnoFailure(errno);
    for (int k = 0; k < n; ++k) {
        msghdr& msg = messages[k].msg_hdr;
        const std::size_t length = messages[k].msg_len;
        ReceivedPacket& packet = packets[k];
        packet = ReceivedPacket{};
        packet.truncated = (msg.msg_flags & MSG_TRUNC) != 0 || length > capacity;
        packet.length = length < capacity ? length : capacity;
        packet.sourceAddr = sources[k].sin_addr.s_addr;
        ReadControl(msg, packet);
    }
    received = static_cast<std::size_t>(n);
    return {};
}

long CLinuxSocketLayer::ReceiveDrops(const IcmpSocket& sock) {
    // The same counter SO_RXQ_OVFL stamps on each datagram, read without one.
    std::uint32_t meminfo[SK_MEMINFO_VARS] = {};
    socklen_t length = sizeof meminfo;
    if (::getsockopt(sock.Descriptor(), SOL_SOCKET, SO_MEMINFO, meminfo, &length) != 0 ||
        length <= SK_MEMINFO_DROPS * sizeof meminfo[0])
        return -1;
    return static_cast<long>(meminfo[SK_MEMINFO_DROPS]);
}
