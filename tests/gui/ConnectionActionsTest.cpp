// What a user does with a listed device: double click, context menu, browser, telnet in a
// terminal, clipboard, locate; and the Settings dialog that chooses among them.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <QUrl>

#include "AppTestSupport.h"
#include "FakeSocketLayer.h"
#include "StandIn.h"
#include "desktop/Desktop.h"
#include "gui/app/OLDiscoveryDlg.h"
#include "engine/Orvalink.h"
#include "engine/ScanThread.h"
#include "res/Resource.h"
#include "gui/settings/Prefs.h"
#include "LogCapture.h"

using namespace std::chrono_literals;
using apptest::ModalScript;
using Words = std::vector<std::string>;

namespace {

// Takes the place of the desktop's URL opener.
class ActionsTest : public testing::Test {
protected:
    ActionsTest() {
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &m_browser, "Open");
        m_terminals.Add("xterm");
        m_terminals.Add("telnet");  // looked up before a terminal opens for it
    }
    ~ActionsTest() override { QDesktopServices::unsetUrlHandler(QStringLiteral("http")); }

    // The dialog, open, with two rows; the script runs inside its modal loop.
    void Run(const std::function<void(COLDiscoveryDlg&)>& script) {
        m_scanner = std::make_unique<CScanThread>(m_sockets, m_sockets, 5000ms, 10000ms);
        COLDiscoveryDlg dlg(&m_prefs, m_scanner.get());
        ModalScript modal([&](QWidget*) {
            ASSERT_TRUE(apptest::WaitUntil([&] { return dlg.m_btnRefresh->isEnabled(); }));
            for (const char* ip : {"10.0.0.7", "10.0.0.5"}) {
                COrvalink record;
                record.m_strIP = ip;
                dlg.OnAddDevice(record);
            }
            script(dlg);
        });
        dlg.DoModal();
    }
    // The log lines of the actions, leaving out the scan thread's.
    Words ActionLines() {
        Words lines;
        for (const std::string& text : m_log.Texts()) {
            if (text.rfind("Invoking ", 0) == 0 || text.rfind("Copied ", 0) == 0)
                lines.push_back(text);
        }
        return lines;
    }
    // Where a row of the list is, in the viewport's coordinates; below the rows for -1.
    static QPoint RowPoint(COLDiscoveryDlg& dlg, int row) {
        if (row < 0)
            return QPoint(20, dlg.m_listDevices->viewport()->height() - 5);
        return dlg.m_listDevices->visualItemRect(dlg.m_listDevices->topLevelItem(row)).center();
    }
    // Sends the context-menu request and picks the item with the given text (none: "").
    Words ContextMenu(COLDiscoveryDlg& dlg, QContextMenuEvent::Reason reason, QPoint at, const char* pick,
                      QPoint* menuAt = nullptr) {
        Words items;
        ModalScript popup([&](QWidget* w) {
            auto* menu = qobject_cast<QMenu*>(w);
            ASSERT_TRUE(menu);
            if (menuAt)
                *menuAt = menu->pos();
            for (QAction* action : menu->actions()) {
                items.push_back(action->text().toStdString());
                if (items.back() == pick) {
                    menu->setActiveAction(action);
                    QTest::keyClick(menu, Qt::Key_Return);
                }
            }
        });
        if (reason == QContextMenuEvent::Other) {
            QTest::keyClick(dlg.m_listDevices, Qt::Key_F10, Qt::ShiftModifier);
            return items;
        }
        QContextMenuEvent request(reason, at, dlg.m_listDevices->viewport()->mapToGlobal(at));
        QCoreApplication::sendEvent(
            reason == QContextMenuEvent::Mouse ? dlg.m_listDevices->viewport() : dlg.m_listDevices, &request);
        return items;
    }

