// The main dialog, offscreen, with the real scan thread on a fake socket layer.
#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <arpa/inet.h>

#include <cerrno>
#include <memory>
#include <thread>

#include "AppTestSupport.h"
#include "DeviceRecord.h"
#include "FakeSocketLayer.h"
#include "StandIn.h"
#include "gui/app/OLDiscoveryDlg.h"
#include "engine/ScanListener.h"
#include "engine/ScanThread.h"
#include "res/Resource.h"
#include "res/StringTable.h"
#include "gui/settings/Prefs.h"

using namespace std::chrono_literals;
using apptest::ModalScript;
using apptest::ScopedWorkDir;
using apptest::WaitUntil;
using testsupport::FakeSocketLayer;
using testsupport::MakeDevice;
using testsupport::MakeReply;

namespace {

// Hands devices to the open dialog from another thread, as the scan worker does.
void ReportFromWorker(const COLDiscoveryDlg& dlg, const std::vector<COrvalink>& devices) {
    IScanListener* listener = dlg.GetScanListener();
    ASSERT_NE(listener, nullptr);
    std::thread worker([&] {
        for (const COrvalink& device : devices)
            listener->OnDeviceFound(device);
    });
    worker.join();
}

std::vector<std::string> Column(const COLDiscoveryDlg& dlg, int column) {
    std::vector<std::string> texts;
    for (int i = 0; i < dlg.m_listDevices->topLevelItemCount(); ++i)
        texts.push_back(dlg.m_listDevices->topLevelItem(i)->text(column).toStdString());
    return texts;
}

std::string LabelText(const COLDiscoveryDlg& dlg, int id) {
    auto* label = qobject_cast<QLabel*>(dlg.GetDlgItem(id));
    return label ? label->text().toStdString() : "<no label>";
}

class RecordingDlg : public COLDiscoveryDlg {
public:
    using COLDiscoveryDlg::COLDiscoveryDlg;
    void OnSysCommand(unsigned command) override {
        m_commands.push_back(command);
        COLDiscoveryDlg::OnSysCommand(command);
    }
    std::vector<unsigned> m_commands;
};

class DialogTest : public testing::Test {
protected:
    // The dialog's scan-thread object, with short handshake bounds.
    void UseScanThread(std::chrono::milliseconds startTimeout = 5000ms) {
        m_scanner = std::make_unique<CScanThread>(m_sockets, m_sockets, startTimeout, 10000ms);
    }

    // Runs the dialog modally; the script acts inside its modal loop, and the dialog is closed
    // afterwards if the script left it open.
    int Run(COLDiscoveryDlg& dlg, const std::function<void()>& script) {
        dlg.SetScanThread(m_scanner.get());
        ModalScript modal([&](QWidget*) { script(); });
        return dlg.DoModal();
    }

    size_t Scans() { return m_sockets->Sends().size(); }

    ScopedWorkDir m_dir;
    std::shared_ptr<FakeSocketLayer> m_sockets = std::make_shared<FakeSocketLayer>();
    CPrefs m_prefs;
    std::unique_ptr<CScanThread> m_scanner;
};

}  // namespace

TEST_F(DialogTest, OpeningStartsTheWorkerAndRefreshWaitsForTheScanEnd) {
    UseScanThread();
    m_sockets->HoldWaits(true);
    COLDiscoveryDlg dlg(&m_prefs);
    Run(dlg, [&] {
        ASSERT_TRUE(m_sockets->WaitUntilHeld(5000ms));
        EXPECT_EQ(m_sockets->Opened(), 1);
        EXPECT_EQ(Scans(), 1u);
        EXPECT_FALSE(dlg.m_btnRefresh->isEnabled());
        EXPECT_EQ(dlg.m_listDevices->topLevelItemCount(), 0);
        EXPECT_NE(dlg.m_nTimerId, 0u);
        // Enter goes to the default button only while it is enabled.
        QTest::keyClick(dlg.m_listDevices, Qt::Key_Return);
        m_sockets->HoldWaits(false);
        EXPECT_TRUE(WaitUntil([&] { return dlg.m_btnRefresh->isEnabled(); }));
        EXPECT_EQ(Scans(), 1u);
        QTest::keyClick(dlg.m_listDevices, Qt::Key_Return);
        EXPECT_TRUE(WaitUntil([&] { return Scans() == 2u && dlg.m_btnRefresh->isEnabled(); }));
    });
}

