// The command line's collection of one scan: a device is its interface, IP and MAC together.
#include <poll.h>

#include <gtest/gtest.h>

#include "DeviceRecord.h"
#include "ScanCollector.h"

TEST(ScanCollector, OneEntryPerInterfaceIpAndMac) {
    const auto at = [](const char* interface, const char* mac, const char* build = "1") {
        return testsupport::MakeDevice("10.0.0.5", mac, "OL", build, interface);
    };
    const struct {
        const char* what;
        std::vector<COrvalink> answers;
        std::size_t listed;
    } cases[] = {
        {"one IP on two segments", {at("eth0", "02:00:00:00:00:05"), at("eth1", "02:00:00:00:00:05")}, 2},
        {"two MACs on one IP", {at("eth0", "02:00:00:00:00:05"), at("eth0", "02:00:00:00:00:06")}, 2},
        {"one device answering twice", {at("eth0", "02:00:00:00:00:05"), at("eth0", "02:00:00:00:00:05", "2")}, 1},
    };
    CScanCollector collector;
    for (const auto& c : cases) {
        for (const COrvalink& answer : c.answers)
            collector.OnDeviceFound(answer);
        std::vector<COrvalink> devices;
        long truncated = 0;
        collector.TakeScan(devices, truncated);
        EXPECT_EQ(devices.size(), c.listed) << c.what;
    }
}

// The main thread reads the state file once the request is out; a request that could not go out
// ends the scan and must wake it all the same, and the next scan starts unsignalled.
TEST(ScanCollector, TheRequestIsOutOnceSentOrWhenTheScanEnded) {
    const auto readable = [](int fd) {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, 0) == 1;
    };
    const struct {
        const char* what;
        bool sent, done;
    } cases[] = {{"sent", true, false}, {"not sent, ended", false, true}, {"neither", false, false}};
    CScanCollector collector;
    for (const auto& c : cases) {
        if (c.sent)
            collector.OnRequestSent();
        if (c.done)
            collector.OnScanDone();
        EXPECT_EQ(readable(collector.SentFd()), c.sent || c.done) << c.what;
        std::vector<COrvalink> devices;
        long truncated = 0;
        collector.TakeScan(devices, truncated);
        EXPECT_FALSE(readable(collector.SentFd())) << c.what;
    }
}