    apptest::ScopedWorkDir m_dir;
    LogCapture m_log;
    StandInPrograms m_terminals;
    ScopedEnv m_path{"PATH", m_terminals.Dir().c_str()};
    ScopedEnv m_terminal{"TERMINAL", nullptr};
    apptest::UrlRecorder m_browser;
    std::shared_ptr<testsupport::FakeSocketLayer> m_sockets =
        std::make_shared<testsupport::FakeSocketLayer>();
    CPrefs m_prefs;
    std::unique_ptr<CScanThread> m_scanner;
};

TEST(TelnetCommandLineTest, BuiltFromTheTwoPreferencesWithoutQuoting) {
    const struct {
        const char *program, *args, *expected;
    } cases[] = {
        {"telnet", "%1", "telnet 10.0.0.5"},
        {"ssh", "", "ssh 10.0.0.5"},
        {"ssh", "-p 22 %1 # %1", "ssh -p 22 10.0.0.5 # 10.0.0.5"},
        {"telnet", "-l admin", "telnet -l admin"},
        {"", "-l admin %1", "telnet 10.0.0.5"},
        {"\"/opt/my telnet\"", "\"%1\" %", "\"/opt/my telnet\" \"10.0.0.5\" %"},
        {"t", "%%11", "t %10.0.0.51"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MakeTelnetCommandLine(c.program, c.args, "10.0.0.5"), c.expected) << c.args;
}

// Kernels older than this one, as a process sees them: seccomp answers pidfd_open with ENOSYS
// (before 5.3) or waitid's P_PIDFD with EINVAL (5.3), for this process and what it starts. False
// where the filter cannot be set.
enum class Kernel { Before53, Linux53 };
bool EmulateKernel(Kernel kernel) {
#if defined(__x86_64__)
    constexpr unsigned arch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
    constexpr unsigned arch = AUDIT_ARCH_AARCH64;
#else
    return false;
#endif
    const bool before53 = kernel == Kernel::Before53;
    const unsigned nr = before53 ? __NR_pidfd_open : __NR_waitid;
    const unsigned error = SECCOMP_RET_ERRNO | (before53 ? ENOSYS : EINVAL);
    sock_filter program[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, arch, 0, 5),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, nr, 0, 3),
        // The low half of the first argument: waitid's id type (3, P_PIDFD); for pidfd_open, any.
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 3, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, error),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    if (before53)
        program[5] = BPF_STMT(BPF_RET | BPF_K, error);
    const sock_fprog filter{static_cast<unsigned short>(std::size(program)), program};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_TSYNC, &filter) == 0;
}

// The window's programs are watched on its event loop: the end within the watch, or that one still
// ran when the watch ended, is told once; a program is reaped whenever it ends.
void ExpectEachEndToldOnceAndReaped() {
    testsupport::TempDir dir;
    const std::string script = dir.file("no-interpreter");  // exec refuses a script without "#!"
    std::ofstream(script) << "exit 0\n";
    chmod(script.c_str(), 0755);
    const std::string pidFile = dir.file("pid");
    using Kind = ProgramEnd::Kind;
    const struct {
        Words argv;
        Kind kind;
        int value;
        const char* logged;  // the Warning line, nullptr for none
    } cases[] = {
        {{script}, Kind::NotStarted, 0, "Could not start (Exec format error): \"shown\""},
        {{"/bin/sh", "-c", "exit 4"}, Kind::Exited, 4, "Started, then exited with status 4: \"shown\""},
        {{"/bin/sh", "-c", "kill -9 $$"}, Kind::Signalled, 9, "Started, then ended by signal 9: \"shown\""},
        {{"/bin/sh", "-c", "echo $$ >\"$0\"; exec /bin/sleep 600", pidFile}, Kind::Running, 0, nullptr},
    };
    for (const auto& c : cases) {
        LogCapture log;
        QObject context;
        std::vector<ProgramEnd> told;
        StartProgram(
            c.argv, "shown", &context,
            [&](const std::string& program, const ProgramEnd& end) {
                EXPECT_EQ(program, c.argv.front());
                told.push_back(end);
            },
            300);
        ASSERT_TRUE(apptest::WaitUntil([&] { return !told.empty(); })) << c.argv.back();
        EXPECT_EQ(told[0].kind, c.kind) << c.argv.back();
        EXPECT_EQ(told[0].value, c.value) << c.argv.back();
        const bool warned = std::ranges::any_of(
            log.Texts(), [](const std::string& text) { return text.find("\"shown\"") != std::string::npos; });
        EXPECT_EQ(warned, c.logged != nullptr) << c.argv.back();
        if (c.logged) {
            EXPECT_TRUE(log.Contains(c.logged)) << c.argv.back();
        }
        if (c.kind == Kind::Running) {
            // Ended long after its watch, it still leaves no zombie behind.
            pid_t pid = 0;
            ASSERT_TRUE(apptest::WaitUntil([&] { return (std::ifstream(pidFile) >> pid) && pid > 0; }));
            const std::string proc = "/proc/" + std::to_string(pid);
            ASSERT_TRUE(std::filesystem::exists(proc));
            kill(pid, SIGKILL);
            EXPECT_TRUE(apptest::WaitUntil([&] { return !std::filesystem::exists(proc); })) << "not reaped";
        }
        EXPECT_EQ(told.size(), 1u) << c.argv.back();
    }
}

