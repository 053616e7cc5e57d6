// The Linux socket layer against a real kernel, inside a private network namespace that this
// process makes for itself (unshare) and that ends with it: nothing reaches the machine's network.
#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/filter.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <netpacket/packet.h>
#include <poll.h>
#include <sched.h>
#include <sys/capability.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "net/LinuxSocketLayer.h"
#include "net/Netlink.h"
#include "net/Privileges.h"
#include "net/UniqueCaps.h"
#include "base/UniqueFd.h"

namespace {

bool g_isolated = false;
std::string g_skipReason;

// Runs before any test thread exists, so every thread lives in the new namespace.
class PrivateNetwork : public ::testing::Environment {
public:
    void SetUp() override {
        if (geteuid() != 0) {
            g_skipReason = "needs root to make a private network namespace";
            return;
        }
        if (::unshare(CLONE_NEWNET) != 0) {
            g_skipReason = std::string("unshare(CLONE_NEWNET) failed: ") + std::strerror(errno);
            return;
        }
        g_isolated = true;
        // v0 is ours (10.9.0.1/24); v1 is the wire's other end, where the tests listen and answer.
        const char* setup =
            "ip link set lo up && "
            "ip link add v0 type veth peer name v1 && "
            "ip addr add 10.9.0.1/24 dev v0 && "
            "ip link set v0 up && ip link set v1 up && "
            "ip route add 10.50.0.0/24 via 10.9.0.2 && "
            "ip neigh add 10.9.0.7 lladdr 02:00:00:00:00:07 dev v0 nud permanent && "
            "ip neigh add 10.9.0.8 lladdr 02:00:00:00:00:08 dev v0 nud stale && "
            "ip neigh add 10.9.0.9 dev v0 nud failed";
        if (std::system(setup) != 0) {
            g_isolated = false;
            g_skipReason = "could not build the test network (ip)";
        }
    }
};

const auto* g_env = ::testing::AddGlobalTestEnvironment(new PrivateNetwork);

#define REQUIRE_NAMESPACE()               \
    do {                                  \
        if (!g_isolated)                  \
            GTEST_SKIP() << g_skipReason; \
    } while (0)

std::uint32_t Ip(const char* text) {
    return inet_addr(text);
}

// The program opens its sockets at the top of main and gives up every capability there; here on a
// thread of its own, so that the test's main thread keeps its rights for the next test.
RawSockets OpenOnOwnThread() {
    RawSockets opened;
    std::thread([&] { opened = OpenRawSockets(); }).join();
    if (opened.icmpFailure || opened.dropFailure)
        ADD_FAILURE() << "opening the raw socket: " << opened.icmpFailure.code.message()
                      << ", dropping: " << opened.dropFailure.code.message();
    return opened;
}

// What main makes of the opened sockets: the resolver with the packet socket, the layer with the
// raw one, sending its frames on the resolver's.
struct LinuxNet {
    explicit LinuxNet(RawSockets sockets)
        : arp(std::make_shared<CLinuxArpResolver>(std::move(sockets.link))), layer(std::move(sockets), arp) {}
    std::shared_ptr<CLinuxArpResolver> arp;
    CLinuxSocketLayer layer;
};

// The raw socket the layer hands over.
IcmpSocket TakeIcmp(CLinuxSocketLayer& layer) {
    Result<IcmpSocket> sock = layer.OpenRawIcmp();
    if (!sock) {
        ADD_FAILURE() << "taking the raw socket: " << sock.Error().code.message();
        return IcmpSocket();
    }
    return std::move(*sock);
}

std::vector<std::uint8_t> EchoRequest(std::size_t payload) {
    std::vector<std::uint8_t> m(8 + payload, 0x5A);
    m[0] = ICMP_ECHO;
    m[1] = 0;
    m[2] = m[3] = 0;
    m[4] = 0x12;
    m[5] = 0x34;
    m[6] = m[7] = 0;
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < m.size(); i += 2)
        sum += std::uint32_t(m[i]) << 8 | m[i + 1];
    if (m.size() & 1)
        sum += std::uint32_t(m.back()) << 8;
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    sum = ~sum & 0xFFFF;
    m[2] = static_cast<std::uint8_t>(sum >> 8);
    m[3] = static_cast<std::uint8_t>(sum);
    return m;
}