TEST_F(DialogTest, StatusLineSaysWhenTheLimitStoppedTheScanShort) {
    UseScanThread();
    m_sockets->SetFlood(400ms, MakeReply("10.0.0.7"));  // answers past the 5 s limit
    COLDiscoveryDlg dlg(&m_prefs);
    Run(dlg, [&] {
        ASSERT_TRUE(WaitUntil([&] { return dlg.m_btnRefresh->isEnabled(); }));
        EXPECT_NE(dlg.StatusText(COLDiscoveryDlg::STATUS_LAST_SCAN).toStdString().find("may be incomplete"),
                  std::string::npos);
        m_sockets->StopFlood();
        dlg.m_btnRefresh->click();
        ASSERT_TRUE(WaitUntil([&] { return Scans() == 2u && dlg.m_btnRefresh->isEnabled(); }));
        EXPECT_EQ(dlg.StatusText(COLDiscoveryDlg::STATUS_LAST_SCAN).toStdString().find("may be incomplete"),
                  std::string::npos);
    });
}

TEST_F(DialogTest, StatusLineSaysWhenAnswersWereLostToAFullQueue) {
    UseScanThread();
    // The second reply carries a drop count three higher than the first: three datagrams lost.
    std::vector<testsupport::FakePacket> replies{MakeReply("10.0.0.7"), MakeReply("10.0.0.8")};
    replies[0].drops = 1;
    replies[1].drops = 4;
    m_sockets->SetRepliesOnBroadcast(replies);
    COLDiscoveryDlg dlg(&m_prefs);
    Run(dlg, [&] {
        ASSERT_TRUE(WaitUntil([&] { return dlg.m_btnRefresh->isEnabled(); }));
        EXPECT_NE(dlg.StatusText(COLDiscoveryDlg::STATUS_LAST_SCAN).toStdString().find("lost answers"),
                  std::string::npos);
    });
}

