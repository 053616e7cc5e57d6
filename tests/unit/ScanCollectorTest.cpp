// The command line's collection of one scan: a device is its interface, IP and MAC together.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DeviceRecord.h"
#include "ScanCollector.h"

using testsupport::MakeDevice;

TEST(ScanCollector, OneEntryPerInterfaceIpAndMac) {
    const struct {
        const char* what;
        std::vector<COrvalink> answers;
        std::size_t listed;
    } cases[] = {
        {"one IP on two segments",
         {MakeDevice("10.0.0.5", "02:00:00:00:00:05", "OL", "1", "eth0"),
          MakeDevice("10.0.0.5", "02:00:00:00:00:05", "OL", "1", "eth1")},
         2},
        {"two MACs on one IP",
         {MakeDevice("10.0.0.5", "02:00:00:00:00:05", "OL", "1", "eth0"),
          MakeDevice("10.0.0.5", "02:00:00:00:00:06", "OL", "1", "eth0")},
         2},
        {"one device answering twice",
         {MakeDevice("10.0.0.5", "02:00:00:00:00:05", "OL", "1", "eth0"),
          MakeDevice("10.0.0.5", "02:00:00:00:00:05", "OL", "2", "eth0")},
         1},
    };
    CScanCollector collector;
    for (const auto& c : cases) {
        for (const COrvalink& answer : c.answers)
            collector.OnDeviceFound(answer);
        collector.OnScanDone();
        std::vector<COrvalink> devices;
        long truncated = 0;
        collector.TakeScan(devices, truncated);
        EXPECT_EQ(devices.size(), c.listed) << c.what;
    }
}