// A packet socket on v1, the far end of the wire.
class WireEnd {
public:
    WireEnd() {
        m_fd = ::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_ARP));
        sockaddr_ll addr{};
        addr.sll_family = AF_PACKET;
        addr.sll_protocol = htons(ETH_P_ARP);
        addr.sll_ifindex = static_cast<int>(if_nametoindex("v1"));
        m_ifindex = addr.sll_ifindex;
        if (m_fd >= 0)
            ::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    }
    ~WireEnd() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    // The next ARP request seen within the bound, or empty.
    std::vector<std::uint8_t> NextArpRequest(int timeoutMs, sockaddr_ll* from = nullptr) {
        for (;;) {
            pollfd pfd{m_fd, POLLIN, 0};
            if (::poll(&pfd, 1, timeoutMs) <= 0)
                return {};
            std::uint8_t buf[128];
            sockaddr_ll src{};
            socklen_t len = sizeof src;
            ssize_t n = ::recvfrom(m_fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&src), &len);
            if (n >= 28 && buf[7] == 1 && src.sll_pkttype != PACKET_OUTGOING) {
                if (from)
                    *from = src;
                return std::vector<std::uint8_t>(buf, buf + n);
            }
        }
    }
    void Answer(const std::vector<std::uint8_t>& request, const sockaddr_ll& from,
                const std::uint8_t mac[6]) {
        std::vector<std::uint8_t> reply(28);
        std::memcpy(reply.data(), request.data(), 6);
        reply[6] = 0;
        reply[7] = 2;
        std::memcpy(&reply[8], mac, 6);  // sender: the device
        std::memcpy(&reply[14], &request[24], 4);
        std::memcpy(&reply[18], &request[8], 6);  // target: the asker
        std::memcpy(&reply[24], &request[14], 4);
        sockaddr_ll to{};
        to.sll_family = AF_PACKET;
        to.sll_protocol = htons(ETH_P_ARP);
        to.sll_ifindex = m_ifindex;
        to.sll_halen = 6;
        std::memcpy(to.sll_addr, from.sll_addr, 6);
        ::sendto(m_fd, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }

private:
    int m_fd = -1;
    int m_ifindex = 0;
};

}  // namespace

TEST(LinuxSocketLayer, OversizeDatagramIsFlaggedWithLengthCapped) {
    REQUIRE_NAMESPACE();
    LinuxNet net(OpenOnOwnThread());
    CLinuxSocketLayer& layer = net.layer;
    IcmpSocket sock = TakeIcmp(layer);
    ASSERT_TRUE(sock);
    EXPECT_FALSE(layer.HasPending(sock));
    const Result<bool> quiet = layer.WaitReadable(sock, std::chrono::microseconds(1000));
    ASSERT_TRUE(quiet) << quiet.Error().code.message();
    EXPECT_FALSE(*quiet);

    auto big = EchoRequest(3000);
    ASSERT_FALSE(layer.SendTo(sock, Ip("127.0.0.1"), big.data(), big.size()));
    ASSERT_TRUE(*layer.WaitReadable(sock, std::chrono::seconds(2)));
    EXPECT_TRUE(layer.HasPending(sock));
    std::vector<std::uint8_t> buffer(2048 + 16, 0xEE);
    ReceivedPacket packet;
    ASSERT_FALSE(layer.Receive(sock, buffer.data(), 2048, packet));
    EXPECT_TRUE(packet.truncated);
    EXPECT_EQ(packet.length, 2048u);
    EXPECT_EQ(buffer[2048], 0xEE);  // nothing written past the capacity
    EXPECT_EQ(packet.sourceAddr, Ip("127.0.0.1"));
    EXPECT_EQ(packet.ifindex, static_cast<int>(if_nametoindex("lo")));

    // A small one after it is whole and exact (the kernel's echo reply to the big one may come
    // first; skip oversize packets).
    auto small = EchoRequest(12);
    ASSERT_FALSE(layer.SendTo(sock, Ip("127.0.0.1"), small.data(), small.size()));
    bool sawSmall = false;
    for (int i = 0; i < 4 && !sawSmall; ++i) {
        ASSERT_TRUE(*layer.WaitReadable(sock, std::chrono::seconds(2)));
        ASSERT_FALSE(layer.Receive(sock, buffer.data(), 2048, packet));
        if (!packet.truncated) {
            sawSmall = true;
            EXPECT_EQ(packet.length, 20 + small.size());
        }
    }
    EXPECT_TRUE(sawSmall);
}

