// The scan worker end to end over the fake socket layer: wire bytes, reply handling and its log
// lines, the collection rules on fake time, the commands and the results, the handshakes.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "FakeSocketLayer.h"
#include "LogCapture.h"
#include "engine/Orvalink.h"
#include "engine/ScanListener.h"
#include "engine/ScanThread.h"

using namespace std::chrono_literals;
using testsupport::FakePacket;
using testsupport::FakeSocketLayer;
using testsupport::Ipv4;
using testsupport::MakeIcmp;
using testsupport::MakeReply;

namespace {

constexpr auto kBound = 10s;  // real-time bound for anything a test waits for

struct Device {
    std::string ip, mac, type, build;
    bool operator==(const Device&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Device& d) {
    return out << d.ip << " " << d.mac << " " << d.type << " " << d.build;
}

// Keeps what the worker reports, in order, as 'A' (a device) and 'D' (a scan's end).
class RecordingListener : public IScanListener {
public:
    void OnDeviceFound(const COrvalink& d) override {
        std::lock_guard lock(m_mutex);
        m_sequence += 'A';
        m_devices.push_back(Device{d.m_strIP, d.m_strMAC, d.m_strType, d.m_strBuild});
        m_interfaces.push_back(d.m_strInterface);
    }
    void OnScanDone() override {
        {
            std::lock_guard lock(m_mutex);
            m_sequence += 'D';
        }
        m_cv.notify_all();
    }
    void OnScanTruncated(long listed) override {
        std::lock_guard lock(m_mutex);
        m_sequence += "T" + std::to_string(listed);
    }
    // True once count scan ends not yet taken have arrived (within the bound).
    bool WaitForScanEnds(std::size_t count, std::chrono::milliseconds bound) {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, bound, [&] {
            return static_cast<std::size_t>(std::count(m_sequence.begin(), m_sequence.end(), 'D')) >= count;
        });
    }
    std::string Take(std::vector<Device>* devices, std::vector<std::string>* interfaces = nullptr) {
        std::lock_guard lock(m_mutex);
        if (interfaces)
            *interfaces = std::exchange(m_interfaces, {});
        m_interfaces.clear();
        if (devices)
            devices->insert(devices->end(), m_devices.begin(), m_devices.end());
        m_devices.clear();
        return std::exchange(m_sequence, {});
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::string m_sequence;
    std::vector<Device> m_devices;
    std::vector<std::string> m_interfaces;  // m_strInterface of each device, in order
};

LogLine Debug(const std::string& text) {
    return LogLine{"Debug", text};
}
LogLine Info(const std::string& text) {
    return LogLine{"Info", text};
}
LogLine Error(const std::string& text) {
    return LogLine{"Error", text};
}

class ScanThreadTest : public ::testing::Test {
protected:
    std::unique_ptr<CScanThread> Started(std::chrono::milliseconds stop = 10000ms) {
        auto thread = std::make_unique<CScanThread>(m_net, m_net, 5000ms, stop);
        thread->SetListener(&m_listener);
        EXPECT_TRUE(thread->Start());
        return thread;
    }

    // Requests one scan and waits until `done` scans in total have ended.
    void ScanAndWait(CScanThread& thread, std::size_t done = 1) {
        ASSERT_TRUE(thread.RequestScan());
        ASSERT_TRUE(m_listener.WaitForScanEnds(done, kBound));
    }

    // Starts a worker, has it scan once and stops it.
    void ScanOnce() {
        auto thread = Started();
        ScanAndWait(*thread);
        ASSERT_TRUE(thread->Stop());
    }

    // Takes what was reported so far: the devices and their order as a string of 'A' (a device)
    // and 'D' (a scan's end).
    std::string TakeSequence(std::vector<Device>* devices = nullptr) { return m_listener.Take(devices); }

    std::vector<Device> TakeDevices() {
        std::vector<Device> devices;
        TakeSequence(&devices);
        return devices;
    }