// A scan during which a link it went out on was lost may list a device without the hardware
// address it was still being asked for, and the segment's devices as missing: it is listed, not
// remembered. The device remembered by the first scan is silent in the second.
TEST_F(DialogTest, AScanThatLostALinkIsListedNotRemembered) {
    using iftable::LocalSubnet;
    const std::uint32_t lan = inet_addr("10.0.0.1"), mask = inet_addr("255.255.255.0");
    const LocalSubnet up{2, lan, mask, true, 0};
    const struct {
        const char* what;
        std::vector<LocalSubnet> atEnd;
        bool lost;
    } cases[] = {
        {"unchanged", {up}, false},
        {"another interface meanwhile", {up, {3, inet_addr("10.9.0.1"), mask}}, false},
        {"deleted", {}, true},
        {"made anew", {{4, lan, mask}}, true},
        {"down", {{2, lan, mask, false, 1}}, true},
        {"down and up again", {{2, lan, mask, true, 1}}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedEnv state("XDG_STATE_HOME", m_dir.File(std::string("state-") + c.what).c_str());
        m_prefs.SetRememberDevices(true);
        m_sockets = std::make_shared<FakeSocketLayer>();
        m_sockets->SetLocalSubnets({{up}, {up}, {up}, c.atEnd});
        m_sockets->SetRepliesOnBroadcast({MakeReply("10.0.0.7")});
        UseScanThread();
        COLDiscoveryDlg dlg(&m_prefs);
        Run(dlg, [&] {
            ASSERT_TRUE(WaitUntil([&] { return dlg.m_btnRefresh->isEnabled(); }));
            m_sockets->SetRepliesOnBroadcast({});
            dlg.m_btnRefresh->click();
            ASSERT_TRUE(WaitUntil([&] { return Scans() == 2u && dlg.m_btnRefresh->isEnabled(); }));
            const std::string said = dlg.StatusText(COLDiscoveryDlg::STATUS_LAST_SCAN).toStdString();
            EXPECT_EQ(said.find("may be wrong") != std::string::npos, c.lost) << said;
            EXPECT_EQ(dlg.m_listDevices->topLevelItemCount(), c.lost ? 0 : 1) << "the silent device listed as missing";
        });
    }
}

TEST_F(DialogTest, RowsStandInTextOrderOfTheIpAndRepeatedAnswersGiveTwoRows) {
    UseScanThread();
    std::vector<testsupport::FakePacket> replies;
    for (const char* ip : {"10.0.0.9", "10.0.0.10", "192.168.0.1", "10.0.0.100", "9.0.0.1"}) {
        std::string n = std::string(ip).substr(std::string(ip).rfind('.') + 1);
        replies.push_back(MakeReply(ip, "type:OL-" + n + "\nbuild:" + n + ".0\n"));
    }
    replies.push_back(MakeReply("10.0.0.9", "type:OL-9\nbuild:9.0\n"));
    m_sockets->SetRepliesOnBroadcast(replies);
    m_sockets->SetHardwareAddress("10.0.0.9", {2, 0, 10, 0, 0, 9});
    m_sockets->SetHardwareAddress("10.0.0.10", {2, 0, 10, 0, 0, 10});
    m_sockets->SetHardwareAddress("10.0.0.100", {2, 0, 10, 0, 0, 100});
    m_sockets->SetHardwareAddress("192.168.0.1", {2, 0, 192, 168, 0, 1});
    m_sockets->SetHardwareAddress("9.0.0.1", {2, 0, 9, 0, 0, 1});

    COLDiscoveryDlg dlg(&m_prefs);
    Run(dlg, [&] {
        ASSERT_TRUE(WaitUntil([&] { return dlg.m_btnRefresh->isEnabled(); }));
        EXPECT_EQ(Column(dlg, 0), (std::vector<std::string>{"10.0.0.10", "10.0.0.100", "10.0.0.9", "10.0.0.9",
                                                            "192.168.0.1", "9.0.0.1"}));
        EXPECT_EQ(Column(dlg, 2),
                  (std::vector<std::string>{"OL-10", "OL-100", "OL-9", "OL-9", "OL-1", "OL-1"}));
        EXPECT_EQ(Column(dlg, 3), (std::vector<std::string>{"10.0", "100.0", "9.0", "9.0", "1.0", "1.0"}));
        EXPECT_EQ(Column(dlg, 1)[0], "02:00:0A:00:00:0A");
        EXPECT_EQ(dlg.m_nRowCount, 6);
    });
}

TEST_F(DialogTest, RecordsFromTheWorkerThreadBecomeRows) {
    COLDiscoveryDlg dlg(&m_prefs);
    Run(dlg, [&] {
        ReportFromWorker(dlg, {MakeDevice("10.1.1.2", "02:00:0A:01:01:02", "OL-A", "1"),
                               MakeDevice("10.1.1.1", "n/a", "n/a", "n/a")});
        ASSERT_TRUE(WaitUntil([&] { return dlg.m_nRowCount == 2; }));
        EXPECT_EQ(Column(dlg, 0), (std::vector<std::string>{"10.1.1.1", "10.1.1.2"}));
        EXPECT_EQ(Column(dlg, 1), (std::vector<std::string>{"n/a", "02:00:0A:01:01:02"}));
        EXPECT_EQ(dlg.m_nRowCount, 2);
        // No scan-thread object: Refresh cannot scan and stays usable.
        EXPECT_TRUE(dlg.m_btnRefresh->isEnabled());
    });
}

TEST_F(DialogTest, DeviceTextShowsAsUtf8WhereValidElseAsLatin1) {
    COLDiscoveryDlg dlg(&m_prefs);
    Run(dlg, [&] {
        ReportFromWorker(dlg, {MakeDevice("10.1.1.1", "n/a", "Ger\xC3\xA4t", "\xE9\xFF")});
        ASSERT_TRUE(WaitUntil([&] { return dlg.m_nRowCount == 1; }));
        EXPECT_EQ(Column(dlg, 2), std::vector<std::string>{"Ger\xC3\xA4t"});
        EXPECT_EQ(Column(dlg, 3), std::vector<std::string>{"\xC3\xA9\xC3\xBF"});
    });
}

TEST_F(DialogTest, EveryTenthTickRefreshesOnlyWhileAutoRefreshIsOn) {
    UseScanThread();
    m_prefs.SetAutoRefresh(true);
    COLDiscoveryDlg dlg(&m_prefs);
    Run(dlg, [&] {
        ASSERT_TRUE(WaitUntil([&] { return dlg.m_btnRefresh->isEnabled(); }));
        // The test drives the ticks itself.
        ASSERT_NE(dlg.m_nTimerId, 0u);
        dlg.killTimer(static_cast<int>(dlg.m_nTimerId));
        dlg.m_nTimerId = 0;
        dlg.m_nTicks = 0;
        ReportFromWorker(dlg, {MakeDevice("1.1.1.1", "a", "b", "c")});
        ASSERT_TRUE(WaitUntil([&] { return dlg.m_listDevices->topLevelItemCount() == 1; }));

        for (int tick = 1; tick <= 9; ++tick)
            dlg.OnTimer(1);
        EXPECT_EQ(Scans(), 1u);
        EXPECT_EQ(dlg.m_listDevices->topLevelItemCount(), 1);
        dlg.OnTimer(1);  // 10
        EXPECT_EQ(dlg.m_listDevices->topLevelItemCount(), 0) << "the list is emptied at once";
        EXPECT_EQ(dlg.m_nRowCount, 0);
        EXPECT_FALSE(dlg.m_btnRefresh->isEnabled());
        ASSERT_TRUE(WaitUntil([&] { return Scans() == 2u && dlg.m_btnRefresh->isEnabled(); }));
        for (int tick = 11; tick <= 20; ++tick)
            dlg.OnTimer(1);
        ASSERT_TRUE(WaitUntil([&] { return Scans() == 3u && dlg.m_btnRefresh->isEnabled(); }));

        m_prefs.SetAutoRefresh(false);
        for (int tick = 21; tick <= 40; ++tick)
            dlg.OnTimer(1);
        EXPECT_EQ(dlg.m_nTicks, 40u);
        EXPECT_TRUE(dlg.m_btnRefresh->isEnabled());
        // Switched on again, it takes effect at the next multiple of ten.
        m_prefs.SetAutoRefresh(true);
        for (int tick = 41; tick <= 49; ++tick)
            dlg.OnTimer(1);
        EXPECT_TRUE(dlg.m_btnRefresh->isEnabled());
        dlg.OnTimer(1);
        ASSERT_TRUE(WaitUntil([&] { return Scans() == 4u && dlg.m_btnRefresh->isEnabled(); }));
    });
    EXPECT_EQ(Scans(), 4u);
}

TEST_F(DialogTest, HintFollowsTheDoubleClickAction) {
    m_prefs.SetDoubleClickAction(ACTION_COPYIP);
    COLDiscoveryDlg dlg(&m_prefs);
    Run(dlg, [&] {
        EXPECT_EQ(LabelText(dlg, IDC_HINT), LoadString(IDS_HINT_COPYIP));
        EXPECT_EQ(LabelText(dlg, IDC_LIST_TITLE), LoadString(IDS_LIST_TITLE));
        m_prefs.SetDoubleClickAction(ACTION_TELNET);
        dlg.UpdateHint();
        EXPECT_EQ(LabelText(dlg, IDC_HINT), LoadString(IDS_HINT_TELNET));
        m_prefs.SetDoubleClickAction(7);
        dlg.UpdateHint();
        EXPECT_EQ(LabelText(dlg, IDC_HINT), LoadString(IDS_HINT_BROWSER));
        EXPECT_EQ(dlg.m_strHint, LoadString(IDS_HINT_BROWSER));
    });
}

TEST_F(DialogTest, CaptionColumnsButtonsAndGeometry) {
    COLDiscoveryDlg dlg(&m_prefs);
    Run(dlg, [&] {
        EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Orvalink Discovery Tool (V1.04)"));
        EXPECT_FALSE(dlg.windowIcon().isNull());
        QTreeWidget* list = dlg.m_listDevices;
        ASSERT_EQ(list->columnCount(), 4);
        const unsigned headings[] = {IDS_COLUMN_IP, IDS_COLUMN_MAC, IDS_COLUMN_TYPE, IDS_COLUMN_BUILD};
        const int widths[] = {100, 120, 150, 300};
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(list->headerItem()->text(i).toStdString(), LoadString(headings[i]));
            // The last column takes the rest of the list's width.
            EXPECT_EQ(list->header()->sectionSize(i), i < 3 ? widths[i] : list->viewport()->width() - 370);
        }
        EXPECT_EQ(list->selectionMode(), QAbstractItemView::SingleSelection);
        EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
        EXPECT_TRUE(list->hasFocus());

        auto* refresh = qobject_cast<QPushButton*>(dlg.GetDlgItem(IDC_REFRESH));
        auto* settings = qobject_cast<QPushButton*>(dlg.GetDlgItem(IDC_SETTINGS));
        ASSERT_TRUE(refresh && settings);
        EXPECT_EQ(refresh, dlg.m_btnRefresh);
        EXPECT_TRUE(refresh->isDefault());
        EXPECT_FALSE(settings->isDefault());
        EXPECT_EQ(refresh->text(), QStringLiteral("&Refresh"));
        EXPECT_EQ(settings->text(), QStringLiteral("&Settings..."));

        // The status line is the one addition, below the template's area; the window starts at
        // its smallest size.
        const auto* status = dlg.findChild<QWidget*>(QStringLiteral("StatusLine"));
        ASSERT_TRUE(status);
        EXPECT_EQ(dlg.minimumSize(), dlg.size());
        EXPECT_EQ(status->geometry().bottom(), dlg.height() - 1);
        const int templateHeight = dlg.height() - status->height();
        QWidget* hint = dlg.GetDlgItem(IDC_HINT);
        QWidget* title = dlg.GetDlgItem(IDC_LIST_TITLE);
        EXPECT_EQ(title->x(), list->x());
        EXPECT_EQ(refresh->x(), list->x());
        EXPECT_LT(title->geometry().bottom(), list->y());
        EXPECT_LT(list->geometry().bottom(), refresh->y());
        EXPECT_LT(refresh->geometry().right(), settings->x());
        EXPECT_LT(settings->geometry().right(), hint->x());
        EXPECT_EQ(hint->geometry().right(), list->geometry().right());
        EXPECT_LT(list->geometry().right(), dlg.width());
        EXPECT_LT(hint->geometry().bottom(), templateHeight);
        EXPECT_NEAR(double(list->width()) / dlg.width(), 449.0 / 463, 0.01);
        EXPECT_NEAR(double(list->height()) / templateHeight, 210.0 / 266, 0.01);

        // Larger: the list takes the room, the buttons and the hint stay below it.
        const QRect listAt = list->geometry(), refreshAt = refresh->geometry(), hintAt = hint->geometry();
        dlg.resize(dlg.size() + QSize(120, 90));
        ASSERT_TRUE(apptest::WaitUntil([&] { return list->geometry() == listAt.adjusted(0, 0, 120, 90); }));
        EXPECT_EQ(refresh->geometry(), refreshAt.translated(0, 90));
        EXPECT_EQ(hint->geometry(), hintAt.translated(0, 90).adjusted(0, 0, 120, 0));
        EXPECT_EQ(status->geometry().bottom(), dlg.height() - 1);
    });
}

