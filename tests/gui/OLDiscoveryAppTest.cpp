// Start-up and shut-down of the application object with the system checks replaced.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include <sys/stat.h>

#include <csignal>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "AppTestSupport.h"
#include "FakeSocketLayer.h"
#include "gui/app/OLDiscoveryApp.h"
#include "gui/app/OLDiscoveryDlg.h"
#include "engine/ScanThread.h"
#include "res/Resource.h"
#include "res/StringTable.h"
#include "gui/settings/DlgSettings.h"

using apptest::FakeProbe;
using apptest::ModalScript;
using apptest::ScopedWorkDir;
using testsupport::FakeSocketLayer;

namespace {

struct BoxSeen {
    bool isBox = false;
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
};

BoxSeen ReadBox(QWidget* widget) {
    BoxSeen seen;
    auto* box = qobject_cast<QMessageBox*>(widget);
    if (!box)
        return seen;
    seen.isBox = true;
    seen.caption = box->windowTitle();
    seen.text = box->text();
    seen.icon = box->icon();
    seen.buttons = box->standardButtons();
    return seen;
}

int CountOf(const std::string& text, const std::string& what) {
    int count = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

class StartupTest : public testing::Test {
protected:
    std::shared_ptr<FakeProbe> m_probe = std::make_shared<FakeProbe>();
    std::shared_ptr<FakeSocketLayer> m_sockets = std::make_shared<FakeSocketLayer>();
    ScopedWorkDir m_dir;
};

// A failed check: the Error line and the box carry the text; nothing later runs.
void ExpectFailureRun(const BoxSeen& box, const std::vector<std::string>& seen, const std::string& text) {
    ASSERT_FALSE(text.empty());
    ASSERT_EQ(seen, std::vector<std::string>{"QMessageBox"}) << "only the box, never the dialog";
    EXPECT_EQ(box.caption, QStringLiteral("OLDiscovery"));
    EXPECT_EQ(box.text.toStdString(), text);
    EXPECT_EQ(box.icon, QMessageBox::Warning);
    EXPECT_EQ(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

}  // namespace

TEST_F(StartupTest, OldKernelStopsBeforeTheRightsCheckWithItsOwnText) {
    m_probe->m_nMajor = 3;
    m_probe->m_nMinor = 9;
    BoxSeen box;
    std::vector<std::string> seen;
    {
        COLDiscoveryApp app(m_probe, m_sockets, m_sockets, "OLDiscovery");
        ModalScript script([&](QWidget* w) { box = ReadBox(w); });
        EXPECT_FALSE(app.InitInstance());
        seen = script.Seen();
        EXPECT_EQ(app.m_pScanThread, nullptr);
        EXPECT_EQ(app.ExitCode(), 1) << "a refused start is told by the exit status";
    }
    ExpectFailureRun(box, seen, LoadString(IDS_NEED_LINUX));
    EXPECT_EQ(m_probe->m_calls, std::vector<std::string>{"version"});
    EXPECT_EQ(m_sockets->Opened(), 0);

    // Only the failure text reaches the file: no banner, no closing line.
    std::string log = testsupport::ReadFileBytes(m_dir.File("debug.log"));
    EXPECT_EQ(CountOf(log, "\r\n"), 1) << log;
    EXPECT_NE(log.find("Error"), std::string::npos) << log;
    EXPECT_NE(log.find(LoadString(IDS_NEED_LINUX) + "\r\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("*****"), std::string::npos);
    EXPECT_EQ(log.find("starting."), std::string::npos);
    EXPECT_EQ(log.find("closed."), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(m_dir.ProfileFile("OLDiscovery")))
        << "preferences are not saved after a failed start";
}

TEST_F(StartupTest, MissingRightsShowString102AfterTheVersionCheck) {
    m_probe->m_bRights = false;
    BoxSeen box;
    std::vector<std::string> seen;
    {
        COLDiscoveryApp app(m_probe, m_sockets, m_sockets, "OLDiscovery");
        ModalScript script([&](QWidget* w) { box = ReadBox(w); });
        app.InitInstance();
        seen = script.Seen();
        EXPECT_EQ(app.m_pScanThread, nullptr);
        EXPECT_EQ(app.ExitCode(), 1);
    }
    // The command to grant the right names this very program file.
    const std::string refusal =
        FormatString1(IDS_NEED_ADMIN, std::filesystem::read_symlink("/proc/self/exe").string());
    ASSERT_NE(refusal.find("sudo setcap cap_net_raw+p /"), std::string::npos) << refusal;
    ExpectFailureRun(box, seen, refusal);
    EXPECT_EQ(m_probe->m_calls, (std::vector<std::string>{"version", "rights"}));
    std::string log = testsupport::ReadFileBytes(m_dir.File("debug.log"));
    // One line: the refusal's line break is written as its escape.
    EXPECT_NE(log.find(std::string(refusal).replace(refusal.find('\n'), 1, "\\n") + "\r\n"), std::string::npos)
        << log;
    EXPECT_EQ(CountOf(log, "\n"), 1) << log;
    EXPECT_FALSE(std::filesystem::exists(m_dir.ProfileFile("OLDiscovery")));
}

TEST_F(StartupTest, KernelVersionBoundary) {
    struct Case {
        unsigned major, minor;
        bool pass;
    } cases[] = {{3, 10, true}, {3, 9, false}, {2, 6, false}, {3, 18, true},
                 {4, 0, true},  {6, 1, true},  {0, 99, false}};
    COLDiscoveryApp app(m_probe, m_sockets, m_sockets, "OLDiscovery");
    for (const Case& c : cases) {
        m_probe->m_nMajor = c.major;
        m_probe->m_nMinor = c.minor;
        EXPECT_EQ(app.CheckWindowsVersion(), c.pass) << c.major << "." << c.minor;
    }
    m_probe->m_bVersionKnown = false;
    EXPECT_FALSE(app.CheckWindowsVersion()) << "an unreadable version fails";
}

TEST_F(StartupTest, GoodRunLoadsPrefsRunsTheDialogSavesAndStops) {
    std::filesystem::create_directories(
        std::filesystem::path(m_dir.ProfileFile("OLDiscovery")).parent_path());
    {
        std::ofstream profile(m_dir.ProfileFile("OLDiscovery"));
        profile << "[Application Settings]\nDoubleClick=telnet\nAutoRefresh=0\n";
    }

    QString caption, hint;
    bool refreshEnabledAfterScan = false;
    {
        COLDiscoveryApp app(m_probe, m_sockets, m_sockets, "OLDiscovery");
        ModalScript script([&](QWidget* w) {
            auto* dlg = qobject_cast<COLDiscoveryDlg*>(w);
            ASSERT_NE(dlg, nullptr);
            caption = dlg->windowTitle();
            hint = static_cast<QLabel*>(dlg->GetDlgItem(IDC_HINT))->text();
            refreshEnabledAfterScan = apptest::WaitUntil([&] { return dlg->m_btnRefresh->isEnabled(); });
        });
        EXPECT_FALSE(app.InitInstance());
        EXPECT_EQ(script.Seen(), std::vector<std::string>{"COLDiscoveryDlg"});
        EXPECT_EQ(app.m_pScanThread, nullptr) << "the scan thread is stopped after the dialog";
        EXPECT_EQ(m_sockets->Closed(), 1);
        EXPECT_EQ(app.ExitCode(), 0);
    }
    EXPECT_EQ(m_probe->m_calls, (std::vector<std::string>{"version", "rights"}));
    EXPECT_EQ(caption, QStringLiteral("Orvalink Discovery Tool (V1.04)"));
    EXPECT_EQ(hint.toStdString(), LoadString(IDS_HINT_TELNET)) << "preferences loaded before";
    EXPECT_TRUE(refreshEnabledAfterScan);
    EXPECT_EQ(m_sockets->Opened(), 1);
    EXPECT_EQ(m_sockets->Sends().size(), 1u) << "the first scan at opening";

    std::string profile = testsupport::ReadFileBytes(m_dir.ProfileFile("OLDiscovery"));
    EXPECT_NE(profile.find("TelnetPath=telnet"), std::string::npos) << profile;
    EXPECT_NE(profile.find("DoubleClick=Telnet"), std::string::npos) << profile;
    EXPECT_NE(profile.find("AutoRefresh=0"), std::string::npos) << profile;
    EXPECT_NE(profile.find("DlgPos_102"), std::string::npos) << profile;
    // A healthy run writes nothing at the threshold it sets.
    EXPECT_FALSE(std::filesystem::exists(m_dir.File("debug.log")));
}

TEST_F(StartupTest, StopScanThreadTwiceStopsOnce) {
    COLDiscoveryApp app(m_probe, m_sockets, m_sockets, "OLDiscovery");
    app.StopScanThread();  // none yet
    ASSERT_TRUE(app.CreateScanThread());
    ASSERT_TRUE(app.m_pScanThread->Start());
    app.StopScanThread();
    EXPECT_EQ(app.m_pScanThread, nullptr);
    EXPECT_EQ(m_sockets->Closed(), 1);
    app.StopScanThread();
    EXPECT_EQ(m_sockets->Closed(), 1);
}

TEST_F(StartupTest, SettingsFifoGivesDefaultsAndAWarningInTheLog) {
    const std::string fifo = m_dir.ProfileFile("OLDiscovery");
    std::filesystem::create_directories(std::filesystem::path(fifo).parent_path());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    QString hint;
    {
        COLDiscoveryApp app(m_probe, m_sockets, m_sockets, "OLDiscovery");
        ModalScript script([&](QWidget* w) {
            if (auto* dlg = qobject_cast<COLDiscoveryDlg*>(w))
                hint = static_cast<QLabel*>(dlg->GetDlgItem(IDC_HINT))->text();
        });
        EXPECT_FALSE(app.InitInstance());
    }
    EXPECT_EQ(hint.toStdString(), LoadString(IDS_HINT_BROWSER)) << "the default action";
    std::string log = testsupport::ReadFileBytes(m_dir.File("debug.log"));
    EXPECT_EQ(
        CountOf(log, "Warning  Settings file " + fifo + " is not a regular file; the defaults are used\r\n"),
        1)
        << log;
}

TEST_F(StartupTest, TerminationSignalClosesTheWindowsAsCancelSavesTheRunAndASecondWouldEndAtOnce) {
    enum class Open { MainOnly, Settings, About };
    const std::pair<int, Open> cases[] = {{SIGTERM, Open::Settings},
                                          {SIGINT, Open::About},
                                          {SIGHUP, Open::MainOnly},
                                          {SIGTERM, Open::MainOnly}};
    for (auto [signo, open] : cases) {
        SCOPED_TRACE(testing::Message() << "signal " << signo << ", window " << static_cast<int>(open));
        ScopedWorkDir dir;
        auto sockets = std::make_shared<FakeSocketLayer>();
        bool allClosed = false, secondIsDefault = false;
        std::vector<std::string> seen;
        {
            COLDiscoveryApp app(m_probe, sockets, sockets, "OLDiscovery");
            ModalScript script([&](QWidget* w) {
                auto* dlg = qobject_cast<COLDiscoveryDlg*>(w);
                ASSERT_NE(dlg, nullptr);
                // A preference changed in this run, through Settings and OK.
                {
                    ModalScript change([](QWidget* s) {
                        auto* settings = qobject_cast<CDlgSettings*>(s);
                        ASSERT_NE(settings, nullptr);
                        qobject_cast<QLineEdit*>(settings->GetDlgItem(IDC_TELNET_PATH))
                            ->setText("/usr/bin/ssh");
                        qobject_cast<QPushButton*>(settings->GetDlgItem(IDOK))->click();
                    });
                    dlg->OnSettings();
                }
                auto signalAndWait = [&](QWidget* top) {
                    std::raise(signo);
                    allClosed = apptest::WaitUntil([&] { return !top->isVisible() && !dlg->isVisible(); });
                    secondIsDefault = true;
                    for (int s : {SIGTERM, SIGINT, SIGHUP}) {
                        struct sigaction now {};
                        ::sigaction(s, nullptr, &now);
                        secondIsDefault = secondIsDefault && now.sa_handler == SIG_DFL;
                    }
                };
                ModalScript inner([&](QWidget* top) {
                    seen.push_back(top->metaObject()->className());
                    if (auto* settings = qobject_cast<CDlgSettings*>(top))
                        qobject_cast<QLineEdit*>(settings->GetDlgItem(IDC_TELNET_ARGS))->setText("-x %1");
                    signalAndWait(top);
                });
                if (open == Open::Settings)
                    dlg->OnSettings();
                else if (open == Open::About)
                    dlg->OnSysCommand(IDM_ABOUTBOX);
                else
                    signalAndWait(dlg);
            });
            EXPECT_FALSE(app.InitInstance());
            EXPECT_EQ(app.m_pScanThread, nullptr);
            EXPECT_EQ(sockets->Closed(), 1) << "the scan thread stopped";
            EXPECT_EQ(app.m_prefs.GetTelnetArgs(), "%1") << "the open Settings ended as Cancel";
        }
        EXPECT_TRUE(allClosed);
        EXPECT_TRUE(secondIsDefault);
        const std::vector<std::string> expectedSeen =
            open == Open::Settings ? std::vector<std::string>{"CDlgSettings"}
            : open == Open::About  ? std::vector<std::string>{"CVeltoAboutDlg"}
                                   : std::vector<std::string>{};
        EXPECT_EQ(seen, expectedSeen);
        const std::string profile = testsupport::ReadFileBytes(dir.ProfileFile("OLDiscovery"));
        EXPECT_NE(profile.find("TelnetPath=/usr/bin/ssh"), std::string::npos) << profile;
        EXPECT_NE(profile.find("TelnetArgs=%1"), std::string::npos) << profile;
        EXPECT_NE(profile.find("[DlgPos_102]"), std::string::npos) << profile;
    }
    // Once the run is over the signals are what they were before it.
    struct sigaction after {};
    ::sigaction(SIGTERM, nullptr, &after);
    EXPECT_EQ(after.sa_handler, SIG_DFL);
}

TEST_F(StartupTest, SettingsFileThatMustNotBeWrittenKeepsItsBytesAndTheEndOfTheRunSaysSo) {
    const std::string standInLines =
        "root:x:0:0:root:/root:/bin/bash\nbin:x:2:2:bin:/bin:/usr/sbin/nologin\n";
    struct Case {
        const char* what;
        std::function<void(const std::string& profile, const std::string& standIn)> make;
        const char* reason;
    };
    const Case cases[] = {
        {"a link to a system file",
         [](const std::string& profile, const std::string& standIn) {
             std::filesystem::create_symlink(standIn, profile);
         },
         "it is a symbolic link"},
        {"a read-only file",
         [](const std::string& profile, const std::string&) {
             std::ofstream(profile) << "[Application%20Settings]\nDoubleClick=copyip\n";
             ::chmod(profile.c_str(), 0444);
         },
         "it is read-only"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedWorkDir dir;
        const std::string profile = dir.ProfileFile("OLDiscovery");
        const std::string standIn = dir.File("passwd");
        std::ofstream(standIn) << standInLines;
        std::filesystem::create_directories(std::filesystem::path(profile).parent_path());
        c.make(profile, standIn);
        const std::string before = testsupport::ReadFileBytes(profile);
        testing::internal::CaptureStderr();
        {
            const auto sockets = std::make_shared<FakeSocketLayer>();
            COLDiscoveryApp app(m_probe, sockets, sockets, "OLDiscovery");
            ModalScript script([&](QWidget*) {});
            EXPECT_FALSE(app.InitInstance());
        }
        const std::string err = testing::internal::GetCapturedStderr();
        const std::string warning = std::string("Settings file not saved (") + c.reason + "): " + profile;
        EXPECT_EQ(testsupport::ReadFileBytes(standIn), standInLines);
        EXPECT_EQ(testsupport::ReadFileBytes(profile), before);
        const std::string log = testsupport::ReadFileBytes(dir.File("debug.log"));
        EXPECT_EQ(CountOf(log, "Warning  " + warning + "\r\n"), 1) << log;
        EXPECT_EQ(CountOf(err, "OLDiscovery: Warning: " + warning + "\n"), 1) << err;
    }
}