TEST(ProgramWatchTest, EachEndIsToldOnceAndTheProgramReaped) {
    ExpectEachEndToldOnceAndReaped();
    // The same on the kernels the start check lets through, each in a process of its own.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const Kernel kernel : {Kernel::Before53, Kernel::Linux53})
        EXPECT_EXIT(
            {
                if (!EmulateKernel(kernel))
                    std::exit(2);
                ExpectEachEndToldOnceAndReaped();
                std::exit(testing::Test::HasFailure() ? 1 : 0);
            },
            testing::ExitedWithCode(0), "")
            << (kernel == Kernel::Before53 ? "before Linux 5.3" : "Linux 5.3");
}

TEST_F(ActionsTest, DoubleClickRunsThePreferredActionOnTheRowHit) {
    Run([&](COLDiscoveryDlg& dlg) {
        for (int action : {ACTION_BROWSER, 7, ACTION_TELNET, ACTION_COPYIP}) {
            m_prefs.SetDoubleClickAction(action);
            QTest::mouseDClick(dlg.m_listDevices->viewport(), Qt::LeftButton, {}, RowPoint(dlg, -1));
            QTest::mouseDClick(dlg.m_listDevices->viewport(), Qt::LeftButton, {}, RowPoint(dlg, 1));
        }
        EXPECT_EQ(m_browser.urls, (Words{"http://10.0.0.7/", "http://10.0.0.7/"}));
        EXPECT_EQ(m_terminals.WaitForRun(10s), (Words{"xterm", "-e", "telnet", "10.0.0.7"}));
        EXPECT_EQ(QGuiApplication::clipboard()->mimeData()->data("text/plain"), QByteArray("10.0.0.7"));
        EXPECT_EQ(ActionLines(),
                  (Words{"Invoking web browser for IP 10.0.0.7", "Invoking web browser for IP 10.0.0.7",
                         "Invoking telnet for IP 10.0.0.7", "Copied IP 10.0.0.7 to clipboard"}));
        EXPECT_EQ(dlg.m_nContextRow, -1);
    });
}