TEST_F(DialogTest, EveryTextFitsItsControl) {
    COLDiscoveryDlg dlg(&m_prefs);
    Run(dlg, [&] {
        auto* hint = qobject_cast<QLabel*>(dlg.GetDlgItem(IDC_HINT));
        for (int action : {ACTION_BROWSER, ACTION_TELNET, ACTION_COPYIP}) {
            m_prefs.SetDoubleClickAction(action);
            dlg.UpdateHint();
            QFontMetrics metrics(hint->font());
            for (const QString& line : hint->text().split('\n'))
                EXPECT_LE(metrics.horizontalAdvance(line), hint->width()) << line.toStdString();
            EXPECT_LE(hint->heightForWidth(hint->width()), hint->height()) << action;
        }
        auto* title = qobject_cast<QLabel*>(dlg.GetDlgItem(IDC_LIST_TITLE));
        EXPECT_LE(title->sizeHint().width(), title->width());
        EXPECT_LE(title->sizeHint().height(), title->height() + 2);
        for (int id : {IDC_REFRESH, IDC_SETTINGS}) {
            auto* button = qobject_cast<QPushButton*>(dlg.GetDlgItem(id));
            QString text = button->text().remove('&');
            EXPECT_LT(button->fontMetrics().horizontalAdvance(text) + 8, button->width()) << id;
            EXPECT_LT(button->fontMetrics().height(), button->height()) << id;
        }
        // A MAC address and the headings fit their pixel columns.
        QFontMetrics listMetrics(dlg.m_listDevices->font());
        EXPECT_LT(listMetrics.horizontalAdvance(QStringLiteral("02:00:0A:4D:01:0A")) + 6,
                  dlg.m_listDevices->header()->sectionSize(1));
        for (int i = 0; i < 4; ++i)
            EXPECT_LT(listMetrics.horizontalAdvance(dlg.m_listDevices->headerItem()->text(i)),
                      dlg.m_listDevices->header()->sectionSize(i));
    });
}