    LogCapture m_log;
    RecordingListener m_listener;
    std::shared_ptr<FakeSocketLayer> m_net = std::make_shared<FakeSocketLayer>();
};

// ---------------------------------------------------------------- handshakes

TEST_F(ScanThreadTest, StartAndStopHandshakesLogTheirStepsInOrder) {
    auto thread = Started();
    ASSERT_TRUE(thread->Stop());
    EXPECT_EQ(m_log.Lines(), (std::vector<LogLine>{
                                 Debug("Starting scan thread"),
                                 Debug("CScanThread::ThreadEntry()"),
                                 Debug("CScanThread::ThreadEntry() Message queue created"),
                                 Debug("CScanThread::ThreadEntry() Raw Socket opened"),
                                 Debug("Scan thread successfully started"),
                                 Debug("Stopping scan thread"),
                                 Debug("CScanThread::ThreadEntry() Aborting"),
                                 Debug("CScanThread::ThreadEntry() Stopping reader thread."),
                                 Debug("CScanThread::ThreadEntry() Reader thread stopped."),
                                 Debug("Scan thread stopped"),
                             }));
    EXPECT_EQ(m_net->Opened(), 1);
    EXPECT_EQ(m_net->Closed(), 1);
    // The worker is gone: nothing is queued any more and a second stop has nothing to do.
    EXPECT_FALSE(thread->RequestScan());
    ASSERT_TRUE(thread->Stop());
    EXPECT_EQ(m_log.Lines().back(), Debug("Stopping scan thread"));
    EXPECT_EQ(TakeSequence(), "");
}

TEST_F(ScanThreadTest, SocketFailureGivesNoWorkerAndAnEasyStop) {
    m_net->FailOpen(EPERM);
    CScanThread thread(m_net, m_net, 300ms, 10000ms);
    EXPECT_FALSE(thread.Start());
    ASSERT_TRUE(PollUntil([&] { return !thread.RequestScan(); }, kBound));
    EXPECT_EQ(m_log.IndexOf("CScanThread::ThreadEntry() Raw Socket opened"), -1);
    std::vector<LogLine> lines = m_log.Lines();
    auto at = [&](const std::string& text) { return m_log.IndexOf(text); };
    ASSERT_GE(at("socket() failed (error code 1)"), 0);
    EXPECT_EQ(lines[at("socket() failed (error code 1)")].level, "Error");
    EXPECT_EQ(at("CScanThread::ThreadEntry() Can't create Raw Socket"),
              at("socket() failed (error code 1)") + 1);
    EXPECT_EQ(lines[at("CScanThread::ThreadEntry() Can't create Raw Socket")].level, "Error");
    EXPECT_EQ(m_log.CountOf("No reaction from scan thread"), 1u);

    thread.RequestLocate("10.0.0.20");  // no worker takes it: nothing is queued
    std::size_t before = m_log.Lines().size();
    EXPECT_TRUE(thread.Stop());
    std::vector<LogLine> after = m_log.Lines();
    ASSERT_EQ(after.size(), before + 1);
    EXPECT_EQ(after.back(), Debug("Stopping scan thread"));
    EXPECT_TRUE(m_net->Sends().empty());
}

TEST_F(ScanThreadTest, SocketSetUpFailuresNameTheirCause) {
    {
        // No socket layer at all.
        CScanThread thread(nullptr, nullptr, 300ms, 10000ms);
        EXPECT_FALSE(thread.Start());
        ASSERT_TRUE(PollUntil([&] { return !thread.RequestScan(); }, kBound));
        EXPECT_TRUE(m_log.Contains("Windows socket initialization failed!"));
        EXPECT_EQ(m_net->Opened(), 0);
        EXPECT_TRUE(thread.Stop());
    }
    {
        m_net->FailBroadcastOption(EACCES);
        CScanThread thread(m_net, m_net, 300ms, 10000ms);
        EXPECT_FALSE(thread.Start());
        // The socket was made, so it is closed when the worker ends.
        ASSERT_TRUE(m_net->WaitUntilClosed(kBound));
        ASSERT_TRUE(PollUntil([&] { return !thread.RequestScan(); }, kBound));
        long cause = m_log.IndexOf("setsockopt() failed (error code 13)");
        ASSERT_GE(cause, 0);
        EXPECT_EQ(m_log.Lines()[cause + 1], Error("CScanThread::ThreadEntry() Can't create Raw Socket"));
        EXPECT_EQ(m_net->Opened(), 1);
        EXPECT_EQ(m_net->Closed(), 1);
        EXPECT_TRUE(thread.Stop());
    }
}

// ---------------------------------------------------------------- one reply, all the way

TEST_F(ScanThreadTest, AcceptedReplyIsLoggedInOrderAndReported) {
    m_net->SetHardwareAddress("10.0.0.20", {0x02, 0x00, 0x00, 0x12, 0x34, 0xAB});
    FakePacket reply = MakeReply("10.0.0.20", "type:OL-500\nbuild:1009\n", 20ms);
    reply.ifindex = 3;
    m_net->SetRepliesOnBroadcast({reply});
    ASSERT_NO_FATAL_FAILURE(ScanOnce());

    std::vector<LogLine> scan = m_log.LinesFrom("CScanThread::ThreadEntry() Starting scan");
    scan.resize(std::min<std::size_t>(scan.size(), 8));
    EXPECT_EQ(scan, (std::vector<LogLine>{
                        Debug("CScanThread::ThreadEntry() Starting scan"),
                        Info("IP: 10.0.0.20"),
                        Debug("Got 23 bytes extra data (type:OL-500\\nbuild:1009\\n)"),
                        Info("Build: 1009  "),
                        Info("Device: OL-500  "),
                        Info("MAC: 02:00:00:12:34:AB"),
                        Debug("select() timed out without getting a response"),
                        Info("Found 1 Orvalink(s)"),
                    }));

    std::vector<FakeSocketLayer::Sent> sends = m_net->Sends();
    ASSERT_EQ(sends.size(), 1u);
    EXPECT_TRUE(sends[0].broadcast);
    EXPECT_EQ(sends[0].bytes, (std::vector<std::uint8_t>{0x0A, 0x4A, 0xF6, 0xAE, 0xFE, 0xE4, 0x00, 0x22}));

    std::vector<FakeSocketLayer::ResolveCall> resolves = m_net->Resolves();
    ASSERT_EQ(resolves.size(), 1u);
    EXPECT_EQ(resolves[0].addr, Ipv4("10.0.0.20"));
    EXPECT_EQ(resolves[0].ifindex, 3);
    EXPECT_EQ(resolves[0].lengthIn, 6u);
    EXPECT_EQ(resolves[0].bufferIn, std::vector<std::uint8_t>(8, 0xFF));

    std::vector<Device> devices;
    EXPECT_EQ(TakeSequence(&devices), "AD");
    EXPECT_EQ(devices, (std::vector<Device>{{"10.0.0.20", "02:00:00:12:34:AB", "OL-500", "1009"}}));
}

TEST_F(ScanThreadTest, NoAnswerEndsAfterOneSecondAndOneMicrosecond) {
    ASSERT_NO_FATAL_FAILURE(ScanOnce());
    EXPECT_EQ(m_net->Elapsed(), 1000001us);
    std::vector<LogLine> scan = m_log.LinesFrom("CScanThread::ThreadEntry() Starting scan");
    ASSERT_GE(scan.size(), 3u);
    EXPECT_EQ(scan[1], Debug("select() timed out without getting a response"));
    EXPECT_EQ(scan[2], Info("Found no Orvalinks"));
    EXPECT_EQ(TakeSequence(), "D");
}

TEST_F(ScanThreadTest, ChosenQuietWaitEndsTheScan) {
    // 300 ms of quiet ends the scan: a reply 250 ms after another is in it, one 301 ms later is not.
    m_net->QueuePacket(MakeReply("10.0.0.21", "", 250ms));
    m_net->QueuePacket(MakeReply("10.0.0.22", "", 551ms));
    auto thread = std::make_unique<CScanThread>(m_net, m_net, 5000ms, 10000ms);
    thread->SetListener(&m_listener);
    thread->Worker().SetQuietWait(300ms);
    ASSERT_TRUE(thread->Start());
    ScanAndWait(*thread);
    ASSERT_TRUE(thread->Stop());
    EXPECT_EQ(m_net->Elapsed(), 550ms);
    EXPECT_EQ(TakeDevices(), (std::vector<Device>{{"10.0.0.21", "n/a", "n/a", "n/a"}}));
}

TEST_F(ScanThreadTest, InterfaceChoiceLimitsTheRequestAndTheRepliesTaken) {
    struct Case {
        std::vector<int> chosen;
        std::vector<Device> devices;  // of the replies below, those taken
    };
    // A reply per interface 1, 2 and 3; interface 1 is loopback, so its name is known everywhere.
    const Case cases[] = {
        {{},
         {{"10.0.1.1", "n/a", "n/a", "n/a"},
          {"10.0.2.1", "n/a", "n/a", "n/a"},
          {"10.0.3.1", "n/a", "n/a", "n/a"}}},
        {{2}, {{"10.0.2.1", "n/a", "n/a", "n/a"}}},
        {{1, 3}, {{"10.0.1.1", "n/a", "n/a", "n/a"}, {"10.0.3.1", "n/a", "n/a", "n/a"}}},
        {{7}, {}},
    };
    for (const Case& c : cases) {
        auto net = std::make_shared<FakeSocketLayer>();
        std::vector<FakePacket> replies;
        for (int index : {1, 2, 3}) {
            FakePacket reply = MakeReply(("10.0." + std::to_string(index) + ".1").c_str(), "", index * 10ms);
            reply.ifindex = index;
            replies.push_back(reply);
        }
        net->SetRepliesOnBroadcast(replies);
        CScanThread thread(net, net, 5000ms, 10000ms);
        thread.SetListener(&m_listener);
        thread.Worker().SetInterfaces(c.chosen);
        ASSERT_TRUE(thread.Start());
        ScanAndWait(thread);
        ASSERT_TRUE(thread.Stop());
        thread.SetListener(nullptr);
        std::vector<Device> devices;
        std::vector<std::string> interfaces;
        m_listener.Take(&devices, &interfaces);
        EXPECT_EQ(devices, c.devices) << c.chosen.size();
        std::vector<FakeSocketLayer::Sent> sends = net->Sends();
        ASSERT_EQ(sends.size(), 1u);
        EXPECT_EQ(sends[0].ifindexes, c.chosen);
        if (!devices.empty() && devices[0].ip == "10.0.1.1") {
            EXPECT_NE(interfaces[0], "n/a");  // loopback's name
        }
    }
}

TEST_F(ScanThreadTest, ReplyFromAnUnknownInterfaceHasNoInterfaceName) {
    FakePacket reply = MakeReply("10.0.0.20", "", 10ms);
    reply.ifindex = 0;
    m_net->SetRepliesOnBroadcast({reply});
    ASSERT_NO_FATAL_FAILURE(ScanOnce());
    std::vector<Device> devices;
    std::vector<std::string> interfaces;
    m_listener.Take(&devices, &interfaces);
    EXPECT_EQ(interfaces, std::vector<std::string>{"n/a"});
}

// ---------------------------------------------------------------- reply contents

TEST_F(ScanThreadTest, ExtraDataIsReadUpTo256BytesAndTheFirstNul) {
    std::string longText = "type:A\n" + std::string(260, 'x') + "\nbuild:B\n";  // build beyond 256
    std::string lateKey = std::string(250, 'x') + "type:Z\n";                   // its line feed is byte 257
    m_net->QueuePacket(MakeReply("10.0.0.1", "", 1ms));
    m_net->QueuePacket(MakeReply("10.0.0.2", longText, 2ms));
    m_net->QueuePacket(MakeReply("10.0.0.3", std::string("type:X\0build:Y\n", 15), 3ms));
    m_net->QueuePacket(MakeReply("10.0.0.4", "type:\nbuild:9\n", 4ms));
    m_net->QueuePacket(MakeReply("10.0.0.5", "type:A\ntype:B\n", 5ms));
    m_net->QueuePacket(MakeReply("10.0.0.6", lateKey, 6ms));
    m_net->QueuePacket(MakeReply("10.0.0.7", "type:T\r\n", 7ms));
    ASSERT_NO_FATAL_FAILURE(ScanOnce());

    EXPECT_EQ(TakeDevices(), (std::vector<Device>{
                                 {"10.0.0.1", "n/a", "n/a", "n/a"},
                                 {"10.0.0.2", "n/a", "A", "n/a"},
                                 {"10.0.0.3", "n/a", "n/a", "n/a"},
                                 {"10.0.0.4", "n/a", "n/a", "9"},
                                 {"10.0.0.5", "n/a", "A", "n/a"},
                                 {"10.0.0.6", "n/a", "n/a", "n/a"},
                                 {"10.0.0.7", "n/a", "T\r", "n/a"},
                             }));
    std::vector<std::string> texts = m_log.Texts();
    auto after = [&](const std::string& ip) {
        long i = m_log.IndexOf("IP: " + ip);
        EXPECT_GE(i, 0) << ip;
        return i < 0 ? std::string() : texts[i + 1];
    };
    EXPECT_EQ(after("10.0.0.1"), "No extra data received");
    EXPECT_EQ(after("10.0.0.2").rfind("Got 256 bytes extra data (type:A\\nxxx", 0), 0u);
    EXPECT_EQ(after("10.0.0.3"), "Got 15 bytes extra data (type:X)");
    EXPECT_EQ(after("10.0.0.6").rfind("Got 256 bytes extra data (", 0), 0u);
    // An empty value writes no line of its own.
    long four = m_log.IndexOf("IP: 10.0.0.4");
    EXPECT_EQ(texts[four + 2], "Build: 9  ");
    EXPECT_EQ(texts[four + 3], "Wrong Subnet");
    EXPECT_TRUE(m_log.Contains("Found 7 Orvalink(s)"));
}

TEST_F(ScanThreadTest, RepliesWithIpOptionsAreReadAfterTheirHeaderAndSourceZeroIsIgnored) {
    // Router alert (4 bytes) and a record-route option (8 bytes): 24- and 32-byte headers.
    m_net->QueuePacket(testsupport::WithIpOptions(MakeReply("10.0.0.1", "type:A\nbuild:1\n", 1ms),
                                                  {0x94, 0x04, 0x00, 0x00}));
    m_net->QueuePacket(
        testsupport::WithIpOptions(MakeReply("10.0.0.2", "", 2ms), {0x07, 0x07, 0x04, 0, 0, 0, 0, 0x00}));
    m_net->QueuePacket(MakeReply("0.0.0.0", "type:Ghost\n", 3ms));
    ASSERT_NO_FATAL_FAILURE(ScanOnce());

    EXPECT_EQ(TakeDevices(),
              (std::vector<Device>{{"10.0.0.1", "n/a", "A", "1"}, {"10.0.0.2", "n/a", "n/a", "n/a"}}));
    EXPECT_TRUE(m_log.Contains("Got 15 bytes extra data (type:A\\nbuild:1\\n)"));
    EXPECT_TRUE(m_log.Contains("Found 2 Orvalink(s)"));
}

TEST_F(ScanThreadTest, DeviceTextCannotStartALogLineOfItsOwn) {
    const std::string forged = "type:X\r\n2006-07-28T15:32:23  Error    forged\x1B[2J\n";
    m_net->QueuePacket(MakeReply("10.0.0.1", forged + "build:" + "a\rb\\c\x7F\n", 1ms));
    ASSERT_NO_FATAL_FAILURE(ScanOnce());
    EXPECT_TRUE(m_log.Contains("Device: X\\r  "));
    EXPECT_TRUE(m_log.Contains("Build: a\\rb\\\\c\\x7F  "));
    for (const LogLine& line : m_log.Lines()) {
        EXPECT_NE(line.level, "Error") << line.text;
        EXPECT_EQ(line.text.find_first_of("\r\n\x1B"), std::string::npos) << line.text;
    }
    // The record itself keeps the bytes as sent.
    EXPECT_EQ(TakeDevices(), (std::vector<Device>{{"10.0.0.1", "n/a", "X\r", "a\rb\\c\x7F"}}));
}

TEST_F(ScanThreadTest, HardwareAddressOutcomes) {
    m_net->SetHardwareAddress("10.0.0.7", {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E});
    m_net->SetHardwareAddress("10.0.0.9", {});
    m_net->SetHardwareAddress("10.0.0.10", {0x0A, 0x0B, 0x0C, 0x0D});
    m_net->QueuePacket(MakeReply("10.0.0.7", "", 1ms));
    m_net->QueuePacket(MakeReply("192.168.7.8", "", 2ms));  // beyond the subnet
    m_net->QueuePacket(MakeReply("10.0.0.9", "", 3ms));
    m_net->QueuePacket(MakeReply("10.0.0.10", "", 4ms));
    ASSERT_NO_FATAL_FAILURE(ScanOnce());

    EXPECT_EQ(TakeDevices(), (std::vector<Device>{
                                 {"10.0.0.7", "00:1A:2B:3C:4D:5E", "n/a", "n/a"},
                                 {"192.168.7.8", "n/a", "n/a", "n/a"},
                                 {"10.0.0.9", "n/a", "n/a", "n/a"},
                                 {"10.0.0.10", "0A:0B:0C:0D", "n/a", "n/a"},
                             }));
    std::vector<LogLine> lines = m_log.Lines();
    long wrong = m_log.IndexOf("IP: 192.168.7.8");
    EXPECT_EQ(lines[wrong + 2], Info("Wrong Subnet"));
    EXPECT_EQ(lines[wrong + 3], Info("IP: 10.0.0.9"));
    EXPECT_EQ(lines[wrong + 5], Info("MAC: n/a"));
}

TEST_F(ScanThreadTest, SameDeviceAnsweringTwiceGivesTwoRecords) {
    m_net->SetHardwareAddress("10.0.0.20", {1, 2, 3, 4, 5, 6});
    FakePacket reply = MakeReply("10.0.0.20", "type:OL\nbuild:1\n", 10ms);
    m_net->SetRepliesOnBroadcast({reply, reply});
    ASSERT_NO_FATAL_FAILURE(ScanOnce());
    std::vector<Device> devices = TakeDevices();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0], devices[1]);
    EXPECT_TRUE(m_log.Contains("Found 2 Orvalink(s)"));
}

