// The program's start-up and main dialog against simulated devices on a namespace network.
// Runs only inside the test network (end-to-end.sh), which passes the expected rows.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <fcntl.h>
#include <poll.h>
#include <sys/capability.h>
#include <unistd.h>

#include <QContextMenuEvent>
#include <QMenu>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>

#include "AppTestSupport.h"
#include "gui/app/OLDiscoveryApp.h"
#include "gui/app/OLDiscoveryDlg.h"
#include "gui/app/SystemProbe.h"
#include "net/LinuxSocketLayer.h"

using apptest::ModalScript;
using apptest::ScopedWorkDir;

namespace {

// The next line the simulated device writes to its FIFO record, or "" after 5 s.
std::string ReadRecordLine(int fd) {
    std::string line;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (char c; line.empty() || line.back() != '\n';) {
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        pollfd pfd{fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&pfd, 1, static_cast<int>(left.count())) <= 0)
            return "";
        if (read(fd, &c, 1) == 1)
            line += c;
    }
    line.pop_back();
    return line;
}

// Right click on the row with this IP and "Locate" from its menu, as the user does it.
void LocateFromContextMenu(COLDiscoveryDlg* dlg, const QString& ip) {
    QTreeWidget* list = dlg->m_listDevices;
    QTreeWidgetItem* row = list->findItems(ip, Qt::MatchExactly, 0).value(0);
    ASSERT_TRUE(row);
    ModalScript pick([](QWidget* w) {
        auto* menu = qobject_cast<QMenu*>(w);
        for (QAction* action : menu ? menu->actions() : QList<QAction*>()) {
            if (action->text() == QStringLiteral("Locate"))
                menu->setActiveAction(action);
        }
        QTest::keyClick(w, Qt::Key_Return);
    });
    const QPoint at = list->visualItemRect(row).center();
    QContextMenuEvent click(QContextMenuEvent::Mouse, at, list->viewport()->mapToGlobal(at));
    QCoreApplication::sendEvent(list->viewport(), &click);
}

}  // namespace

TEST(OLDiscoveryEndToEndTest, TheFirstScanAndARefreshListEveryDeviceAndLocateReachesTheDevice) {
    const char* expected = std::getenv("OLD_EXPECTED_ROWS");
    if (!expected)
        GTEST_SKIP() << "run by end-to-end.sh inside the test network";

    const char* recordPath = std::getenv("OLD_LOCATE_RECORD");
    const int record = recordPath ? open(recordPath, O_RDONLY | O_NONBLOCK | O_CLOEXEC) : -1;
    ASSERT_GE(record, 0) << "the locate record of 10.77.1.2";

    ScopedWorkDir dir;
    std::string rows, refreshedRows;
    std::string locateRequest;
    bool scanEnded = false, refreshEnded = false;
    std::vector<std::string> seen;
    bool uiThreadHoldsNetRaw = true;
    {
        // The running system and its raw sockets, opened and the capabilities given up as the
        // program's main does.
        RawSockets opened = OpenRawSockets();
        ASSERT_FALSE(opened.dropFailure) << opened.dropFailure.code.message();
        auto arp = std::make_shared<CLinuxArpResolver>(std::move(opened.link));
        auto sockets = std::make_shared<CLinuxSocketLayer>(std::move(opened), arp);
        COLDiscoveryApp app(CreateSystemProbe(sockets->RawIcmpOpened()), sockets, arp, "OLDiscovery");
        ModalScript script([&](QWidget* w) {
            auto* dlg = qobject_cast<COLDiscoveryDlg*>(w);
            if (!dlg)
                return;
            auto listed = [&] {
                std::ostringstream out;
                for (int i = 0; i < dlg->m_listDevices->topLevelItemCount(); ++i) {
                    QTreeWidgetItem* item = dlg->m_listDevices->topLevelItem(i);
                    for (int c = 0; c < 4; ++c)
                        out << (c ? "\t" : "") << item->text(c).toStdString();
                    out << "\n";
                }
                return out.str();
            };
            scanEnded =
                apptest::WaitUntil([&] { return dlg->m_btnRefresh->isEnabled(); }, std::chrono::seconds(20));
            rows = listed();
            // Refresh pressed right after the scan lists everything again.
            dlg->m_btnRefresh->click();
            refreshEnded =
                !dlg->m_btnRefresh->isEnabled() &&
                apptest::WaitUntil([&] { return dlg->m_btnRefresh->isEnabled(); }, std::chrono::seconds(20));
            refreshedRows = listed();
            LocateFromContextMenu(dlg, QStringLiteral("10.77.1.2"));
            locateRequest = ReadRecordLine(record);

            // The test runs as root: the dialog must still leave its thread without privilege.
            cap_t caps = cap_get_proc();
            cap_flag_value_t effective = CAP_SET, permitted = CAP_SET;
            cap_get_flag(caps, CAP_NET_RAW, CAP_EFFECTIVE, &effective);
            cap_get_flag(caps, CAP_NET_RAW, CAP_PERMITTED, &permitted);
            cap_free(caps);
            uiThreadHoldsNetRaw = effective == CAP_SET || permitted == CAP_SET;
        });
        app.InitInstance();
        seen = script.Seen();
    }
    ASSERT_EQ(seen, std::vector<std::string>{"COLDiscoveryDlg"})
        << testsupport::ReadFileBytes(dir.File("debug.log"));
    EXPECT_TRUE(scanEnded);
    EXPECT_FALSE(uiThreadHoldsNetRaw);
    EXPECT_EQ(rows, std::string(expected) + "\n");
    EXPECT_TRUE(refreshEnded);
    EXPECT_EQ(refreshedRows, rows);
    // The marked solicitation with "blink:30": 17 bytes, checksum included.
    EXPECT_EQ(locateRequest, "0A 4A 8C 69 FE E4 00 22 62 6C 69 6E 6B 3A 33 30 00");
    close(record);
    EXPECT_FALSE(std::filesystem::exists(dir.File("debug.log")))
        << testsupport::ReadFileBytes(dir.File("debug.log"));
}
