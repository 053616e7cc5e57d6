// libFuzzer target over everything that reads bytes from the network: the reply filter and the
// extra-data parsing into a device record (the real scan over a socket layer that delivers the
// input), the rtnetlink answer and neighbour-dump parsers and the ARP answer parser; and the
// known-devices file, which a damaged disk or a hand edit can fill with anything. The first byte
// picks the reader (0xFF the known-devices file).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "formats/KnownDevicesFile.h"
#include "res/FailureText.h"
#include "engine/Orvalink.h"
#include "engine/ScanListener.h"
#include "engine/ScanThread.h"
#include "log/Log.h"
#include "log/LogText.h"
#include "net/Netlink.h"
#include "net/SocketLayer.h"

namespace {

void Require(bool holds, const char* what, const std::string& value) {
    if (holds)
        return;
    std::fprintf(stderr, "record invariant broken: %s: [%s]\n", what, LogEscape(value).c_str());
    std::abort();
}

bool IsMac(const std::string& mac) {
    if (mac == "n/a")
        return true;
    if (mac.size() % 3 != 2 || mac.size() > 17)
        return false;
    for (std::size_t i = 0; i < mac.size(); ++i) {
        char c = mac[i];
        bool hex = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
        if (i % 3 == 2 ? c != ':' : !hex)
            return false;
    }
    return true;
}

void CheckText(const std::string& text, std::size_t longest, const char* what) {
    if (text == "n/a")
        return;
    Require(!text.empty() && text.size() <= longest, what, text);
    Require(text.find('\n') == std::string::npos && text.find('\0') == std::string::npos, what, text);
    std::string escaped = LogEscape(text);
    for (unsigned char c : escaped)
        Require(c >= 0x20 && c != 0x7F, "log text holds a control byte", escaped);
}

// Checks every record the scan hands over.
class CRecordCheck : public IScanListener {
public:
    void OnDeviceFound(const COrvalink& record) override {
        Require(!record.m_strIP.empty() && record.m_strIP != "0.0.0.0", "IP", record.m_strIP);
        Require(IsMac(record.m_strMAC), "MAC", record.m_strMAC);
        CheckText(record.m_strType, 250, "type");
        CheckText(record.m_strBuild, 249, "build");
    }
    void OnScanDone() override {}
};

// Delivers one packet (the input) once, then silence; the hardware address comes from the input.
class CFuzzSockets : public ISocketLayer, public IHardwareResolver {
public:
    CFuzzSockets(const std::uint8_t* packet, std::size_t length, std::uint32_t source,
                 std::vector<std::uint8_t> mac, bool resolves)
        : m_packet(packet, packet + length), m_source(source), m_mac(std::move(mac)), m_bResolves(resolves) {}