// ---------------------------------------------------------------- the collection rules

TEST_F(ScanThreadTest, EveryPacketRestartsTheQuietWait) {
    // Non-replies 0.9 s apart, a reply exactly 1 s + 1 us after the last of them, and one more
    // reply 1 s + 2 us after that, which misses this scan and is read by the next.
    m_net->QueuePacket(MakeIcmp("10.0.0.50", 0, 84, 900000us));
    m_net->QueuePacket(MakeIcmp("10.0.0.50", 9, 60, 1800000us));  // unmarked advertisement
    m_net->QueuePacket(MakeIcmp("10.0.0.50", 8, 35, 2700000us));
    m_net->QueuePacket(MakeReply("10.0.0.21", "", 3700001us));
    m_net->QueuePacket(MakeReply("10.0.0.22", "", 4700003us));
    auto thread = Started();
    ScanAndWait(*thread);
    EXPECT_EQ(TakeDevices(), (std::vector<Device>{{"10.0.0.21", "n/a", "n/a", "n/a"}}));
    EXPECT_TRUE(m_log.Contains("Found 1 Orvalink(s)"));
    ScanAndWait(*thread, 1);
    ASSERT_TRUE(thread->Stop());
    EXPECT_EQ(TakeDevices(), (std::vector<Device>{{"10.0.0.22", "n/a", "n/a", "n/a"}}));
    EXPECT_EQ(m_log.CountOf("Scan time limit reached"), 0u);
}

