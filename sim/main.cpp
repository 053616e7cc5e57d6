// orvalink-sim: simulated Orvalink devices on one Ethernet interface of a test network.
// Every device has its own IPv4 and hardware address; the program speaks for all of them through
// one packet socket: it answers ARP for their addresses, answers discover requests with marked
// router advertisements and records every other marked solicitation (the locate request).
// With --relay-from/--relay-to it is instead a router's helper that repeats discover broadcasts
// onto the far subnet, since routers never forward the limited broadcast.
#include <net/if.h>
#include <netpacket/packet.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <arpa/inet.h>
#include <net/ethernet.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "SimOptions.h"
#include "SimProtocol.h"
#include "base/UniqueFd.h"

using namespace sim;
using Clock = std::chrono::steady_clock;

namespace {

volatile sig_atomic_t g_stop = 0;
// The signal mask while waiting for frames: the stop signals are blocked everywhere else, so one
// that comes just before a wait ends that wait instead of going unnoticed until the next frame.
sigset_t g_waitMask;

void OnSignal(int) {
    g_stop = 1;
}

// poll on one descriptor, open to the stop signals; timeoutMs < 0 waits without a bound.
int WaitForInput(int fd, int timeoutMs) {
    pollfd pfd{fd, POLLIN, 0};
    timespec ts{timeoutMs / 1000, (timeoutMs % 1000) * 1000000L};
    return ::ppoll(&pfd, 1, timeoutMs < 0 ? nullptr : &ts, &g_waitMask);
}

struct Link {
    UniqueFd fd;
    int ifindex = 0;
    Mac mac{};
};

bool OpenLink(const std::string& name, std::uint16_t protocol, Link& link) {
    link.ifindex = static_cast<int>(if_nametoindex(name.c_str()));
    if (link.ifindex == 0) {
        std::fprintf(stderr, "orvalink-sim: no interface %s\n", name.c_str());
        return false;
    }
    ifreq req{};
    std::snprintf(req.ifr_name, sizeof req.ifr_name, "%s", name.c_str());
    link.fd.reset(::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(protocol)));
    const int fd = link.fd.get();
    if (fd < 0 || ::ioctl(fd, SIOCGIFHWADDR, &req) != 0) {
        std::fprintf(stderr, "orvalink-sim: packet socket on %s: %s\n", name.c_str(), std::strerror(errno));
        return false;
    }
    std::memcpy(link.mac.data(), req.ifr_hwaddr.sa_data, 6);
    int size = 8 * 1024 * 1024;
    for (auto [force, ask] : {std::pair{SO_RCVBUFFORCE, SO_RCVBUF}, {SO_SNDBUFFORCE, SO_SNDBUF}})
        if (::setsockopt(fd, SOL_SOCKET, force, &size, sizeof size) != 0)
            ::setsockopt(fd, SOL_SOCKET, ask, &size, sizeof size);
    // A device does not hear itself: tens of thousands of its own answers would fill the queue and
    // crowd out the requests it must answer (kernel 4.20 on; before, ReceiveFrame skips them).
    int on = 1;
    ::setsockopt(fd, SOL_PACKET, PACKET_IGNORE_OUTGOING, &on, sizeof on);
    sockaddr_ll addr{};
    addr.sll_family = AF_PACKET;
    addr.sll_protocol = htons(protocol);
    addr.sll_ifindex = link.ifindex;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        std::fprintf(stderr, "orvalink-sim: bind to %s: %s\n", name.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

void SendFrame(const Link& link, const Bytes& frame) {
    sockaddr_ll to{};
    to.sll_family = AF_PACKET;
    to.sll_ifindex = link.ifindex;
    to.sll_halen = 6;
    std::memcpy(to.sll_addr, frame.data(), 6);
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (::sendto(link.fd.get(), frame.data(), frame.size(), 0, reinterpret_cast<sockaddr*>(&to),
                     sizeof to) >= 0)
            return;
        if (errno != ENOBUFS && errno != EAGAIN && errno != EINTR)
            break;
        pollfd pfd{link.fd.get(), POLLOUT, 0};
        ::poll(&pfd, 1, 10);  // the queue drains; try again
    }
    std::fprintf(stderr, "orvalink-sim: send failed: %s\n", std::strerror(errno));
}

// Writes text to the file at path (fopen's mode), when a path is given and the file opens.
void WriteTo(const std::string& path, const char* mode, const std::string& text) {
    if (FILE* f = path.empty() ? nullptr : std::fopen(path.c_str(), mode)) {
        std::fputs(text.c_str(), f);
        std::fclose(f);
    }
}

// Receives one frame into buffer; false when nothing (more) is there. Our own outgoing frames
// come back empty.
bool ReceiveFrame(const Link& link, std::span<std::uint8_t> buffer, ByteView& frame) {
    sockaddr_ll from{};
    socklen_t fromLength = sizeof from;
    ssize_t n = ::recvfrom(link.fd.get(), buffer.data(), buffer.size(), MSG_DONTWAIT,
                           reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n < 0)
        return false;
    frame = buffer.first(from.sll_pkttype == PACKET_OUTGOING ? 0 : static_cast<std::size_t>(n));
    return true;
}

int RunRelay(const Options& o) {
    Link in, out;
    if (!OpenLink(o.relayFrom, ETH_P_IP, in) || !OpenLink(o.relayTo, ETH_P_IP, out))
        return 1;
    WriteTo(o.readyPath, "w", "ready\n");
    static std::uint8_t buffer[65536];
    while (!g_stop) {
        if (WaitForInput(in.fd.get(), -1) <= 0)
            continue;
        ByteView received;
        while (ReceiveFrame(in, buffer, received)) {
            auto packet = ParseIcmp(received);
            if (!packet || packet->dstIp != kLimitedBroadcast || !IsMarkedSolicitation(packet->icmp))
                continue;
            Bytes frame = ForwardFrame(received, out.mac, kBroadcastMac);
            if (!frame.empty())
                SendFrame(out, frame);
        }
    }
    return 0;
}

// Frames sent before the input is read again.
constexpr int kSendBurst = 256;

int RunDevices(const Options& o) {
    Link link;
    if (!OpenLink(o.interface, ETH_P_ALL, link))
        return 1;
    FILE* record = nullptr;
    if (o.recordPath == "-")
        record = stdout;
    else if (!o.recordPath.empty() && !(record = std::fopen(o.recordPath.c_str(), "a"))) {
        std::fprintf(stderr, "orvalink-sim: cannot open %s: %s\n", o.recordPath.c_str(),
                     std::strerror(errno));
        return 1;
    }
    std::map<std::uint32_t, const Device*> byIp;
    for (const Device& d : o.devices)
        byIp[d.ip] = &d;
    const std::uint32_t mask = o.prefixLength >= 32 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> o.prefixLength);

