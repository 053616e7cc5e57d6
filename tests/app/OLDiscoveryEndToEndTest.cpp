// The program's start-up and main dialog against simulated devices on a namespace network.
// Runs only inside the test network (end-to-end.sh), which passes the expected rows.
#include <gtest/gtest.h>

#include <QTreeWidget>
#include <QPushButton>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "AppTestSupport.h"
#include "app/OLDiscoveryApp.h"
#include "app/OLDiscoveryDlg.h"

using apptest::ModalScript;
using apptest::ScopedWorkDir;

TEST(OLDiscoveryEndToEndTest, TheFirstScanListsEveryDeviceWithMacTypeAndBuild) {
    const char* expected = std::getenv("OLD_EXPECTED_ROWS");
    if (!expected)
        GTEST_SKIP() << "run by end-to-end.sh inside the test network";

    ScopedWorkDir dir;
    std::string rows;
    bool scanEnded = false;
    std::vector<std::string> seen;
    {
        // The running system and its raw sockets, as the program has them.
        COLDiscoveryApp app(nullptr, nullptr, "OLDiscovery");
        ModalScript script([&](QWidget* w) {
            auto* dlg = qobject_cast<COLDiscoveryDlg*>(w);
            if (!dlg)
                return;
            scanEnded = apptest::WaitUntil([&] { return dlg->m_btnRefresh->isEnabled(); },
                                           std::chrono::seconds(20));
            std::ostringstream out;
            for (int i = 0; i < dlg->m_listDevices->topLevelItemCount(); ++i) {
                QTreeWidgetItem* item = dlg->m_listDevices->topLevelItem(i);
                for (int c = 0; c < 4; ++c)
                    out << (c ? "\t" : "") << item->text(c).toStdString();
                out << "\n";
            }
            rows = out.str();
        });
        app.InitInstance();
        seen = script.Seen();
    }
    ASSERT_EQ(seen, std::vector<std::string>{"COLDiscoveryDlg"})
        << testsupport::ReadFileBytes(dir.File("debug.log"));
    EXPECT_TRUE(scanEnded);
    EXPECT_EQ(rows, std::string(expected) + "\n");
    EXPECT_FALSE(std::filesystem::exists(dir.File("debug.log")))
        << testsupport::ReadFileBytes(dir.File("debug.log"));
}