TEST_F(ScanThreadTest, EndlessTrafficCannotKeepTheScanPastFiveSeconds) {
    m_net->SetFlood(400ms, MakeIcmp("10.0.0.50", 0));
    m_net->QueuePacket(MakeReply("10.0.0.21", "", 2s));
    auto thread = Started();
    ScanAndWait(*thread);
    m_net->StopFlood();
    ASSERT_TRUE(thread->Stop());
    EXPECT_LE(m_net->Elapsed(), 5s);
    EXPECT_GE(m_net->Elapsed(), 4600ms);
    std::vector<LogLine> tail = m_log.LinesFrom("Scan time limit reached");
    ASSERT_GE(tail.size(), 2u);
    EXPECT_EQ(tail[0].level, "Debug");
    EXPECT_EQ(tail[1], Info("Found 1 Orvalink(s)"));
    EXPECT_EQ(TakeSequence(), "AD");
}

TEST_F(ScanThreadTest, ScanLimitSaysWhenAnswersWereStillArriving) {
    struct Case {
        const char* what;
        std::chrono::seconds limit;
        FakePacket flood;
        const char* sequenceEnd;  // after the devices
        const char* warning;      // "" for none
        std::chrono::milliseconds lookup{};  // fake time each hardware lookup takes
    };
    const Case cases[] = {
        {"answers past the limit", 5s, MakeReply("10.0.0.7"), "T13D",
         "scan stopped at its 5 s limit with answers still arriving; 13 devices listed"},
        {"a limit of its own", 2s, MakeReply("10.0.0.7"), "T6D",
         "scan stopped at its 2 s limit with answers still arriving; 6 devices listed"},
        {"only other traffic at the end", 3s, MakeIcmp("10.0.0.50", 0), "D", ""},
        // A slow lookup of the only device passes the limit while pings queue up unread.
        {"only other traffic waiting at the limit", 2s, MakeIcmp("10.0.0.50", 0), "D", "", 2500ms},
    };
    for (const Case& c : cases) {
        m_net->SetFlood(400ms, c.flood);
        m_net->SetResolveCost(c.lookup);
        m_net->QueuePacket(MakeReply("10.0.0.21", "", 100ms));
        auto thread = Started();
        thread->Worker().SetScanLimit(c.limit);
        const auto start = m_net->Elapsed();
        const std::size_t linesBefore = m_log.Lines().size();
        ScanAndWait(*thread);
        m_net->StopFlood();
        ASSERT_TRUE(thread->Stop());
        EXPECT_LE(m_net->Elapsed() - start, c.limit + 1s) << c.what;
        const std::string sequence = TakeSequence();
        EXPECT_EQ(sequence.substr(sequence.find_first_not_of('A')), c.sequenceEnd) << c.what;
        // The Warning comes right after the summary line.
        const std::vector<LogLine> lines = m_log.Lines();
        std::string warning;
        for (std::size_t i = linesBefore; i < lines.size(); ++i)
            if (lines[i].level == "Warning" && lines[i - 1].text.rfind("Found ", 0) == 0)
                warning = lines[i].text;
        EXPECT_EQ(warning, c.warning) << c.what;
    }
}

