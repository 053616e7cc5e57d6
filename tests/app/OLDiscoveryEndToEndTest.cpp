// The program's start-up and main dialog against simulated devices on a namespace network.
// Runs only inside the test network (end-to-end.sh), which passes the expected rows.
#include <gtest/gtest.h>

#include <QTreeWidget>
#include <QPushButton>

#include <sys/capability.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "AppTestSupport.h"
#include "app/OLDiscoveryApp.h"
#include "app/OLDiscoveryDlg.h"

using apptest::ModalScript;
using apptest::ScopedWorkDir;

TEST(OLDiscoveryEndToEndTest, TheFirstScanAndARefreshListEveryDeviceWithMacTypeAndBuild) {
    const char* expected = std::getenv("OLD_EXPECTED_ROWS");
    if (!expected)
        GTEST_SKIP() << "run by end-to-end.sh inside the test network";

    ScopedWorkDir dir;
    std::string rows, refreshedRows;
    bool scanEnded = false, refreshEnded = false;
    std::vector<std::string> seen;
    bool uiThreadHoldsNetRaw = true;
    {
        // The running system and its raw sockets, as the program has them.
        COLDiscoveryApp app(nullptr, nullptr, "OLDiscovery");
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
            scanEnded = apptest::WaitUntil([&] { return dlg->m_btnRefresh->isEnabled(); },
                                           std::chrono::seconds(20));
            rows = listed();
            // Refresh pressed right after the scan lists everything again.
            dlg->m_btnRefresh->click();
            refreshEnded = !dlg->m_btnRefresh->isEnabled() &&
                           apptest::WaitUntil([&] { return dlg->m_btnRefresh->isEnabled(); },
                                              std::chrono::seconds(20));
            refreshedRows = listed();

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
    EXPECT_FALSE(std::filesystem::exists(dir.File("debug.log")))
        << testsupport::ReadFileBytes(dir.File("debug.log"));
}