    // Frames due at a time, in order queued; those marked true are answers sent again every
    // --repeat milliseconds.
    std::multimap<Clock::time_point, std::pair<Bytes, bool>> pending;
    long sentReplies = 0;                             // frames sent since the last report
    WriteTo(o.readyPath, "w", "ready\n");
    static std::uint8_t buffer[65536];
    while (!g_stop) {
        int timeout = -1;
        if (!pending.empty()) {
            auto wait =
                std::chrono::ceil<std::chrono::milliseconds>(pending.begin()->first - Clock::now()).count();
            timeout = wait < 0 ? 0 : static_cast<int>(wait);
        }
        WaitForInput(link.fd.get(), timeout);

        ByteView received;
        while (ReceiveFrame(link, buffer, received)) {
            if (received.empty())
                continue;
            if (auto arp = ParseArp(received)) {
                auto it = byIp.find(arp->targetIp);
                if (arp->op == 1 && it != byIp.end() && o.answerArp)
                    SendFrame(link, BuildArpFrame(2, it->second->mac, it->second->ip, arp->senderMac,
                                                  arp->senderIp));
                continue;
            }
            auto packet = ParseIcmp(received);
            if (!packet || !IsMarkedSolicitation(packet->icmp))
                continue;
            bool broadcast = packet->dstIp == kLimitedBroadcast;
            if (!broadcast && !byIp.count(packet->dstIp))
                continue;
            if (!IsDiscoverRequest(packet->icmp)) {
                if (record) {
                    std::fprintf(record, "%s\n", FormatHex(packet->icmp).c_str());
                    std::fflush(record);
                }
                continue;
            }
            auto now = Clock::now();
            for (const Device& d : o.devices) {
                if (!broadcast && d.ip != packet->dstIp)
                    continue;
                if (o.arpFirst) {
                    // A device asks for the requester's address before it answers; the requester
                    // then already has a neighbour entry for the device.
                    bool onLink = (packet->srcIp & mask) == (d.ip & mask);
                    std::uint32_t hop = onLink || !o.gateway ? packet->srcIp : o.gateway;
                    pending.emplace(now, std::pair{BuildArpFrame(1, d.mac, d.ip, Mac{}, hop), false});
                }
                Bytes reply = BuildAdvertisement(d.ip, o.marked, o.extra);
                Bytes frame = o.zeroSource
                                  ? BuildIcmpFrame(d.mac, kBroadcastMac, 0, kLimitedBroadcast, 64, reply)
                                  : BuildIcmpFrame(d.mac, packet->srcMac, d.ip, packet->srcIp, 64, reply);
                if (!o.ipOptions.empty())
                    frame = WithIpOptions(frame, o.ipOptions);
                for (int c = 0; c < o.copies; ++c)
                    pending.emplace(now + std::chrono::milliseconds(o.delayMs), std::pair{frame, o.repeatMs > 0});
            }
        }
        auto now = Clock::now();
        bool sentSome = false;
        // A burst at a time, then back to reading: thousands of devices answering at once must not
        // keep any one of them from answering an ARP request, as separate devices would not.
        int burst = 0;
        while (!pending.empty() && pending.begin()->first <= now && burst++ < kSendBurst) {
            SendFrame(link, pending.begin()->second.first);
            if (pending.begin()->second.second)
                pending.emplace(now + std::chrono::milliseconds(o.repeatMs), std::move(pending.begin()->second));
            pending.erase(pending.begin());
            sentSome = true;
            ++sentReplies;
        }
        if (sentSome && pending.empty() && !o.reportPath.empty()) {
            auto wall = std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
            WriteTo(o.reportPath, "a",
                    "frames " + std::to_string(sentReplies) + " last-ns " + std::to_string(wall) + "\n");
            sentReplies = 0;
        }
    }
    if (record && record != stdout)
        std::fclose(record);
    return 0;
}