TEST_F(ScanThreadTest, AdaptiveAndKnownDevicesEndsKeepEveryDeviceTheyMust) {
    // Answers from .21 at 10 ms and .22 at 20 ms on interface 1; perhaps one from .23 later.
    enum Flood { kNone, kReplies, kPings };  // .24 answers, or a ping arrives, every 20 ms without end
    struct Case {
        const char* what;
        bool adaptive;
        std::vector<CScanWorker::ExpectedDevice> expected;
        std::chrono::milliseconds slowAt;  // 0: no .23
        Flood flood;                       // under a 2 s limit
        std::size_t devices;
        std::chrono::microseconds elapsed;
        bool fromAnswers = false;  // the quiet time runs from the last device answer
    };
    const auto at = [](const char* ip, int ifindex = 0) { return CScanWorker::ExpectedDevice{Ipv4(ip), ifindex}; };
    const Case cases[] = {
        {"adaptive: the floor after fast answers", true, {}, 0ms, kNone, 2, 270ms},
        {"adaptive: a device 200 ms after the others is listed", true, {}, 220ms, kNone, 3, 1020ms},
        {"adaptive: one later than the floor is not", true, {}, 280ms, kNone, 2, 270ms},
        {"known, all answered: the adaptive floor", false, {at("10.0.0.21"), at("10.0.0.22", 1)}, 0ms, kNone, 2, 270ms},
        {"known, a new one in the floor", true, {at("10.0.0.21"), at("10.0.0.22")}, 45ms, kNone, 3, 295ms},
        {"known, a new one 200 ms late", false, {at("10.0.0.21"), at("10.0.0.22")}, 200ms, kNone, 3, 920ms},
        {"known, one missing: no grace", true, {at("10.0.0.21"), at("10.0.0.99")}, 220ms, kNone, 3, 1020ms},
        {"known on another interface: missing", false, {at("10.0.0.21"), at("10.0.0.22", 5)}, 0ms, kNone, 2, 1020001us},
        {"adaptive under the limit", true, {}, 0ms, kReplies, 2, 2s},
        {"known under the limit", false, {at("10.0.0.21"), at("10.0.0.22")}, 0ms, kReplies, 2, 2s},
        {"pings keep the quiet time open", false, {}, 0ms, kPings, 2, 2s},
        {"pings do not hold an end from the answers", false, {}, 0ms, kPings, 2, 1020001us, true},
        {"nor its adaptive end", true, {}, 0ms, kPings, 2, 270ms, true},
    };
    for (const Case& c : cases) {
        m_net = std::make_shared<FakeSocketLayer>();
        std::vector<FakePacket> replies{MakeReply("10.0.0.21", "", 10ms), MakeReply("10.0.0.22", "", 20ms)};
        if (c.slowAt > 0ms)
            replies.push_back(MakeReply("10.0.0.23", "", c.slowAt));
        m_net->SetRepliesOnBroadcast(replies);
        if (c.flood != kNone)
            m_net->SetFlood(20ms, c.flood == kReplies ? MakeReply("10.0.0.24") : MakeIcmp("10.0.0.50", 8));
        auto thread = std::make_unique<CScanThread>(m_net, m_net, 5000ms, 10000ms);
        thread->SetListener(&m_listener);
        thread->Worker().SetAdaptiveEnd(c.adaptive);
        thread->Worker().SetExpectedDevices(c.expected);
        thread->Worker().SetQuietFromAnswers(c.fromAnswers);
        thread->Worker().SetScanLimit(2s);
        ASSERT_TRUE(thread->Start());
        ScanAndWait(*thread);
        m_net->StopFlood();
        ASSERT_TRUE(thread->Stop());
        EXPECT_EQ(TakeDevices().size(), c.flood == kReplies ? c.devices + 100 : c.devices) << c.what;
        EXPECT_EQ(m_net->Elapsed(), c.elapsed) << c.what;
    }
}

TEST_F(ScanThreadTest, AnswersLostToAFullQueueMarkTheScanIncomplete) {
    struct Case {
        const char* what;
        long before, during;  // the socket's drop count before the scan and once answers came
        long stamps[2];       // the counts the two replies carry
        const char* sequence;
        const char* warning;
    };
    const Case cases[] = {
        {"drops before the scan are not its own", 5, 5, {-1, -1}, "AAD", ""},
        {"drops during the scan", 5, 9, {-1, -1}, "AAT2D",
         "scan lost 4 packets to a full receive queue; 2 devices listed"},
        {"the datagrams' counts where the socket says nothing", -1, -1, {3, 7}, "AAT2D",
         "scan lost 4 packets to a full receive queue; 2 devices listed"},
        {"a counter that wraps", 4294967295, 2, {-1, -1}, "AAT2D",
         "scan lost 3 packets to a full receive queue; 2 devices listed"},
    };
    for (const Case& c : cases) {
        m_net = std::make_shared<FakeSocketLayer>();
        m_net->SetReceiveDrops(c.before);
        m_net->SetResolveHook([this, &c](std::uint32_t) { m_net->SetReceiveDrops(c.during); });
        std::vector<FakePacket> replies{MakeReply("10.0.0.21", "", 10ms), MakeReply("10.0.0.22", "", 20ms)};
        replies[0].drops = c.stamps[0];
        replies[1].drops = c.stamps[1];
        m_net->SetRepliesOnBroadcast(replies);
        const std::size_t warned = m_log.CountOf(c.warning);
        ASSERT_NO_FATAL_FAILURE(ScanOnce());
        EXPECT_EQ(TakeSequence(), c.sequence) << c.what;
        EXPECT_TRUE(!*c.warning || m_log.CountOf(c.warning) == warned + 1) << c.what;
    }
}

TEST_F(ScanThreadTest, OversizePacketIsIgnoredAndTheCollectionGoesOn) {
    m_net->QueuePacket(MakeReply("10.0.0.30", std::string(3000, 'x'), 900ms));  // cut by 2048
    FakePacket flagged = MakeReply("10.0.0.31", "type:T\n", 1800ms);
    flagged.truncated = true;
    m_net->QueuePacket(flagged);
    m_net->QueuePacket(MakeReply("10.0.0.32", "", 2700ms));
    ASSERT_NO_FATAL_FAILURE(ScanOnce());
    EXPECT_EQ(TakeDevices(), (std::vector<Device>{{"10.0.0.32", "n/a", "n/a", "n/a"}}));
    EXPECT_EQ(m_log.IndexOf("IP: 10.0.0.30"), -1);
    EXPECT_EQ(m_log.IndexOf("IP: 10.0.0.31"), -1);
    EXPECT_EQ(m_log.CountOf("revfrom() failed (error code 90)"), 0u);
}

TEST_F(ScanThreadTest, ReceiveErrorEndsTheCollectionWithSummary) {
    m_net->QueuePacket(MakeReply("10.0.0.40", "", 100ms));
    FakePacket error;
    error.receiveError = true;
    error.errorCode = EIO;
    error.delay = 200ms;
    m_net->QueuePacket(error);
    m_net->QueuePacket(MakeReply("10.0.0.41", "", 300ms));
    auto thread = Started();
    ScanAndWait(*thread);
    EXPECT_EQ(TakeSequence(), "AD");
    std::vector<LogLine> tail = m_log.LinesFrom("revfrom() failed (error code 5)");
    ASSERT_GE(tail.size(), 2u);
    EXPECT_EQ(tail[0].level, "Error");
    EXPECT_EQ(tail[1], Info("Found 1 Orvalink(s)"));
    // The reply behind the error waits for the next scan.
    ScanAndWait(*thread, 1);
    ASSERT_TRUE(thread->Stop());
    EXPECT_EQ(TakeDevices(), (std::vector<Device>{{"10.0.0.41", "n/a", "n/a", "n/a"}}));
}

TEST_F(ScanThreadTest, ReceiveErrorMetWhileReadingAheadKeepsItsPlace) {
    FakePacket error;
    error.receiveError = true;
    error.errorCode = ENOMEM;
    error.delay = 100ms;
    m_net->QueuePacket(MakeReply("10.0.0.1", "", 100ms));
    m_net->QueuePacket(MakeReply("10.0.0.2", "", 100ms));
    m_net->QueuePacket(error);
    m_net->QueuePacket(MakeReply("10.0.0.3", "", 100ms));
    ASSERT_NO_FATAL_FAILURE(ScanOnce());
    std::vector<Device> devices = TakeDevices();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[1].ip, "10.0.0.2");
    long second = m_log.IndexOf("IP: 10.0.0.2");
    long error12 = m_log.IndexOf("revfrom() failed (error code 12)");
    ASSERT_GE(second, 0);
    EXPECT_GT(error12, second);
    EXPECT_EQ(m_log.Texts()[error12 + 1], "Found 2 Orvalink(s)");
    EXPECT_EQ(m_log.IndexOf("IP: 10.0.0.3"), -1);
}

