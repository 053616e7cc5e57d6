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
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "SimProtocol.h"
#include "platform/UniqueFd.h"

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

struct Device {
    std::uint32_t ip = 0;
    Mac mac{};
};

struct Options {
    std::string interface;
    std::vector<Device> devices;
    Bytes extra;
    bool marked = true;
    bool arpFirst = true;
    bool answerArp = true;
    int delayMs = 0;
    int copies = 1;
    int prefixLength = 24;
    Bytes ipOptions;
    bool zeroSource = false;
    std::uint32_t gateway = 0;
    std::string recordPath;
    std::string readyPath;
    std::string reportPath;
    std::string relayFrom, relayTo;
};

const char kUsage[] =
    "usage: orvalink-sim --interface IF (--device IP[,MAC] | --devices FIRST-IP COUNT)... [options]\n"
    "       orvalink-sim --relay-from IF --relay-to IF [--ready FILE]\n"
    "Simulates Orvalink devices on an Ethernet interface. Run it only inside a test network\n"
    "namespace: it answers broadcasts for every address it is given.\n"
    "  --device IP[,MAC]      one device (MAC defaults to 02:00 and the four address bytes)\n"
    "  --devices IP COUNT     COUNT devices with consecutive addresses from IP\n"
    "  --type TEXT            extra data carries \"type:TEXT\\n\"\n"
    "  --build TEXT           extra data carries \"build:TEXT\\n\" (after the type)\n"
    "  --extra TEXT           extra data as given, with \\n \\r \\t \\\\ \\0 \\xHH escapes\n"
    "  --extra-hex HEX        extra data as raw bytes\n"
    "  --no-extra             no extra data at all (a 36-byte reply)\n"
    "  --unmarked             answer with a standard, unmarked router advertisement\n"
    "  --delay MS             wait MS milliseconds before answering\n"
    "  --duplicate            answer every discover request twice\n"
    "  --copies N             answer every discover request N times\n"
    "  --no-arp-first         answer without asking for the requester's address first\n"
    "  --no-arp               never take part in ARP (neither ask nor answer): addresses that\n"
    "                         answer discover requests but nobody holds\n"
    "  --ip-options HEX       IP options in the header of every answer (a multiple of 4 bytes)\n"
    "  --zero-source          answer from 0.0.0.0 to 255.255.255.255, as no real device can\n"
    "  --gateway IP           next hop for requesters outside the device subnet\n"
    "  --prefix-length N      device subnet prefix length (default 24)\n"
    "  --record FILE|-        append every other marked solicitation, hex, one line each\n"
    "  --ready FILE           write \"ready\" to FILE (e.g. a FIFO) once listening\n"
    "  --report FILE          append \"frames N last-ns T\" (wall clock) once all answers to a\n"
    "                         request are out, for benchmarks\n";

[[noreturn]] void Usage(const char* problem) {
    if (problem)
        std::fprintf(stderr, "orvalink-sim: %s\n", problem);
    std::fputs(kUsage, problem ? stderr : stdout);
    std::exit(problem ? 2 : 0);
}

Mac DefaultMac(std::uint32_t ip) {
    return Mac{
        0x02, 0x00, std::uint8_t(ip >> 24), std::uint8_t(ip >> 16), std::uint8_t(ip >> 8), std::uint8_t(ip)};
}

int ParseCount(const char* text, int low, int high, const char* what) {
    const char* end = text + std::strlen(text);
    int v = 0;
    auto [stop, error] = std::from_chars(text, end, v);
    if (error != std::errc{} || stop != end || v < low || v > high) {
        std::string problem = std::string("bad ") + what + ": " + text;
        Usage(problem.c_str());
    }
    return static_cast<int>(v);
}