TEST_F(DialogTest, SystemMenuEndsWithTheAboutItemAndRoutesThroughOnSysCommand) {
    RecordingDlg dlg(&m_prefs);
    int result = Run(dlg, [&] {
        QList<QAction*> actions = dlg.GetSystemMenu()->actions();
        ASSERT_GE(actions.size(), 3);
        EXPECT_TRUE(actions[actions.size() - 2]->isSeparator());
        EXPECT_EQ(actions.back()->text().toStdString(), LoadString(IDS_ABOUTBOX));
        {
            // The About box opens modally over the dialog; this closes it again.
            ModalScript about([](QWidget*) {});
            actions.back()->trigger();
            EXPECT_EQ(about.Seen(), std::vector<std::string>{"CVeltoAboutDlg"});
        }
        EXPECT_EQ(dlg.m_commands, std::vector<unsigned>{IDM_ABOUTBOX});
        EXPECT_TRUE(dlg.isVisible());
        // The menu's Close ends the dialog like the close box.
        for (QAction* action : actions) {
            if (action->text().toStdString() == LoadString(IDS_SYSMENU_CLOSE))
                action->trigger();
        }
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(dlg.m_commands, (std::vector<unsigned>{IDM_ABOUTBOX, SC_CLOSE}));

    // Opened again, the menu still has one separator and one About item.
    Run(dlg, [] {});
    int separators = 0, aboutItems = 0;
    for (QAction* action : dlg.GetSystemMenu()->actions()) {
        separators += action->isSeparator();
        aboutItems += action->text().toStdString() == LoadString(IDS_ABOUTBOX);
    }
    EXPECT_EQ(separators, 1);
    EXPECT_EQ(aboutItems, 1);
}

TEST_F(DialogTest, EscapeEndsTheDialogStopsTheTimerAndTheResults) {
    UseScanThread();
    COLDiscoveryDlg dlg(&m_prefs);
    int result = Run(dlg, [&] {
        ASSERT_TRUE(WaitUntil([&] { return dlg.m_btnRefresh->isEnabled(); }));
        QTest::keyClick(&dlg, Qt::Key_Escape);
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(dlg.m_nTimerId, 0u);
    // A late result finds no listener.
    EXPECT_EQ(dlg.GetScanListener(), nullptr);
}

TEST_F(DialogTest, RecordsStillQueuedWhenTheWindowClosesAreNotShown) {
    COLDiscoveryDlg dlg(&m_prefs);
    Run(dlg, [&] {
        ReportFromWorker(dlg, {MakeDevice("10.0.0.1", "a", "b", "c"), MakeDevice("10.0.0.2", "a", "b", "c"),
                               MakeDevice("10.0.0.3", "a", "b", "c")});
        dlg.reject();  // before the queued calls are handled
    });
    QCoreApplication::processEvents();
    EXPECT_EQ(dlg.m_listDevices->topLevelItemCount(), 0);
}

TEST_F(DialogTest, WithoutAWorkerRefreshIsEnabledAgainAtOnce) {
    m_sockets->FailOpen(EPERM);
    UseScanThread(200ms);
    COLDiscoveryDlg dlg(&m_prefs);
    Run(dlg, [&] {
        EXPECT_EQ(m_sockets->Opened(), 0);
        EXPECT_TRUE(dlg.m_btnRefresh->isEnabled());
        dlg.m_btnRefresh->click();
        EXPECT_TRUE(dlg.m_btnRefresh->isEnabled());
        EXPECT_EQ(Scans(), 0u);
    });
}