TEST(LinuxSocketLayer, SocketAtDescriptorZeroIsASocket) {
    REQUIRE_NAMESPACE();
    // A program started with standard input closed: descriptor 0 is the lowest free one.
    int saved = ::fcntl(0, F_DUPFD_CLOEXEC, 3);
    ::close(0);
    LinuxNet net(OpenOnOwnThread());
    CLinuxSocketLayer& layer = net.layer;
    bool opened = false, closeOnExec = false, closedWithIt = false;
    {
        IcmpSocket sock = TakeIcmp(layer);
        opened = static_cast<bool>(sock);
        closeOnExec = sock && (::fcntl(sock.Descriptor(), F_GETFD) & FD_CLOEXEC) != 0;
        EXPECT_TRUE(layer.WaitReadable(sock, std::chrono::microseconds(0)))
            << "a socket at descriptor 0 is used, not taken for none";
    }
    closedWithIt = ::fcntl(0, F_GETFD) < 0;
    if (saved >= 0) {
        ::dup2(saved, 0);
        ::close(saved);
    }
    EXPECT_TRUE(opened);
    EXPECT_TRUE(closeOnExec);
    EXPECT_TRUE(closedWithIt) << "the socket closes when its owner goes";
}

bool ThreadHoldsAnyCapability() {
    UniqueCaps caps(cap_get_proc()), none(cap_init());
    return cap_compare(caps.get(), none.get()) != 0;
}

TEST(LinuxSocketLayer, PreparedSocketsLeaveNoThreadPrivileged) {
    REQUIRE_NAMESPACE();
    // In a child, which is single-threaded as the program is at the top of main.
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        RawSockets opened = OpenRawSockets();
        if (opened.dropFailure)
            ::_exit(9);
        if (ThreadHoldsAnyCapability())
            ::_exit(10);
        bool laterThreadHolds = true;
        std::thread([&] { laterThreadHolds = ThreadHoldsAnyCapability(); }).join();
        if (laterThreadHolds)
            ::_exit(11);
        // Opening again in the same process: no privilege is left to make another, and giving up
        // none is no error.
        RawSockets again = OpenRawSockets();
        if (again.dropFailure || again.icmp || again.icmpFailure.code != std::errc::operation_not_permitted)
            ::_exit(14);
        CLinuxSocketLayer worker(std::move(opened), nullptr);
        if (!worker.RawIcmpOpened())
            ::_exit(12);
        IcmpSocket sock;
        std::thread([&] {
            if (Result<IcmpSocket> taken = worker.OpenRawIcmp())
                sock = std::move(*taken);
        }).join();
        int type = 0;
        socklen_t typeLength = sizeof type;
        if (!sock || ::getsockopt(sock.Descriptor(), SOL_SOCKET, SO_TYPE, &type, &typeLength) != 0 ||
            type != SOCK_RAW)
            ::_exit(13);
        // Taken once, as a worker started again after a stop finds it.
        if (worker.OpenRawIcmp().Error().code != std::errc::operation_not_permitted ||
            !worker.RawIcmpOpened())
            ::_exit(14);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << "9: drop reported failed, 10: main thread privileged, 11: later thread privileged, "
           "12: opening forgotten, 13: no opened socket, 14: second open";
}