Options ParseOptions(int argc, char** argv) {
    Options o;
    std::string type, build;
    bool haveType = false, haveBuild = false, haveRaw = false;
    auto need = [&](int& i, int n) {
        if (i + n >= argc)
            Usage((std::string(argv[i]) + " needs an argument").c_str());
    };
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            Usage(nullptr);
        } else if (a == "--interface") {
            need(i, 1);
            o.interface = argv[++i];
        } else if (a == "--device") {
            need(i, 1);
            std::string device = argv[++i];
            auto comma = device.find(',');
            auto ip = ParseIp(device.substr(0, comma));
            if (!ip)
                Usage(("bad device address: " + device).c_str());
            Device d{*ip, DefaultMac(*ip)};
            if (comma != std::string::npos) {
                auto mac = ParseMac(device.substr(comma + 1));
                if (!mac)
                    Usage(("bad device hardware address: " + device).c_str());
                d.mac = *mac;
            }
            o.devices.push_back(d);
        } else if (a == "--devices") {
            need(i, 2);
            auto ip = ParseIp(argv[++i]);
            if (!ip)
                Usage("bad first device address");
            int count = ParseCount(argv[++i], 1, 65000, "device count");
            for (int k = 0; k < count; ++k)
                o.devices.push_back(Device{*ip + std::uint32_t(k), DefaultMac(*ip + std::uint32_t(k))});
        } else if (a == "--type") {
            need(i, 1);
            type = argv[++i];
            haveType = true;
        } else if (a == "--build") {
            need(i, 1);
            build = argv[++i];
            haveBuild = true;
        } else if (a == "--extra") {
            need(i, 1);
            auto bytes = Unescape(argv[++i]);
            if (!bytes)
                Usage("bad escape in --extra");
            o.extra = *bytes;
            haveRaw = true;
        } else if (a == "--extra-hex") {
            need(i, 1);
            auto bytes = ParseHex(argv[++i]);
            if (!bytes)
                Usage("bad hex in --extra-hex");
            o.extra = *bytes;
            haveRaw = true;
        } else if (a == "--no-extra") {
            o.extra.clear();
            haveRaw = true;
        } else if (a == "--unmarked") {
            o.marked = false;
        } else if (a == "--no-arp-first") {
            o.arpFirst = false;
        } else if (a == "--no-arp") {
            o.arpFirst = false;
            o.answerArp = false;
        } else if (a == "--ip-options") {
            need(i, 1);
            auto bytes = ParseHex(argv[++i]);
            if (!bytes || bytes->size() % 4 != 0 || bytes->size() > 40)
                Usage("bad --ip-options (hex, a multiple of 4 bytes, at most 40)");
            o.ipOptions = *bytes;
        } else if (a == "--zero-source") {
            o.zeroSource = true;
        } else if (a == "--delay") {
            need(i, 1);
            o.delayMs = ParseCount(argv[++i], 0, 600000, "delay");
        } else if (a == "--duplicate") {
            o.copies = 2;
        } else if (a == "--copies") {
            need(i, 1);
            o.copies = ParseCount(argv[++i], 1, 100, "copies");
        } else if (a == "--gateway") {
            need(i, 1);
            auto ip = ParseIp(argv[++i]);
            if (!ip)
                Usage("bad gateway address");
            o.gateway = *ip;
        } else if (a == "--prefix-length") {
            need(i, 1);
            o.prefixLength = ParseCount(argv[++i], 1, 32, "prefix length");
        } else if (a == "--record") {
            need(i, 1);
            o.recordPath = argv[++i];
        } else if (a == "--ready") {
            need(i, 1);
            o.readyPath = argv[++i];
        } else if (a == "--report") {
            need(i, 1);
            o.reportPath = argv[++i];
        } else if (a == "--relay-from") {
            need(i, 1);
            o.relayFrom = argv[++i];
        } else if (a == "--relay-to") {
            need(i, 1);
            o.relayTo = argv[++i];
        } else {
            Usage(("unknown argument: " + a).c_str());
        }
    }
    if (!o.relayFrom.empty() || !o.relayTo.empty()) {
        if (o.relayFrom.empty() || o.relayTo.empty())
            Usage("--relay-from and --relay-to go together");
        return o;
    }
    if (o.interface.empty() || o.devices.empty())
        Usage("an interface and at least one device are needed");
    if (haveRaw && (haveType || haveBuild))
        Usage("--type/--build and --extra/--extra-hex/--no-extra exclude each other");
    if (!haveRaw) {
        std::string text;
        if (!haveType && !haveBuild) {
            type = "OL-SIM";
            build = "1.0";
            haveType = haveBuild = true;
        }
        if (haveType)
            text += "type:" + type + "\n";
        if (haveBuild)
            text += "build:" + build + "\n";
        o.extra.assign(text.begin(), text.end());
    }
    return o;
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
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    if (::setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &size, sizeof size) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
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

void SignalReady(const std::string& path) {
    if (path.empty())
        return;
    FILE* f = std::fopen(path.c_str(), "w");
    if (f) {
        std::fputs("ready\n", f);
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
    SignalReady(o.readyPath);
    const Mac broadcast{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    static std::uint8_t buffer[65536];
    while (!g_stop) {
        if (WaitForInput(in.fd.get(), -1) <= 0)
            continue;
        ByteView received;
        while (ReceiveFrame(in, buffer, received)) {
            auto packet = ParseIcmp(received);
            if (!packet || packet->dstIp != kLimitedBroadcast || !IsMarkedSolicitation(packet->icmp))
                continue;
            Bytes frame = ForwardFrame(received, out.mac, broadcast);
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

    std::multimap<Clock::time_point, Bytes> pending;  // frames due at a time, in order queued
    long sentReplies = 0;                             // frames sent since the last report
    SignalReady(o.readyPath);
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
                    pending.emplace(now, BuildArpFrame(1, d.mac, d.ip, Mac{}, hop));
                }
                Bytes reply = BuildAdvertisement(d.ip, o.marked, o.extra);
                const Mac everyone{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
                Bytes frame = o.zeroSource
                                  ? BuildIcmpFrame(d.mac, everyone, 0, kLimitedBroadcast, 64, reply)
                                  : BuildIcmpFrame(d.mac, packet->srcMac, d.ip, packet->srcIp, 64, reply);
                if (!o.ipOptions.empty())
                    frame = WithIpOptions(frame, o.ipOptions);
                for (int c = 0; c < o.copies; ++c)
                    pending.emplace(now + std::chrono::milliseconds(o.delayMs), frame);
            }
        }
        auto now = Clock::now();
        bool sentSome = false;
        // A burst at a time, then back to reading: thousands of devices answering at once must not
        // keep any one of them from answering an ARP request, as separate devices would not.
        int burst = 0;
        while (!pending.empty() && pending.begin()->first <= now && burst++ < kSendBurst) {
            SendFrame(link, pending.begin()->second);
            pending.erase(pending.begin());
            sentSome = true;
            ++sentReplies;
        }
        if (sentSome && pending.empty() && !o.reportPath.empty()) {
            auto wall = std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
            if (FILE* report = std::fopen(o.reportPath.c_str(), "a")) {
                std::fprintf(report, "frames %ld last-ns %lld\n", sentReplies, static_cast<long long>(wall));
                std::fclose(report);
            }
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
    Options o = ParseOptions(argc, argv);
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