TEST_F(ActionsTest, ContextMenuOnARowOpensAtTheClickAndActsOnThatRow) {
    Run([&](COLDiscoveryDlg& dlg) {
        EXPECT_EQ(ContextMenu(dlg, QContextMenuEvent::Mouse, RowPoint(dlg, -1), ""), Words{});
        EXPECT_EQ(dlg.m_nContextRow, -1);

        QPoint menuAt;
        const QPoint click = RowPoint(dlg, 0);
        EXPECT_EQ(ContextMenu(dlg, QContextMenuEvent::Mouse, click, "Copy IP to clipboard", &menuAt),
                  (Words{"Webbrowser", "Telnet", "Copy IP to clipboard", "Locate"}));
        EXPECT_EQ(menuAt, dlg.m_listDevices->viewport()->mapToGlobal(click));
        EXPECT_EQ(dlg.m_nContextRow, 0);
        EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("10.0.0.5"));

        // The menu key and Shift+F10 (sent as Other here) open it for the selected row, beside it.
        dlg.m_listDevices->setCurrentItem(dlg.m_listDevices->topLevelItem(1));
        const QRect row = dlg.m_listDevices->visualItemRect(dlg.m_listDevices->topLevelItem(1));
        for (auto reason : {QContextMenuEvent::Keyboard, QContextMenuEvent::Other}) {
            dlg.m_nContextRow = -1;
            ContextMenu(dlg, reason, QPoint(), reason == QContextMenuEvent::Other ? "Webbrowser" : "",
                        &menuAt);
            EXPECT_EQ(dlg.m_nContextRow, 1);
            EXPECT_NEAR(menuAt.y(), dlg.m_listDevices->viewport()->mapToGlobal(row.bottomLeft()).y(), 2);
        }
        ContextMenu(dlg, QContextMenuEvent::Mouse, RowPoint(dlg, 1), "Locate");
        ContextMenu(dlg, QContextMenuEvent::Mouse, RowPoint(dlg, 1), "Telnet");
        EXPECT_EQ(m_terminals.WaitForRun(10s), (Words{"xterm", "-e", "telnet", "10.0.0.7"}));
        EXPECT_EQ(m_browser.urls, Words{"http://10.0.0.7/"});
        EXPECT_TRUE(apptest::WaitUntil([&] {
            auto sends = m_sockets->Sends();
            return sends.size() == 2 && sends[1].addr == htonl(0x0A000007);
        })) << "the locate request goes to the row's address";

        // A remembered row that is gone does nothing.
        const std::size_t lines = ActionLines().size();
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        dlg.OnRefresh();  // the list is emptied under the remembered row
        ASSERT_TRUE(apptest::WaitUntil([&] { return dlg.m_btnRefresh->isEnabled(); }));
        const std::size_t sends = m_sockets->Sends().size();
        for (unsigned id : {ID_WEBBROWSER, ID_TELNET, ID_EDIT_COPY, ID_LOCATE})
            dlg.OnCommand(id);
        EXPECT_EQ(dlg.m_nContextRow, 1);
        EXPECT_EQ(ActionLines().size(), lines);
        EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
        EXPECT_EQ(m_sockets->Sends().size(), sends);
    });
    EXPECT_EQ(m_browser.urls, Words{"http://10.0.0.7/"});
    EXPECT_FALSE(m_terminals.WaitForRun(0ms)) << "no second terminal";
}

TEST_F(ActionsTest, LocateOfAGroupAddressIsRefusedWithAWarningAndNothingSent) {
    Run([&](COLDiscoveryDlg& dlg) {
        COrvalink record;
        record.m_strIP = "255.255.255.255";
        dlg.OnAddDevice(record);
        auto rowOf = [&](const char* ip) {
            for (int row = 0; row < dlg.m_listDevices->topLevelItemCount(); ++row)
                if (dlg.m_listDevices->topLevelItem(row)->text(0) == QLatin1String(ip))
                    return row;
            return -1;
        };
        const std::size_t sends = m_sockets->Sends().size();
        QString text;
        ModalScript box([&](QWidget* w) {
            if (auto* message = qobject_cast<QMessageBox*>(w))
                text = message->text();
        });
        dlg.m_nContextRow = rowOf("255.255.255.255");
        dlg.OnCommand(ID_LOCATE);
        EXPECT_EQ(text.toStdString(),
                  "No locate request was sent: 255.255.255.255 is a broadcast address.\n"
                  "Locate asks one device to make itself known.");
        // A refused request was never queued: the next one is the first to go out.
        dlg.m_nContextRow = rowOf("10.0.0.7");
        dlg.OnCommand(ID_LOCATE);
        ASSERT_TRUE(apptest::WaitUntil([&] { return m_sockets->Sends().size() > sends; }));
        EXPECT_EQ(m_sockets->Sends()[sends].addr, htonl(0x0A000007));
    });
}

}  // namespace