// The next IPv4 frame seen on v1 within the bound: its destination hardware address and the
// IPv4 packet, or an empty packet.
std::vector<std::uint8_t> NextIpFrame(int fd, std::uint8_t destination[6]) {
    for (;;) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 2000) <= 0)
            return {};
        std::uint8_t frame[2048];
        ssize_t n = ::recv(fd, frame, sizeof frame, 0);
        if (n >= 34 && frame[12] == 0x08 && frame[13] == 0x00 && frame[23] == 1) {
            std::memcpy(destination, frame, 6);
            return std::vector<std::uint8_t>(frame + 14, frame + n);
        }
    }
}

int OpenWireIpSocket() {
    int fd = ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ETH_P_IP));
    sockaddr_ll addr{};
    addr.sll_family = AF_PACKET;
    addr.sll_protocol = htons(ETH_P_IP);
    addr.sll_ifindex = static_cast<int>(if_nametoindex("v1"));
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    return fd;
}

TEST(LinuxSocketLayer, RequestsLeaveAsWholeFramesWithTheKernelsHeader) {
    REQUIRE_NAMESPACE();
    LinuxNet net(OpenOnOwnThread());
    CLinuxSocketLayer& layer = net.layer;
    IcmpSocket sock = TakeIcmp(layer);
    ASSERT_TRUE(sock);
    ASSERT_FALSE(layer.EnableBroadcast(sock));
    int wire = OpenWireIpSocket();
    ASSERT_GE(wire, 0);
    const std::uint8_t discover[8] = {0x0A, 0x4A, 0xF6, 0xAE, 0xFE, 0xE4, 0x00, 0x22};
    // No default route and no neighbour entry for the broadcast: the frame goes out anyway.
    ASSERT_EQ(std::system("ip neigh flush nud noarp dev v0 2>/dev/null; true"), 0);
    // Limited to v0, which qualifies anyway: the same frame.
    ASSERT_FALSE(layer.SendBroadcast(sock, discover, sizeof discover, {static_cast<int>(if_nametoindex("v0"))}));
    std::uint8_t destination[6];
    std::vector<std::uint8_t> packet = NextIpFrame(wire, destination);
    const std::uint8_t everyone[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    ASSERT_EQ(packet.size(), 28u);
    EXPECT_EQ(std::memcmp(destination, everyone, 6), 0);
    // 45 00 001C, any id, DF, TTL 64, ICMP, checksum, 10.9.0.1 -> 255.255.255.255, the request.
    const std::uint8_t header[20] = {0x45, 0, 0,  28, 0, 0, 0x40, 0,   64,  1,
                                     0,    0, 10, 9,  0, 1, 255,  255, 255, 255};
    EXPECT_EQ(std::memcmp(packet.data(), header, 4), 0);
    EXPECT_EQ(std::memcmp(packet.data() + 6, header + 6, 4), 0);
    EXPECT_EQ(std::memcmp(packet.data() + 12, header + 12, 8), 0);
    std::uint32_t sum = 0;
    for (int i = 0; i < 20; i += 2)
        sum += std::uint32_t(packet[i]) << 8 | packet[i + 1];
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    EXPECT_EQ(sum, 0xFFFFu) << "IPv4 header checksum";
    EXPECT_EQ(std::memcmp(packet.data() + 20, discover, 8), 0);

    // A unicast request goes to the neighbour's hardware address from the table.
    ASSERT_FALSE(layer.SendTo(sock, Ip("10.9.0.7"), discover, sizeof discover));
    packet = NextIpFrame(wire, destination);
    ASSERT_EQ(packet.size(), 28u);
    const std::uint8_t seven[6] = {0x02, 0, 0, 0, 0, 0x07};
    EXPECT_EQ(std::memcmp(destination, seven, 6), 0);
    EXPECT_EQ(packet[19], 7);
    ::close(wire);
}

TEST(LinuxSocketLayer, BroadcastFailsWithErrnoWhenNoInterfaceQualifies) {
    REQUIRE_NAMESPACE();
    LinuxNet net(OpenOnOwnThread());
    CLinuxSocketLayer& layer = net.layer;
    IcmpSocket sock = TakeIcmp(layer);
    ASSERT_TRUE(sock);
    ASSERT_FALSE(layer.EnableBroadcast(sock));
    const std::uint8_t discover[8] = {0x0A, 0x4A, 0xF6, 0xAE, 0xFE, 0xE4, 0x00, 0x22};
    // Limited to loopback, which never qualifies: v0 up is not used.
    EXPECT_EQ(layer.SendBroadcast(sock, discover, sizeof discover, {static_cast<int>(if_nametoindex("lo"))}).code, std::errc::network_unreachable);
    ASSERT_EQ(std::system("ip link set v0 down"), 0);
    EXPECT_EQ(layer.SendBroadcast(sock, discover, sizeof discover, {}).code, std::errc::network_unreachable);
    // The interface comes back with its routes and neighbours for the other tests.
    ASSERT_EQ(std::system("ip link set v0 up && ip route replace 10.50.0.0/24 via 10.9.0.2 && "
                          "ip neigh replace 10.9.0.7 lladdr 02:00:00:00:00:07 dev v0 nud permanent && "
                          "ip neigh replace 10.9.0.8 lladdr 02:00:00:00:00:08 dev v0 nud stale && "
                          "ip neigh replace 10.9.0.9 dev v0 nud failed"),
              0);
}

TEST(LinuxSocketLayer, ResolvesFromTheNeighbourTable) {
    REQUIRE_NAMESPACE();
    LinuxNet net{RawSockets{}};
    std::uint8_t mac[8];
    std::memset(mac, 0xFF, sizeof mac);
    unsigned length = 6;
    ASSERT_FALSE(net.arp->ResolveHardwareAddress(Ip("10.9.0.7"), 0, mac, &length));
    ASSERT_EQ(length, 6u);
    const std::uint8_t seven[6] = {0x02, 0, 0, 0, 0, 0x07};
    EXPECT_EQ(std::memcmp(mac, seven, 6), 0);
    EXPECT_EQ(mac[6], 0xFF);  // the rest of the caller's buffer is untouched

    length = 6;
    ASSERT_FALSE(net.arp->ResolveHardwareAddress(Ip("10.9.0.8"), 0, mac, &length));  // STALE
    EXPECT_EQ(mac[5], 0x08);

    // A smaller buffer gets only what fits.
    std::memset(mac, 0xFF, sizeof mac);
    length = 4;
    ASSERT_FALSE(net.arp->ResolveHardwareAddress(Ip("10.9.0.7"), 0, mac, &length));
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(mac[4], 0xFF);
}

TEST(LinuxSocketLayer, OffLinkAddressesFailAtOnce) {
    REQUIRE_NAMESPACE();
    LinuxNet net(OpenOnOwnThread());
    CLinuxSocketLayer& layer = net.layer;
    IcmpSocket sock = TakeIcmp(layer);  // the ARP socket exists: a failure here is not for want of it
    ASSERT_TRUE(sock);
    WireEnd wire;
    std::uint8_t mac[8];
    unsigned length = 6;
    EXPECT_TRUE(net.arp->ResolveHardwareAddress(Ip("10.50.0.5"), 0, mac, &length));   // via a gateway
    EXPECT_TRUE(net.arp->ResolveHardwareAddress(Ip("172.16.3.4"), 0, mac, &length));  // no route at all
    EXPECT_TRUE(net.arp->ResolveHardwareAddress(Ip("10.9.0.1"), 0, mac, &length));    // our own address
    // None of them asked the wire.
    EXPECT_TRUE(wire.NextArpRequest(0).empty());
}

TEST(LinuxSocketLayer, UnknownNeighbourIsAskedForByArp) {
    REQUIRE_NAMESPACE();
    LinuxNet net(OpenOnOwnThread());
    CLinuxSocketLayer& layer = net.layer;
    IcmpSocket sock = TakeIcmp(layer);
    ASSERT_TRUE(sock);
    WireEnd wire;
    const std::uint8_t device[6] = {0x02, 0x00, 0x0A, 0x09, 0x00, 0x21};
    std::atomic<bool> asked{false};
    std::vector<std::uint8_t> request;
    std::thread responder([&] {
        sockaddr_ll from{};
        request = wire.NextArpRequest(3000, &from);
        if (!request.empty()) {
            asked = true;
            wire.Answer(request, from, device);
        }
    });
    std::uint8_t mac[8];
    unsigned length = 6;
    const Failure result = net.arp->ResolveHardwareAddress(Ip("10.9.0.33"), 0, mac, &length);
    responder.join();
    ASSERT_TRUE(asked);
    // Who has 10.9.0.33? Tell 10.9.0.1.
    EXPECT_EQ(request[24], 10);
    EXPECT_EQ(request[27], 33);
    EXPECT_EQ(request[14], 10);
    EXPECT_EQ(request[17], 1);
    ASSERT_FALSE(result) << result.code.message();
    EXPECT_EQ(length, 6u);
    EXPECT_EQ(std::memcmp(mac, device, 6), 0);

    // A FAILED entry does not count; the probe runs, and with nobody answering it fails.
    length = 6;
    EXPECT_TRUE(net.arp->ResolveHardwareAddress(Ip("10.9.0.9"), 0, mac, &length));
}

TEST(LinuxSocketLayer, RetiredResolverLeavesTheWaitTheTableAndTheRequestsWorking) {
    REQUIRE_NAMESPACE();
    LinuxNet net(OpenOnOwnThread());
    IcmpSocket sock = TakeIcmp(net.layer);
    ASSERT_TRUE(sock);
    ASSERT_FALSE(net.layer.EnableBroadcast(sock));
    // A probe is out, unanswered, when the packet socket goes.
    std::vector<HardwareRequest> pending(1);
    pending[0].addr = Ip("10.9.0.44");
    pending[0].length = 6;
    net.arp->LookupHardwareAddresses(pending);
    ASSERT_EQ(pending[0].state, HardwareState::Pending);
    net.arp->SendProbes(pending);
    ASSERT_GE(net.arp->AnswerDescriptor(), 0);
    net.arp->Retire();
    EXPECT_EQ(net.arp->AnswerDescriptor(), -1);
    EXPECT_FALSE(net.arp->ReleaseLinkSocket());
    // The wait watches the raw socket alone: its time passes without an error.
    const Result<bool> quiet = net.layer.WaitReadable(sock, std::chrono::microseconds(1000));
    ASSERT_TRUE(quiet) << quiet.Error().code.message();
    EXPECT_FALSE(*quiet);
    // The request asked before fails at once instead of waiting out its deadline.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    net.arp->ProbeHardwareAddresses(pending, deadline);
    EXPECT_EQ(pending[0].state, HardwareState::Failed);
    EXPECT_LT(std::chrono::steady_clock::now(), deadline - std::chrono::seconds(20));
    // The neighbour table still answers.
    std::uint8_t mac[8];
    unsigned length = 6;
    EXPECT_FALSE(net.arp->ResolveHardwareAddress(Ip("10.9.0.7"), 0, mac, &length));
    EXPECT_EQ(mac[5], 0x07);
    // The discover request goes out through the kernel instead of as a frame of its own.
    int wire = OpenWireIpSocket();
    ASSERT_GE(wire, 0);
    const std::uint8_t discover[8] = {0x0A, 0x4A, 0xF6, 0xAE, 0xFE, 0xE4, 0x00, 0x22};
    const int v0 = static_cast<int>(if_nametoindex("v0"));
    EXPECT_FALSE(net.layer.SendBroadcast(sock, discover, sizeof discover, {v0}));
    std::uint8_t destination[6];
    const std::vector<std::uint8_t> packet = NextIpFrame(wire, destination);
    ASSERT_EQ(packet.size(), 28u);
    EXPECT_EQ(std::memcmp(packet.data() + 20, discover, 8), 0);
    ::close(wire);
}

std::array<std::uint8_t, 6> HardwareAddress(const char* name) {
    std::array<std::uint8_t, 6> mac{};
    ifreq req{};
    std::strncpy(req.ifr_name, name, IFNAMSIZ - 1);
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (fd && ::ioctl(fd.get(), SIOCGIFHWADDR, &req) == 0)
        std::memcpy(mac.data(), req.ifr_hwaddr.sa_data, 6);
    return mac;
}

// A whole Ethernet frame: destination, source, type, then an ARP message or an IPv4 packet.
std::vector<std::uint8_t> Frame(const std::array<std::uint8_t, 6>& to, std::uint16_t type,
                                std::uint16_t arpOp, std::uint8_t senderHost) {
    const std::array<std::uint8_t, 6> device{0x02, 0x00, 0x0A, 0x09, 0x00, senderHost};
    std::vector<std::uint8_t> f(to.begin(), to.end());
    f.insert(f.end(), device.begin(), device.end());
    f.push_back(static_cast<std::uint8_t>(type >> 8));
    f.push_back(static_cast<std::uint8_t>(type));
    if (type == ETH_P_ARP) {
        const std::uint8_t arp[8] = {0, 1, 0x08, 0x00, 6, 4, 0, static_cast<std::uint8_t>(arpOp)};
        f.insert(f.end(), arp, arp + 8);
        f.insert(f.end(), device.begin(), device.end());
        const std::uint8_t rest[14] = {10, 9, 0, senderHost, 0, 0, 0, 0, 0, 0, 10, 9, 0, 1};
        f.insert(f.end(), rest, rest + 14);
        std::memcpy(&f[14 + 18], to.data(), 6);
    } else {
        const std::uint8_t ip[20] = {0x45, 0, 0,  28, 0, 0,          0x40, 0, 64, 1,
                                     0,    0, 10, 9,  0, senderHost, 10,   9, 0,  1};
        f.insert(f.end(), ip, ip + 20);
        auto echo = EchoRequest(0);
        f.insert(f.end(), echo.begin(), echo.end());
    }
    f.resize(f.size() < 60 ? 60 : f.size(), 0);  // Ethernet's shortest frame, as a device pads it
    return f;
}

TEST(LinuxSocketLayer, PacketSocketTakesOnlyArpAnswersToUsAndCannotBeWidened) {
    REQUIRE_NAMESPACE();
    LinuxNet net(OpenOnOwnThread());
    CLinuxSocketLayer& layer = net.layer;
    IcmpSocket sock = TakeIcmp(layer);
    ASSERT_TRUE(sock);
    UniqueFd link = net.arp->ReleaseLinkSocket();
    ASSERT_TRUE(link);

    // Code in the process that holds the socket cannot remove, replace or unlock its filter.
    sock_filter everything[] = {BPF_STMT(BPF_RET | BPF_K, 0xFFFF)};
    sock_fprog widened{1, everything};
    int zero = 0, dummy = 0;
    struct Attempt {
        const char* what;
        int option;
        const void* value;
        socklen_t length;
    } attempts[] = {
        {"SO_DETACH_FILTER", SO_DETACH_FILTER, &dummy, sizeof dummy},
        {"SO_ATTACH_FILTER", SO_ATTACH_FILTER, &widened, sizeof widened},
        {"SO_LOCK_FILTER 0", SO_LOCK_FILTER, &zero, sizeof zero},
    };
    for (const Attempt& attempt : attempts) {
        errno = 0;
        EXPECT_EQ(::setsockopt(link.get(), SOL_SOCKET, attempt.option, attempt.value, attempt.length), -1)
            << attempt.what;
        EXPECT_EQ(errno, EPERM) << attempt.what;
    }
    // Bound to every protocol, as a sniffer would; the filter still decides.
    sockaddr_ll all{};
    all.sll_family = AF_PACKET;
    all.sll_protocol = htons(ETH_P_ALL);
    ASSERT_EQ(::bind(link.get(), reinterpret_cast<sockaddr*>(&all), sizeof all), 0) << std::strerror(errno);

    // From the wire's far end: everything a segment carries besides the answers to us.
    UniqueFd wire(::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ETH_P_ALL)));
    ASSERT_TRUE(wire);
    sockaddr_ll v1{};
    v1.sll_family = AF_PACKET;
    v1.sll_protocol = htons(ETH_P_ALL);
    v1.sll_ifindex = static_cast<int>(if_nametoindex("v1"));
    ASSERT_EQ(::bind(wire.get(), reinterpret_cast<sockaddr*>(&v1), sizeof v1), 0);
    const auto us = HardwareAddress("v0");
    const std::array<std::uint8_t, 6> everyone{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    const std::array<std::uint8_t, 6> otherHost{0x02, 0x00, 0x0A, 0x09, 0x00, 0x99};
    struct Sent {
        const char* what;
        std::vector<std::uint8_t> frame;
    } unwanted[] = {
        {"ARP request to everyone", Frame(everyone, ETH_P_ARP, ARPOP_REQUEST, 0x41)},
        {"ARP request to us", Frame(us, ETH_P_ARP, ARPOP_REQUEST, 0x42)},
        {"ARP answer to everyone", Frame(everyone, ETH_P_ARP, ARPOP_REPLY, 0x43)},
        {"ARP answer to another host", Frame(otherHost, ETH_P_ARP, ARPOP_REPLY, 0x44)},
        {"IPv4 to us", Frame(us, ETH_P_IP, 0, 0x45)},
    };
    for (const Sent& sent : unwanted)
        ASSERT_EQ(::send(wire.get(), sent.frame.data(), sent.frame.size(), 0),
                  static_cast<ssize_t>(sent.frame.size()))
            << sent.what;
    // Our own probe, leaving through the socket itself.
    auto probe = netlink::BuildArpRequest(us.data(), Ip("10.9.0.1"), Ip("10.9.0.46"));
    sockaddr_ll out{};
    out.sll_family = AF_PACKET;
    out.sll_protocol = htons(ETH_P_ARP);
    out.sll_ifindex = static_cast<int>(if_nametoindex("v0"));
    out.sll_halen = 6;
    std::memset(out.sll_addr, 0xFF, 6);
    ASSERT_EQ(
        ::sendto(link.get(), probe.data(), probe.size(), 0, reinterpret_cast<sockaddr*>(&out), sizeof out),
        static_cast<ssize_t>(probe.size()));

    // Two answers to us, sent last: each arrives, and nothing sent before them does.
    for (std::uint8_t answerer : {std::uint8_t{0x47}, std::uint8_t{0x48}}) {
        auto answer = Frame(us, ETH_P_ARP, ARPOP_REPLY, answerer);
        ASSERT_EQ(::send(wire.get(), answer.data(), answer.size(), 0), static_cast<ssize_t>(answer.size()));
        pollfd pfd{link.get(), POLLIN, 0};
        ASSERT_EQ(::poll(&pfd, 1, 2000), 1) << "the answer from 10.9.0." << int(answerer) << " never came";
        std::uint8_t message[128];
        ssize_t n = ::recv(link.get(), message, sizeof message, 0);
        ASSERT_EQ(n, static_cast<ssize_t>(netlink::kArpLength))
            << "frames that are no answer to us came first";
        std::uint32_t sender = 0;
        ASSERT_TRUE(netlink::ArpSender({message, netlink::kArpLength}, sender));
        EXPECT_EQ(sender, Ip("10.9.0.0") | htonl(answerer)) << "a frame sent before the answer came through";
    }
}

TEST(LinuxSocketLayer, SocketErrorsKeepTheirCode) {
    REQUIRE_NAMESPACE();
    // Every call on a socket that is not open reports the kernel's own code, each its own.
    CLinuxSocketLayer layer{RawSockets{}, nullptr};
    const IcmpSocket none;
    std::uint8_t byte = 0;
    ReceivedPacket packet;
    const struct {
        const char* call;
        std::error_code error;
    } cases[] = {
        {"SendTo", layer.SendTo(none, Ip("127.0.0.1"), &byte, 1).code},
        {"SendBroadcast", layer.SendBroadcast(none, &byte, 1, {}).code},
        {"Receive", layer.Receive(none, &byte, 1, packet).code},
        {"WaitReadable", layer.WaitReadable(none, std::chrono::microseconds(0)).Error().code},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.error, std::errc::bad_file_descriptor) << c.call << ": " << c.error.message();
    EXPECT_EQ(layer.EnableBroadcast(none).code, std::errc::bad_file_descriptor);
}