// True when this process shares the network namespace of PID 1, the machine's real network.
bool InInitialNetworkNamespace() {
    // The kernel's own first network namespace always has this inode number.
    constexpr ino_t kInitialNetNamespace = 0xF0000000u - 7;
    struct stat self {
    }, init{};
    if (::stat("/proc/self/ns/net", &self) != 0)
        return true;  // cannot tell: assume the worst
    if (self.st_ino == kInitialNetNamespace)
        return true;
    // In a container, its PID 1 holds the container's real network.
    return ::stat("/proc/1/ns/net", &init) == 0 && self.st_dev == init.st_dev && self.st_ino == init.st_ino;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    bool help = false;
    const std::string problem = ParseOptions(argc, argv, o, help);
    if (help || !problem.empty())
        return Usage(problem, help ? stdout : stderr);
    // Simulated devices answer broadcasts and send ARP: they belong on a test network only.
    if (InInitialNetworkNamespace()) {
        std::fprintf(stderr,
                     "orvalink-sim: refusing to run in the machine's own network namespace; "
                     "run it inside a test namespace (see scripts/netns-lib.sh)\n");
        return 1;
    }
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    sigprocmask(SIG_BLOCK, &stops, &g_waitMask);
    sigdelset(&g_waitMask, SIGTERM);
    sigdelset(&g_waitMask, SIGINT);
    return o.relayFrom.empty() ? RunDevices(o) : RunRelay(o);
}
