// The window that remembers: its memory of devices across scans, runs and other writers of its
// file; the notifications it tells once and groups; the optional columns beside the four.
#include <gtest/gtest.h>

#include <QHeaderView>

#include <fstream>
#include <functional>
#include <sstream>

#include "DeviceRecord.h"
#include "TestSupport.h"
#include "base/SafeFile.h"
#include "formats/KnownDevicesFile.h"
#include "formats/KnownDevicesLock.h"
#include "gui/app/DesktopNotifier.h"
#include "gui/app/DeviceList.h"
#include "gui/app/DeviceMemory.h"
#include "gui/framework/Contrast.h"

using testsupport::MakeDevice;

namespace {

COrvalink Device(const std::string& n) {
    return MakeDevice("10.0.0." + n, "02:00:00:00:00:0" + n, "OL-2000", "1.0");
}

// The IPs' last parts, space-separated, of keys or devices.
std::string Ips(const std::vector<CKnownDevices::Key>& keys) {
    std::string out;
    for (const auto& key : keys)
        out += (out.empty() ? "" : " ") + std::get<1>(key).substr(7);
    return out;
}
std::string Ips(const std::vector<KnownDevice>& devices) {
    std::string out;
    for (const KnownDevice& d : devices)
        out += (out.empty() ? "" : " ") + d.ip.substr(7);
    return out;
}

std::string FileText(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(DeviceMemoryTest, ScansRestartsAndOtherWriters) {
    testsupport::TempDir dir;
    const std::string path = dir.file("state/oldiscovery/known-devices.json");
    CDeviceMemory memory(path);
    ASSERT_FALSE(memory.Load());  // no file yet: an empty memory
    const auto forgetTwo = [&] {
        CKnownDevices known;
        ASSERT_FALSE(ReadKnownDevices(FileText(path), known));
        known.Forget("10.0.0.2");
        ASSERT_FALSE(WriteFileAtomically(path, KnownDevicesText(known), 0600));
    };
    struct Step {
        const char* what;
        std::vector<std::string> answering;
        const char *added, *missing, *gone;
        std::function<void()> before;
        bool locked = false;  // another writer holds the file's lock meanwhile
    };
    const Step steps[] = {
        {"the first scan: both new", {"1", "2"}, "1 2", "", "", nullptr},
        {"2 silent: missing", {"1"}, "", "2", "", nullptr},
        {"2 silent for its bound: gone, once", {"1"}, "", "2", "2", nullptr},
        {"still silent: missing, not gone again", {"1"}, "", "2", "", nullptr},
        {"forgotten meanwhile by another writer: stays forgotten", {"1"}, "", "", "", forgetTwo},
        {"back after being forgotten: new", {"1", "2"}, "2", "", "", nullptr},
        {"3 new while 2 is silent, the lock held elsewhere: kept", {"1", "3"}, "3", "2", "", nullptr, true},
        {"the lock free again: the kept scan written before this one", {"1", "3"}, "", "2", "2", nullptr},
    };
    double time = 1796645123;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        if (step.before)
            step.before();
        std::vector<COrvalink> devices;
        for (const std::string& n : step.answering)
            devices.push_back(Device(n));
        std::string reason;
        const UniqueFd other = step.locked ? LockKnownDevices(path, reason, -1, {}) : UniqueFd();
        const std::string before = FileText(path);
        MemoryScan scan;
        EXPECT_EQ(memory.Record(
                          devices, time += 60, [](const KnownDevice&) { return 2ul; }, scan).code ==
                      std::errc::resource_unavailable_try_again,
                  step.locked);
        EXPECT_EQ(FileText(path) == before, step.locked);
        EXPECT_EQ(Ips(scan.added), step.added);
        EXPECT_EQ(Ips(scan.missing), step.missing);
        EXPECT_EQ(Ips(scan.gone), step.gone);
    }
    // The file, as the command line reads it, is what a restart starts from.
    CDeviceMemory restarted(path);
    ASSERT_FALSE(restarted.Load());
    EXPECT_EQ(restarted.Known().Devices().size(), 3u);
    EXPECT_EQ(restarted.Known().Devices().begin()->second.lastSeen, time);
    EXPECT_FALSE(restarted.Forget(KnownKey(Device("2"))));
    CKnownDevices onDisk;
    ASSERT_FALSE(ReadKnownDevices(FileText(path), onDisk));
    EXPECT_EQ(onDisk.Devices().size(), 2u);

    // A damaged file is said and left as it is; the memory still follows the scans.
    {
        std::ofstream(path)
            << "{\"format\": \"oldiscovery-known-devices\", \"version\": 1, \"devices\": [\n{";
    }
    MemoryScan scan;
    EXPECT_EQ(restarted
                  .Record(
                      {Device("4")}, time + 60, [](const KnownDevice&) { return 2ul; }, scan)
                  .code,
              make_error_code(Errc::DamagedFile));
    EXPECT_EQ(Ips(scan.added), "4");
    EXPECT_EQ(FileText(path).back(), '{');
}

// A writer that never lets go: the window keeps only its last scans, and writes them once it can.
TEST(DeviceMemoryTest, ScansKeptWhileLockedAreBounded) {
    testsupport::TempDir dir;
    const std::string path = dir.file("known-devices.json");
    CDeviceMemory memory(path);
    const auto scanOnly = [&](std::vector<COrvalink> devices, double time) {
        MemoryScan scan;
        return memory.Record(devices, time, [](const KnownDevice&) { return 3ul; }, scan);
    };
    ASSERT_FALSE(scanOnly({Device("1"), Device("2")}, 1));
    {
        std::string reason;
        const UniqueFd other = LockKnownDevices(path, reason, -1, {});
        for (std::size_t n = 0; n < CDeviceMemory::kMaxUnwritten + 5; ++n)
            ASSERT_TRUE(scanOnly({Device("1")}, 2 + n));
    }
    ASSERT_FALSE(scanOnly({Device("1")}, 1000));
    CKnownDevices onDisk;
    ASSERT_FALSE(ReadKnownDevices(FileText(path), onDisk));
    EXPECT_EQ(onDisk.Devices().at(KnownKey(Device("2"))).missed, CDeviceMemory::kMaxUnwritten + 1);
}

TEST(DesktopNotifierTest, EachDeviceAndEventOnceManyGrouped) {
    CDesktopNotifier notifier;
    const auto notice = [](DeviceEvent event, const std::string& n) {
        return DeviceNotice{event, "eth0 10.0.0." + n, "device " + n};
    };
    struct Call {
        const char* what;
        std::vector<DeviceNotice> notices;
        std::string told;  // summaries, then a grouped one's body, "|" between
    };
    const Call calls[] = {
        {"two new",
         {notice(DeviceEvent::New, "1"), notice(DeviceEvent::New, "2")},
         "New device: device 1|New device: device 2"},
        {"told before; another event of one of them",
         {notice(DeviceEvent::New, "1"), notice(DeviceEvent::Gone, "1"),
          notice(DeviceEvent::BuildNotApproved, "2")},
         "Device gone: device 1|Build not approved: device 2"},
        {"four new at once: grouped, without the one told before",
         {notice(DeviceEvent::New, "2"), notice(DeviceEvent::New, "3"), notice(DeviceEvent::New, "4"),
          notice(DeviceEvent::New, "5"), notice(DeviceEvent::New, "6")},
         "4 new devices|device 3\ndevice 4\ndevice 5\ndevice 6"},
        {"all told before", {notice(DeviceEvent::Gone, "1"), notice(DeviceEvent::New, "6")}, ""},
    };
    for (const Call& call : calls) {
        SCOPED_TRACE(call.what);
        std::string told;
        for (const Notification& n : notifier.Take(call.notices))
            told += (told.empty() ? "" : "|") + n.summary + (n.body.empty() ? "" : "|" + n.body);
        EXPECT_EQ(told, call.told);
    }
}

TEST(DeviceListColumnsTest, OptionalColumnsLeaveTheFourAndMissingRowsApart) {
    CDeviceList list;
    list.setHeaderLabels({"IP", "MAC", "Type", "Build"});
    list.header()->setStretchLastSection(true);
    const int widths[] = {100, 120, 150, 300};
    for (int i = 0; i < 4; ++i)
        list.header()->resizeSection(i, widths[i]);
    list.resize(1200, 300);
    list.show();
    list.AddDevice(Device("1"));
    RowExtras missing;
    missing.state = RowExtras::State::Missing;
    missing.lastSeen = QDateTime::currentDateTime();
    missing.lastSeen.setTime(QTime(14, 2));
    list.AddDevice(Device("2"), missing);
    EXPECT_EQ(list.topLevelItem(1)->text(3).toStdString(), "1.0 (last seen 14:02)");
    // Greyed, yet readable on the list's face (a light palette's greyed text is not).
    const QColor grey = list.topLevelItem(1)->foreground(0).color();
    EXPECT_NE(grey, list.palette().color(QPalette::Text));
    EXPECT_GE(ContrastRatio(grey, list.palette().color(QPalette::Base)), kReadableContrast);
    EXPECT_EQ(list.MissingCount(), 1);
    EXPECT_EQ(list.ShownCount(), 1);
    EXPECT_EQ(list.DevicesShown().size(), 1u);

    struct Case {
        unsigned mask;
        int columns;
        const char* shown;  // of the optional columns
    };
    const Case cases[] = {{1, 8, "Name"}, {0b1010, 8, "Interface Approved build"}, {0, 8, ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown);
        list.ShowColumns(c.mask);
        EXPECT_EQ(list.columnCount(), c.columns);
        std::string shown;
        for (int column = COLUMN_NAME; column < list.columnCount(); ++column) {
            if (!list.isColumnHidden(column))
                shown += (shown.empty() ? "" : " ") + list.headerItem()->text(column).toStdString();
        }
        EXPECT_EQ(shown, c.shown);
        for (int i = 0; i < (c.mask ? 4 : 3); ++i)
            EXPECT_EQ(list.header()->sectionSize(i), widths[i]) << i;
    }
    EXPECT_EQ(list.topLevelItem(0)->text(COLUMN_INTERFACE).toStdString(), "eth0");
}
