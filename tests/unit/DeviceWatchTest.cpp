// The watch's events over a run of scans on a fake clock: what appears, what goes after how
// many missed scans, what comes back, what changes, and the event lines themselves.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "DeviceRecord.h"
#include "engine/DeviceWatch.h"
#include "formats/KnownDevicesFile.h"
#include "formats/WatchOutput.h"

using namespace std::chrono_literals;

namespace {

// "ip/interface/mac/type/build"
COrvalink Dev(const std::string& fields) {
    std::vector<std::string> f;
    std::size_t start = 0;
    for (;;) {
        std::size_t slash = fields.find('/', start);
        f.push_back(fields.substr(start, slash - start));
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    f.resize(5, "n/a");
    return testsupport::MakeDevice(f[0], f[2], f[3], f[4], f[1]);
}

const COrvalink A = Dev("10.0.0.1/eth0/02:00:00:00:00:01/OL-2000/1.0");
const COrvalink B = Dev("10.0.0.2/eth0/02:00:00:00:00:02/OL-2000/1.0");
const COrvalink A_ON_ETH1 = Dev("10.0.0.1/eth1/02:00:00:00:01:01/OL-2000/1.0");
const COrvalink A_NEW_BUILD = Dev("10.0.0.1/eth0/02:00:00:00:00:01/OL-2000/1.1");
const COrvalink A_NEW_MAC = Dev("10.0.0.1/eth0/02:00:00:00:00:99/OL-2000/1.0");
const COrvalink A_NEW_TYPE = Dev("10.0.0.1/eth0/02:00:00:00:00:01/OL-3000/1.0");

// An event in short: "appeared 10.0.0.1 eth0", "changed 10.0.0.1 eth0 build 1.0>1.1".
std::string Short(const WatchEvent& e) {
    static const char* const kNames[] = {"appeared", "gone", "changed"};
    std::string s = std::string(kNames[static_cast<int>(e.kind)]) + " " + e.device.m_strIP + " " +
                    e.device.m_strInterface;
    if (e.kind == WatchEvent::Kind::Changed) {
        if (e.previous.m_strMAC != e.device.m_strMAC)
            s += " mac " + e.previous.m_strMAC + ">" + e.device.m_strMAC;
        if (e.previous.m_strType != e.device.m_strType)
            s += " type " + e.previous.m_strType + ">" + e.device.m_strType;
        if (e.previous.m_strBuild != e.device.m_strBuild)
            s += " build " + e.previous.m_strBuild + ">" + e.device.m_strBuild;
    }
    return s;
}

struct Scan {
    std::vector<COrvalink> devices;
    std::vector<std::string> events;  // expected, in order
    std::vector<std::string> interfaces = {};  // scanned; none: all
};
struct Case {
    const char* what;
    unsigned goneAfter;
    std::vector<Scan> scans;
};

TEST(DeviceWatch, EventsOverARunOfScans) {
    const Case cases[] = {
        {"first scan: every device appears; the same scan again says nothing",
         3,
         {{{A, B}, {"appeared 10.0.0.1 eth0", "appeared 10.0.0.2 eth0"}}, {{A, B}, {}}, {{B, A}, {}}}},
        {"only the scanned interface's devices miss a scan",
         1,
         {{{A, A_ON_ETH1}, {"appeared 10.0.0.1 eth0", "appeared 10.0.0.1 eth1"}},
          {{A}, {}, {"eth0"}},
          {{}, {"gone 10.0.0.1 eth1"}, {"eth1"}}}},
        {"gone only after N missed scans in a row",
         3,
         {{{A, B}, {"appeared 10.0.0.1 eth0", "appeared 10.0.0.2 eth0"}},
          {{B}, {}},
          {{B}, {}},
          {{B}, {"gone 10.0.0.1 eth0"}},
          {{B}, {}}}},
        {"one lost reply is no alarm: the count starts again",
         2,
         {{{A}, {"appeared 10.0.0.1 eth0"}},
          {{}, {}},
          {{A}, {}},
          {{}, {}},
          {{A}, {}},
          {{}, {}},
          {{}, {"gone 10.0.0.1 eth0"}}}},
        {"gone after 1: the first scan without it",
         1,
         {{{A}, {"appeared 10.0.0.1 eth0"}}, {{}, {"gone 10.0.0.1 eth0"}}}},
        {"back after gone appears again",
         1,
         {{{A}, {"appeared 10.0.0.1 eth0"}},
          {{}, {"gone 10.0.0.1 eth0"}},
          {{}, {}},
          {{A}, {"appeared 10.0.0.1 eth0"}}}},
        {"changes of build and type carry old and new; another MAC on the address is another device",
         2,
         {{{A}, {"appeared 10.0.0.1 eth0"}},
          {{A_NEW_BUILD}, {"changed 10.0.0.1 eth0 build 1.0>1.1"}},
          {{A}, {"changed 10.0.0.1 eth0 build 1.1>1.0"}},
          {{A_NEW_MAC}, {"appeared 10.0.0.1 eth0"}},
          {{A_NEW_TYPE, A_NEW_MAC}, {"changed 10.0.0.1 eth0 type OL-2000>OL-3000"}},
          {{A_NEW_MAC, A_NEW_TYPE}, {}},
          {{A_NEW_TYPE}, {}},
          {{A_NEW_TYPE}, {"gone 10.0.0.1 eth0"}}}},
        {"the same address on another interface is another device",
         1,
         {{{A}, {"appeared 10.0.0.1 eth0"}},
          {{A, A_ON_ETH1}, {"appeared 10.0.0.1 eth1"}},
          {{A_ON_ETH1}, {"gone 10.0.0.1 eth0"}}}},
        {"a device answering twice in a scan: its first answer counts, once",
         3,
         {{{A, A, A_NEW_BUILD}, {"appeared 10.0.0.1 eth0"}},
          {{A_NEW_BUILD, A}, {"changed 10.0.0.1 eth0 build 1.0>1.1"}}}},
        {"a change after missed scans is a change, not a new device",
         3,
         {{{A}, {"appeared 10.0.0.1 eth0"}},
          {{}, {}},
          {{}, {}},
          {{A_NEW_BUILD}, {"changed 10.0.0.1 eth0 build 1.0>1.1"}}}},
    };
    for (const Case& c : cases) {
        CDeviceWatch watch(c.goneAfter);
        auto clock = std::chrono::system_clock::time_point(1796645123s);
        for (std::size_t i = 0; i < c.scans.size(); ++i) {
            clock += 10s;
            std::vector<std::string> got;
            for (const WatchEvent& e : watch.Update(c.scans[i].devices, clock, c.scans[i].interfaces)) {
                EXPECT_EQ(e.time, clock) << c.what;
                got.push_back(Short(e));
            }
            EXPECT_EQ(got, c.scans[i].events) << c.what << ", scan " << i + 1;
        }
    }
}

// A watch that keeps its inventory (--state) and starts again from it: devices known and
// answering are not announced again; the count of missed scans goes on across the restart.
TEST(DeviceWatch, RestartedFromItsInventoryAnnouncesOnlyWhatChanged) {
    const struct {
        const char* what;
        std::vector<std::vector<COrvalink>> before, after;
        std::vector<std::string> events;  // of the scans after the restart
    } cases[] = {
        {"known and answering: nothing", {{A, B}}, {{A, B}, {B, A}}, {}},
        {"a new build and a new device", {{A, B}}, {{A_NEW_BUILD, B, A_ON_ETH1}},
         {"changed 10.0.0.1 eth0 build 1.0>1.1", "appeared 10.0.0.1 eth1"}},
        {"missed before and after the restart: gone after three in all", {{A, B}, {B}, {B}}, {{B}, {B}},
         {"gone 10.0.0.1 eth0"}},
        {"gone before the restart: not again, and back as appeared", {{A, B}, {B}, {B}, {B}}, {{B}, {B}, {A, B}},
         {"appeared 10.0.0.1 eth0"}},
    };
    for (const auto& c : cases) {
        auto clock = std::chrono::system_clock::time_point(1796645123s);
        CDeviceWatch first(3, true);
        for (const auto& scan : c.before)
            first.Update(scan, clock += 10s);
        CDeviceWatch again(3, true);
        ASSERT_FALSE(ReadKnownDevices(KnownDevicesText(first.Known()), again.Known())) << c.what;
        std::vector<std::string> got;
        for (const auto& scan : c.after)
            for (const WatchEvent& e : again.Update(scan, clock += 10s))
                got.push_back(Short(e));
        EXPECT_EQ(got, c.events) << c.what;
    }
}

TEST(DeviceWatch, ForgetsWhatIsGoneSoThousandsOfScansKeepItsSize) {
    CDeviceWatch watch(2);
    auto clock = std::chrono::system_clock::time_point(0s);
    for (int scan = 0; scan < 5000; ++scan) {
        // A new address every scan: each stays known for at most two scans.
        COrvalink d = A;
        d.m_strIP = "10.0." + std::to_string(scan / 250) + "." + std::to_string(scan % 250);
        watch.Update({d, B}, clock += 1s);
        ASSERT_LE(watch.KnownCount(), 4u) << scan;
    }
}

TEST(DeviceWatch, EventLinesAreOneJsonObjectEach) {
    const auto time = std::chrono::system_clock::time_point(1796645123456ms);
    COrvalink hostile = A;
    hostile.m_strBuild = "say \"hi\"\n\\\xFF";
    const struct {
        WatchEvent event;
        std::string line;
    } cases[] = {
        {WatchEvent{WatchEvent::Kind::Appeared, time, A, {}},
         "{\"time\": \"2026-12-07T12:05:23.456Z\", \"event\": \"appeared\", \"interface\": \"eth0\", \"ip\": "
         "\"10.0.0.1\", \"mac\": \"02:00:00:00:00:01\", \"type\": \"OL-2000\", \"build\": \"1.0\"}\n"},
        {WatchEvent{WatchEvent::Kind::Gone, time, hostile, {}},
         "{\"time\": \"2026-12-07T12:05:23.456Z\", \"event\": \"gone\", \"interface\": \"eth0\", \"ip\": "
         "\"10.0.0.1\", \"mac\": \"02:00:00:00:00:01\", \"type\": \"OL-2000\", \"build\": \"say "
         "\\\"hi\\\"\\n\\\\\xC3\xBF\"}\n"},
        {WatchEvent{WatchEvent::Kind::Changed, time, A_NEW_BUILD, A},
         "{\"time\": \"2026-12-07T12:05:23.456Z\", \"event\": \"changed\", \"interface\": \"eth0\", \"ip\": "
         "\"10.0.0.1\", \"mac\": \"02:00:00:00:00:01\", \"type\": \"OL-2000\", \"build\": \"1.1\", \"old\": "
         "{\"mac\": \"02:00:00:00:00:01\", \"type\": \"OL-2000\", \"build\": \"1.0\"}}\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatWatchEvent(c.event), c.line);
}

TEST(DeviceWatch, TimesAreRfc3339InUtc) {
    using std::chrono::system_clock;
    EXPECT_EQ(Rfc3339(system_clock::time_point(0ms)), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(Rfc3339(system_clock::time_point(951782400999ms)), "2000-02-29T00:00:00.999Z");
    EXPECT_EQ(Rfc3339(system_clock::time_point(-1ms)), "1969-12-31T23:59:59.999Z");
}

}  // namespace