TEST_F(ScanThreadTest, RequestThatCannotBeSentStillEndsTheScan) {
    m_net->FailBroadcastSend(ENETUNREACH);
    m_net->QueuePacket(MakeReply("10.0.0.20", "", 1ms));
    ASSERT_NO_FATAL_FAILURE(ScanOnce());
    EXPECT_EQ(TakeSequence(), "D");
    long failed = m_log.IndexOf("Failed to send discover request (error code 101)");
    ASSERT_GE(failed, 0);
    EXPECT_EQ(m_log.Lines()[failed].level, "Error");
    EXPECT_EQ(m_log.CountOf("Found no Orvalinks"), 0u);
    EXPECT_EQ(m_log.CountOf("Found 1 Orvalink(s)"), 0u);
    EXPECT_EQ(m_net->Elapsed(), 0us);
}

TEST_F(ScanThreadTest, FailedWaitEndsLikeAQuietOne) {
    m_net->FailWait(true);
    ASSERT_NO_FATAL_FAILURE(ScanOnce());
    std::vector<LogLine> scan = m_log.LinesFrom("CScanThread::ThreadEntry() Starting scan");
    ASSERT_GE(scan.size(), 3u);
    EXPECT_EQ(scan[1], Debug("select() timed out without getting a response"));
    EXPECT_EQ(scan[2], Info("Found no Orvalinks"));
    EXPECT_EQ(TakeSequence(), "D");
}

// ---------------------------------------------------------------- reading ahead

TEST_F(ScanThreadTest, BurstIsReadAheadBeforeAnyAddressIsResolved) {
    constexpr int kDevices = 1200;
    std::vector<std::string> ips;
    for (int i = 0; i < kDevices; ++i) {
        ips.push_back("10.1." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1));
        m_net->SetHardwareAddress(ips.back().c_str(), {0x02, 0, 0, 0, static_cast<std::uint8_t>(i >> 8),
                                                       static_cast<std::uint8_t>(i)});
        m_net->QueuePacket(MakeReply(ips.back().c_str(), "type:OL\n", 5ms));
    }
    // Queued packets at the first lookup of the first reply and of a later one.
    std::vector<std::size_t> queuedAt;
    m_net->SetResolveHook([&](std::uint32_t addr) {
        if (addr == Ipv4(ips[0].c_str()) || addr == Ipv4(ips[CScanWorker::kReadBatch].c_str()))
            queuedAt.push_back(m_net->Queued());
    });
    ASSERT_NO_FATAL_FAILURE(ScanOnce());
    m_net->SetResolveHook(nullptr);

    // The first replies read are settled at once, to be shown at once; the rest read ahead.
    EXPECT_EQ(queuedAt, (std::vector<std::size_t>{kDevices - CScanWorker::kReadBatch, 0u}));
    std::vector<Device> devices = TakeDevices();
    ASSERT_EQ(devices.size(), static_cast<std::size_t>(kDevices));
    for (int i = 0; i < kDevices; ++i)
        ASSERT_EQ(devices[i].ip, ips[i]) << "arrival order";
    EXPECT_EQ(devices[300].mac, "02:00:00:00:01:2C");
    // The lines of each reply stay together and in their order.
    std::vector<std::string> texts = m_log.Texts();
    long i = m_log.IndexOf("IP: " + ips[0]);
    ASSERT_GE(i, 0);
    for (int d = 0; d < kDevices; ++d, i += 4) {
        ASSERT_EQ(texts[i], "IP: " + ips[d]);
        ASSERT_EQ(texts[i + 1], "Got 8 bytes extra data (type:OL\\n)");
        ASSERT_EQ(texts[i + 2], "Device: OL  ");
        ASSERT_EQ(texts[i + 3].rfind("MAC: 02:00:00:00:", 0), 0u);
    }
    EXPECT_EQ(texts[i + 1], "Found 1200 Orvalink(s)");
}

TEST_F(ScanThreadTest, UnresolvedRepliersShareOneSecondAndEveryReplyIsReported) {
    // A device in the neighbour table, five addresses that never answer a probe (one of them
    // answering the scan twice), one answering a probe in 0.3 s (reported then, while the scan
    // still waits) and one too late at 1.5 s.
    m_net->SetHardwareAddress("10.0.0.1", {2, 0, 0, 0, 0, 1});
    std::vector<FakePacket> replies;
    for (const char* ip : {"10.0.0.11", "10.0.0.12", "10.0.0.13", "10.0.0.14", "10.0.0.15"}) {
        m_net->SetUnanswering(ip);
        replies.push_back(MakeReply(ip, "type:X\n", 5ms));
    }
    m_net->SetProbeAnswer("10.0.0.20", {2, 0, 0, 0, 0, 0x20}, 300ms);
    m_net->SetProbeAnswer("10.0.0.21", {2, 0, 0, 0, 0, 0x21}, 1500ms);
    replies.push_back(MakeReply("10.0.0.1", "type:OL\n", 15ms));
    replies.push_back(MakeReply("10.0.0.20", "", 20ms));
    replies.push_back(MakeReply("10.0.0.21", "", 20ms));
    replies.push_back(MakeReply("10.0.0.11", "type:X\n", 30ms));
    m_net->SetRepliesOnBroadcast(replies);
    const std::vector<Device> expected = {
        {"10.0.0.1", "02:00:00:00:00:01", "OL", "n/a"},  // known at once
        {"10.0.0.20", "02:00:00:00:00:20", "n/a", "n/a"},  // as soon as its probe is answered
        {"10.0.0.11", "n/a", "X", "n/a"},
        {"10.0.0.12", "n/a", "X", "n/a"},
        {"10.0.0.13", "n/a", "X", "n/a"},
        {"10.0.0.14", "n/a", "X", "n/a"},
        {"10.0.0.15", "n/a", "X", "n/a"},
        {"10.0.0.21", "n/a", "n/a", "n/a"},
        {"10.0.0.11", "n/a", "X", "n/a"},
    };
    auto thread = Started();
    for (std::size_t scan = 1; scan <= 2; ++scan) {
        const auto start = m_net->Elapsed();
        ScanAndWait(*thread, 1);
        std::vector<Device> devices;
        EXPECT_EQ(TakeSequence(&devices), "AAAAAAAAAD") << "scan " << scan;
        EXPECT_EQ(devices, expected) << "scan " << scan;
        // The probes left early, one per address, and had most of a second by the end of the
        // quiet wait: only the short grace is added for the answers still missing.
        EXPECT_EQ(m_net->Elapsed() - start, 30ms + 1000001us + 250ms) << "scan " << scan;
        ASSERT_EQ(m_net->Probes().size(), scan);
        EXPECT_EQ(m_net->Probes().back().budget, 250ms);
        EXPECT_EQ(m_net->Probes().back().addrs.size(), 7u);
        std::vector<FakeSocketLayer::ProbeSent> sent = m_net->ProbesSent();
        ASSERT_EQ(sent.size(), 7 * scan);
        // The first replies' at once, the others together in the first lull of 20 ms after them.
        EXPECT_EQ(sent[7 * scan - 7].at - start, 5ms);
        EXPECT_EQ(sent[7 * scan - 3].at - start, 5ms);
        EXPECT_EQ(sent[7 * scan - 2].at - start, 50ms);
        EXPECT_EQ(sent[7 * scan - 1].at - start, 50ms);
    }
    // The resolver keeps its socket between scans (the second's probes were answered) and lets
    // it go once the worker ends.
    EXPECT_EQ(m_net->Retired(), 0);
    ASSERT_TRUE(thread->Stop());
    EXPECT_EQ(m_net->Retired(), 1);
    // Each device's lines stay together and in their order; the probes come after the wait.
    std::vector<LogLine> lines = m_log.Lines();
    long late = m_log.IndexOf("IP: 10.0.0.21");
    ASSERT_GE(late, 0);
    EXPECT_GT(late, m_log.IndexOf("select() timed out without getting a response"));
    EXPECT_EQ(lines[late + 1], Debug("No extra data received"));
    EXPECT_EQ(lines[late + 2], Info("Wrong Subnet"));
    long found = m_log.IndexOf("IP: 10.0.0.20");
    EXPECT_EQ(lines[found + 2], Info("MAC: 02:00:00:00:00:20"));
    EXPECT_EQ(m_log.CountOf("Found 9 Orvalink(s)"), 2u);
}