    // No descriptor: the engine only hands the socket back to the layer.
    Result<IcmpSocket> OpenRawIcmp() override { return IcmpSocket(); }
    Failure EnableBroadcast(const IcmpSocket&) override { return {}; }
    Failure SendBroadcast(const IcmpSocket&, const void*, std::size_t,
                                  const std::vector<int>&) override {
        return {};
    }
    Failure SendTo(const IcmpSocket&, std::uint32_t, const void*, std::size_t) override { return {}; }
    Result<bool> WaitReadable(const IcmpSocket&, std::chrono::microseconds) override {
        return !m_bDelivered;
    }
    Failure Receive(const IcmpSocket&, void* buffer, std::size_t capacity,
                            ReceivedPacket& packet) override {
        m_bDelivered = true;
        packet = ReceivedPacket{};
        packet.truncated = m_packet.size() > capacity;
        packet.length = packet.truncated ? capacity : m_packet.size();
        if (packet.length > 0)
            std::memcpy(buffer, m_packet.data(), packet.length);
        packet.sourceAddr = m_source;
        packet.ifindex = 2;
        return {};
    }
    bool HasPending(const IcmpSocket&) override { return false; }
    // Resolves every request from the input, or none; a hostile layer may claim more bytes
    // than the request holds, so the scan must clamp what it reads.
    void LookupHardwareAddresses(std::vector<HardwareRequest>& requests) override {
        for (HardwareRequest& request : requests) {
            if (!m_bResolves)
                continue;
            std::size_t n = std::min(m_mac.size(), sizeof request.mac);
            if (n > 0)
                std::memcpy(request.mac, m_mac.data(), n);
            request.length = static_cast<unsigned>(m_mac.size());
            request.state = HardwareState::Resolved;
        }
    }
    void SendProbes(const std::vector<HardwareRequest>&) override {}
    void ProbeHardwareAddresses(std::vector<HardwareRequest>& requests,
                                std::chrono::steady_clock::time_point) override {
        for (HardwareRequest& request : requests) {
            if (request.state == HardwareState::Pending)
                request.state = HardwareState::Failed;
        }
    }
    std::chrono::steady_clock::time_point Now() override { return m_now += std::chrono::milliseconds(1); }

private:
    std::vector<std::uint8_t> m_packet;
    std::uint32_t m_source;
    std::vector<std::uint8_t> m_mac;
    bool m_bResolves;
    bool m_bDelivered = false;
    std::chrono::steady_clock::time_point m_now{};
};

struct Harness {
    Harness() {
        // Every log line is formatted and written, so the escaping runs on device text too.
        LogOpen("/dev/null");
        LogSetLevel(LOG_DEBUG);
    }
    CRecordCheck check;
};

void FuzzReply(const std::uint8_t* data, std::size_t size) {
    static Harness harness;
    if (size < 6)
        return;
    std::uint32_t source;
    std::memcpy(&source, data, 4);
    bool resolves = data[4] & 0x80;
    std::vector<std::uint8_t> mac(data + 6, data + 6 + std::min<std::size_t>(data[4] & 0x0F, size - 6));
    std::size_t skip = 6 + mac.size();
    auto sockets = std::make_shared<CFuzzSockets>(data + skip, size - skip, source, mac, resolves);
    CScanThread scan(sockets, sockets);
    scan.SetListener(&harness.check);
    CScanWorker& worker = scan.Worker();
    if (!worker.OpenRawSocket())
        worker.Scan();
    worker.CloseRawSocket();
}

void FuzzNetlink(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return;
    netlink::RouteInfo route;
    netlink::NeighInfo neigh;
    if ((data[0] & 3) == 2) {
        std::vector<netlink::NeighInfo> entries;
        static_cast<void>(netlink::ParseNeighDump({data + 1, size - 1}, 7, entries));
        for (const netlink::NeighInfo& entry : entries) {
            if (entry.lladdrLength > sizeof entry.lladdr)
                std::abort();
        }
    } else if (data[0] & 1) {
        static_cast<void>(netlink::ParseRouteReply({data + 1, size - 1}, 7, route));
    } else if (const Result<bool> parsed = netlink::ParseNeighReply({data + 1, size - 1}, 7, neigh);
               parsed && *parsed) {
        if (neigh.lladdrLength > sizeof neigh.lladdr)
            std::abort();
    }
}

void FuzzArp(const std::uint8_t* data, std::size_t size) {
    if (size < 4)
        return;
    std::uint32_t sender;
    std::memcpy(&sender, data, 4);
    std::uint8_t mac[6];
    netlink::ParseArpFromSender({data + 4, size - 4}, sender, mac);
}

// A file that is taken is written back the same way, and what is written is taken again.
void FuzzKnownDevices(const std::uint8_t* data, std::size_t size) {
    CKnownDevices known;
    if (ReadKnownDevices(std::string(reinterpret_cast<const char*>(data), size), known))
        return;
    const std::string written = KnownDevicesText(known);
    CKnownDevices again;
    const Failure problem = ReadKnownDevices(written, again);
    Require(!problem, "the written known-devices file is refused", FailureText(problem));
    Require(KnownDevicesText(again) == written, "the known-devices file does not read back", written);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    if (data[0] == 0xFF) {
        FuzzKnownDevices(data + 1, size - 1);
        return 0;
    }
    switch (data[0] % 3) {
    case 0:
        FuzzReply(data + 1, size - 1);
        break;
    case 1:
        FuzzNetlink(data + 1, size - 1);
        break;
    default:
        FuzzArp(data + 1, size - 1);
        break;
    }
    return 0;
}