TEST_F(ScanThreadTest, RepliesReadInAScanAreReportedInItEvenPastTheTimeLimit) {
    // Each lookup takes 1.5 s of the 5 s limit, and the last replies still wait for their
    // probes when the limit comes: every reply read in the scan is reported in it, and the
    // next scan reports only its own.
    m_net->SetResolveCost(1500ms);
    const char* ips[] = {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4"};
    for (int i = 0; i < 4; ++i) {
        m_net->SetUnanswering(ips[i]);
        m_net->QueuePacket(MakeReply(ips[i], "", 100ms + i * 1400ms));
    }
    auto thread = Started();
    ScanAndWait(*thread);
    std::vector<Device> devices = TakeDevices();
    ASSERT_EQ(devices.size(), 4u);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(devices[i], (Device{ips[i], "n/a", "n/a", "n/a"}));
    std::vector<LogLine> tail = m_log.LinesFrom("Scan time limit reached");
    ASSERT_GE(tail.size(), 1u);
    EXPECT_EQ(m_log.CountOf("Found 4 Orvalink(s)"), 1u);
    // Bounded: the limit, the lookup under way when it came, then the one second of probes.
    EXPECT_LE(m_net->Elapsed(), 5s + 1500ms + 1s);

    m_net->SetResolveCost(0ms);
    ScanAndWait(*thread, 1);
    ASSERT_TRUE(thread->Stop());
    EXPECT_EQ(TakeSequence(), "D");
    EXPECT_EQ(m_log.CountOf("Found no Orvalinks"), 1u);
}

// ---------------------------------------------------------------- locate

TEST_F(ScanThreadTest, LocateRequestIsExactlyTheSeventeenBytes) {
    auto thread = Started();
    thread->RequestLocate("10.0.0.20");
    ScanAndWait(*thread);  // commands run in order: the locate is done once the scan is
    ASSERT_TRUE(thread->Stop());
    std::vector<FakeSocketLayer::Sent> sends = m_net->Sends();
    ASSERT_EQ(sends.size(), 2u);
    EXPECT_FALSE(sends[0].broadcast);
    EXPECT_EQ(sends[0].addr, Ipv4("10.0.0.20"));
    EXPECT_EQ(sends[0].bytes, (std::vector<std::uint8_t>{0x0A, 0x4A, 0x8C, 0x69, 0xFE, 0xE4, 0x00, 0x22, 0x62,
                                                         0x6C, 0x69, 0x6E, 0x6B, 0x3A, 0x33, 0x30, 0x00}));
    EXPECT_TRUE(sends[1].broadcast);
    long at = m_log.IndexOf("CScanThread::ThreadEntry() Starting locate for 10.0.0.20");
    ASSERT_GE(at, 0);
    EXPECT_EQ(m_log.Lines()[at].level, "Debug");
}

TEST_F(ScanThreadTest, LocateFailuresAreLoggedAndBadTextIsNeverSent) {
    auto thread = Started();
    m_net->FailSendTo(EPERM);
    thread->RequestLocate("10.0.0.20");
    thread->RequestLocate("10.0.0");  // would read as 255.255.255.255 if parsed loosely
    ScanAndWait(*thread);
    ASSERT_TRUE(thread->Stop());
    EXPECT_EQ(m_log.CountOf("Failed to send location request (error code 1)"), 1u);
    EXPECT_EQ(m_log.CountOf("Failed to send location request (error code 22)"), 1u);
    std::vector<FakeSocketLayer::Sent> sends = m_net->Sends();
    ASSERT_EQ(sends.size(), 1u);
    EXPECT_TRUE(sends[0].broadcast);
}

TEST_F(ScanThreadTest, LocateDuringScanGoesOutAfterTheScanEnds) {
    auto thread = Started();
    m_net->HoldWaits(true);
    ASSERT_TRUE(thread->RequestScan());
    ASSERT_TRUE(m_net->WaitUntilHeld(kBound));
    thread->RequestLocate("10.0.0.20");
    m_net->HoldWaits(false);
    ScanAndWait(*thread, 2);
    ASSERT_TRUE(thread->Stop());
    std::vector<FakeSocketLayer::Sent> sends = m_net->Sends();
    ASSERT_EQ(sends.size(), 3u);
    EXPECT_TRUE(sends[0].broadcast);
    EXPECT_FALSE(sends[1].broadcast);
    EXPECT_TRUE(sends[2].broadcast);
    EXPECT_LT(m_log.IndexOf("Found no Orvalinks"),
              m_log.IndexOf("CScanThread::ThreadEntry() Starting locate for 10.0.0.20"));
    EXPECT_EQ(TakeSequence(), "DD");
}

TEST_F(ScanThreadTest, LocateWithoutWorkerPostsNothing) {
    CScanThread thread(m_net, m_net);
    thread.RequestLocate("10.0.0.20");  // the sanitizer build proves the copy is freed
    EXPECT_FALSE(thread.RequestScan());
    EXPECT_TRUE(thread.Stop());
    EXPECT_EQ(m_log.Texts(), (std::vector<std::string>{"Stopping scan thread"}));
}

// ---------------------------------------------------------------- order across scans and stop

TEST_F(ScanThreadTest, TwoScansInARowEachEndAfterTheirDevices) {
    m_net->SetRepliesOnBroadcast({MakeReply("10.0.0.1", "", 10ms), MakeReply("10.0.0.2", "", 20ms)});
    auto thread = Started();
    ASSERT_TRUE(thread->RequestScan());
    ASSERT_TRUE(thread->RequestScan());
    ASSERT_TRUE(m_listener.WaitForScanEnds(2, kBound));
    ASSERT_TRUE(thread->Stop());
    EXPECT_EQ(TakeSequence(), "AADAAD");
    EXPECT_EQ(m_net->Sends().size(), 2u);
    EXPECT_EQ(m_log.CountOf("Found 2 Orvalink(s)"), 2u);
}

TEST_F(ScanThreadTest, AnswersArrivingBetweenScansAreDroppedNotListedByTheNext) {
    auto thread = Started();
    ScanAndWait(*thread);
    // After the first scan's end: a device answering it late, and an unrelated echo reply.
    m_net->QueuePacket(MakeReply("10.0.0.8"));
    m_net->QueuePacket(MakeIcmp("10.0.0.50", 0));
    m_net->SetRepliesOnBroadcast({MakeReply("10.0.0.1", "", 10ms)});
    ScanAndWait(*thread, 2);
    ASSERT_TRUE(thread->Stop());
    EXPECT_EQ(TakeDevices(), (std::vector<Device>{{"10.0.0.1", "n/a", "n/a", "n/a"}}));
    EXPECT_EQ(m_log.CountOf("Discarded 2 packet(s) that arrived between scans"), 1u);
}

TEST_F(ScanThreadTest, StopDuringScanTakesEffectAfterTheScan) {
    auto thread = Started();
    m_net->HoldWaits(true);
    ASSERT_TRUE(thread->RequestScan());
    ASSERT_TRUE(m_net->WaitUntilHeld(kBound));
    std::thread release([&] {
        PollUntil([&] { return m_log.Contains("Stopping scan thread"); }, kBound);
        m_net->HoldWaits(false);
    });
    EXPECT_TRUE(thread->Stop());
    release.join();
    EXPECT_LT(m_log.IndexOf("Found no Orvalinks"), m_log.IndexOf("CScanThread::ThreadEntry() Aborting"));
    EXPECT_EQ(TakeSequence(), "D");
}

TEST_F(ScanThreadTest, WorkerOutlivingAStopThatGaveUpTouchesNothingFreed) {
    auto thread = Started(50ms);
    // Started() already ran Start; a second Start reports the running worker.
    ASSERT_TRUE(thread->Start());
    m_net->HoldWaits(true);
    ASSERT_TRUE(thread->RequestScan());
    ASSERT_TRUE(m_net->WaitUntilHeld(kBound));
    EXPECT_FALSE(thread->Stop());
    EXPECT_EQ(m_log.Lines().back(), Debug("No reaction from scan thread"));
    // Queued behind the stop command: never sent.
    thread->RequestLocate("10.0.0.20");
    thread->RequestLocate("10.0.0.21");
    // The object goes while its worker may still be held in the scan: it waits for the worker.
    std::thread release([&] { m_net->HoldWaits(false); });
    thread.reset();
    release.join();
    EXPECT_TRUE(m_log.Contains("CScanThread::ThreadEntry() Reader thread stopped."));
    EXPECT_EQ(m_net->Sends().size(), 1u);
    EXPECT_EQ(m_net->Closed(), 1);
    EXPECT_EQ(TakeSequence(), "D");
}

// ---------------------------------------------------------------- without a listener

TEST_F(ScanThreadTest, ResultsWithoutAListenerGoNowhere) {
    m_net->SetRepliesOnBroadcast({MakeReply("10.0.0.1", "type:OL\n", 10ms)});
    CScanThread thread(m_net, m_net);
    ASSERT_FALSE(thread.Worker().OpenRawSocket());
    thread.Worker().Scan();
    thread.SetListener(&m_listener);
    thread.SetListener(nullptr);  // detached again
    thread.Worker().Scan();
    thread.Worker().CloseRawSocket();
    EXPECT_EQ(m_log.CountOf("Found 1 Orvalink(s)"), 2u);
    EXPECT_EQ(TakeSequence(), "");
    EXPECT_EQ(m_net->Closed(), 1);
}

TEST_F(ScanThreadTest, ClosedSocketIsNeverUsedAgain) {
    CScanThread thread(m_net, m_net);
    ASSERT_FALSE(thread.Worker().OpenRawSocket());
    thread.Worker().CloseRawSocket();
    thread.Worker().CloseRawSocket();  // nothing left to close
    EXPECT_EQ(m_net->Closed(), 1);
    // Requests on the closed socket fail with the layer's own code instead of going out.
    thread.Worker().Scan();
    thread.Worker().Locate("10.0.0.20");
    EXPECT_TRUE(thread.RequestFailed());
    EXPECT_EQ(m_log.CountOf("Failed to send discover request (error code 9)"), 1u);
    EXPECT_EQ(m_log.CountOf("Failed to send location request (error code 9)"), 1u);
    EXPECT_TRUE(m_net->Sends().empty());
}

TEST_F(ScanThreadTest, DetachingWaitsForTheCallInProgress) {
    // The listener holds the worker inside OnDeviceFound until the test lets it go.
    struct HoldingListener : IScanListener {
        std::atomic<bool> inside{false}, release{false};
        void OnDeviceFound(const COrvalink&) override {
            inside = true;
            PollUntil([&] { return release.load(); }, kBound);
            inside = false;
        }
        void OnScanDone() override {}
    } holding;
    m_net->SetRepliesOnBroadcast({MakeReply("10.0.0.1", "", 10ms)});
    auto thread = Started();
    thread->SetListener(&holding);
    ASSERT_TRUE(thread->RequestScan());
    ASSERT_TRUE(PollUntil([&] { return holding.inside.load(); }, kBound));
    std::atomic<bool> detaching{false}, insideAfterDetach{true};
    std::thread detacher([&] {
        detaching = true;
        thread->SetListener(&m_listener);
        insideAfterDetach = holding.inside.load();
    });
    ASSERT_TRUE(PollUntil([&] { return detaching.load(); }, kBound));
    holding.release = true;
    detacher.join();
    EXPECT_FALSE(insideAfterDetach);
    ASSERT_TRUE(thread->Stop());
    EXPECT_EQ(TakeSequence().find('A'), std::string::npos);
}

TEST_F(ScanThreadTest, ListenerOutOfMemoryDropsThatDeviceOnly) {
    struct FailingFirst : RecordingListener {
        bool failed = false;
        void OnDeviceFound(const COrvalink& device) override {
            if (!std::exchange(failed, true))
                throw std::bad_alloc();
            RecordingListener::OnDeviceFound(device);
        }
    } listener;
    m_net->SetRepliesOnBroadcast({MakeReply("10.0.0.1", "", 10ms), MakeReply("10.0.0.2", "", 20ms)});
    CScanThread thread(m_net, m_net);
    thread.SetListener(&listener);
    ASSERT_FALSE(thread.Worker().OpenRawSocket());
    thread.Worker().Scan();
    thread.Worker().CloseRawSocket();
    std::vector<Device> devices;
    EXPECT_EQ(listener.Take(&devices), "AD");
    EXPECT_EQ(devices, (std::vector<Device>{{"10.0.0.2", "n/a", "n/a", "n/a"}}));
    long failed = m_log.IndexOf("ReportAddOrvalink() failed to allocate memory");
    ASSERT_GE(failed, 0);
    EXPECT_EQ(m_log.Lines()[failed].level, "Error");
    EXPECT_TRUE(m_log.Contains("Found 2 Orvalink(s)"));
}

}  // namespace
