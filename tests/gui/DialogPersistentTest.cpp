#include "gui/settings/DialogPersistent.h"

#include "base/UniqueFd.h"
#include "gui/framework/WinApp.h"
#include "GuiWait.h"
#include "ProfileSandbox.h"
#include "ProfileValues.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPointer>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <sys/inotify.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kTimedOut = -99;
constexpr int kAbsent = -12345;

// A dialog as the program's dialogs use the base: a template size, and a log of the calls.
class ProbeDialog : public CDialogPersistent {
public:
    ProbeDialog(unsigned id, int resizable) : CDialogPersistent(id, nullptr, resizable) {
        SetProfile(FixtureProfile());
        resize(300, 200);
    }
    // The fixture's application, which every dialog of a test keeps its placement in.
    static CWinApp*& FixtureProfile() {
        static CWinApp* profile = nullptr;
        return profile;
    }
    std::vector<std::string> calls;
    bool visibleAtInit = true;
    bool failValidation = false;
    bool endInInit = false;

protected:
    bool OnInitDialog() override {
        visibleAtInit = isVisible();
        calls.push_back("init");
        bool r = CDialogPersistent::OnInitDialog();
        if (endInInit)
            EndDialog(IDOK);
        return r;
    }
    void DoDataExchange(bool save) override {
        calls.push_back(save ? "read" : "fill");
        if (save && failValidation)
            FailDataExchange();
    }
    void OnDestroy() override {
        calls.push_back("destroy");
        CDialogPersistent::OnDestroy();
    }
};

using guitest::WaitUntil;
using namespace std::chrono_literals;

// Runs the dialog modally; whileOpen runs inside the modal loop once the dialog is on the
// screen and must end it. A watchdog ends it with kTimedOut if it does not.
int RunModal(CDialogPersistent& dlg, std::function<void(CDialogPersistent&)> whileOpen) {
    QTimer::singleShot(0, &dlg, [&dlg, whileOpen] {
        if (!WaitUntil([&] { return dlg.isVisible(); }, 5s))
            return;
        // A window manager reports the frame a moment after the first show; offscreen it is
        // known at once, and without any frame this ends at the bound.
        WaitUntil([&] { return dlg.frameGeometry().size() != dlg.size(); }, 1000ms);
        if (dlg.isVisible())
            whileOpen(dlg);
    });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, &dlg, [&dlg] { dlg.EndDialog(kTimedOut); });
    watchdog.start(10000);
    return dlg.DoModal();
}

void MoveAndClose(CDialogPersistent& dlg, QPoint to) {
    dlg.move(to);
    WaitUntil([&] { return dlg.frameGeometry().topLeft() == to; }, 5s);
    dlg.reject();
}

class DialogPersistentTest : public ::testing::Test {
protected:
    void SetUp() override {
        app = std::make_unique<CWinApp>("OLDiscovery");
        app->SetRegistryKey("Quarrin-Velto Networks");
        ProbeDialog::FixtureProfile() = app.get();
    }
    void TearDown() override { ProbeDialog::FixtureProfile() = nullptr; }
    int Stored(unsigned id, const char* name) {
        return GetProfileInt(*app, ("DlgPos_" + std::to_string(id)).c_str(), name, kAbsent);
    }
    void StoreFrame(unsigned id, QRect r, bool withFlags = true) {
        const std::string s = "DlgPos_" + std::to_string(id);
        if (withFlags)
            WriteProfileInt(*app, s.c_str(), "Flags", 0);
        WriteProfileInt(*app, s.c_str(), "PosLeft", r.left());
        WriteProfileInt(*app, s.c_str(), "PosTop", r.top());
        WriteProfileInt(*app, s.c_str(), "PosRight", r.left() + r.width());
        WriteProfileInt(*app, s.c_str(), "PosBottom", r.top() + r.height());
    }
    // Frame rectangle (and client size) of the dialog while it is open; then closes it.
    QRect OpenedFrame(CDialogPersistent& d, QSize* clientSize = nullptr) {
        QRect frame;
        EXPECT_EQ(RunModal(d,
                           [&](CDialogPersistent& dlg) {
                               frame = dlg.frameGeometry();
                               if (clientSize)
                                   *clientSize = dlg.size();
                               dlg.reject();
                           }),
                  IDCANCEL);
        return frame;
    }

    ProfileSandbox sandbox;
    std::unique_ptr<CWinApp> app;
};

TEST_F(DialogPersistentTest, FirstCloseCreatesTheSectionWithTenValues) {
    ProbeDialog d(129, 0);
    const QRect frame = OpenedFrame(d);
    for (const char* n : {"Flags", "ShowCmd", "PtMinX", "PtMinY", "PtMaxX", "PtMaxY", "PosLeft", "PosTop",
                          "PosRight", "PosBottom"})
        EXPECT_NE(Stored(129, n), kAbsent) << n;
    EXPECT_NE(Stored(129, "Flags"), -1);
    EXPECT_EQ(Stored(129, "ShowCmd"), 1);
    EXPECT_EQ(Stored(129, "PosLeft"), frame.left());
    EXPECT_EQ(Stored(129, "PosTop"), frame.top());
    EXPECT_EQ(Stored(129, "PosRight"), frame.left() + frame.width());
    EXPECT_EQ(Stored(129, "PosBottom"), frame.top() + frame.height());
    EXPECT_EQ(d.m_wp.length, 44);
    EXPECT_NE(sandbox.ReadText(sandbox.ProfileFile()).find("[DlgPos_129]"), std::string::npos);
}

// The settings file is saved by writing a new file and renaming it over the old one. The new
// file's creation is watched too: the kernel merges identical events that follow each other.
int SavesDuring(const std::string& file, const std::function<void()>& action) {
    const std::filesystem::path path(file);
    UniqueFd watch(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    EXPECT_GE(inotify_add_watch(watch.get(), path.parent_path().c_str(), IN_CREATE | IN_MOVED_TO), 0);
    action();
    int saves = 0;
    alignas(inotify_event) char events[64 * 1024];
    ssize_t n;
    while ((n = read(watch.get(), events, sizeof events)) > 0) {
        for (char* at = events; at < events + n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            saves += (event->mask & IN_MOVED_TO) && event->len > 0 && path.filename() == event->name;
            at += sizeof(inotify_event) + event->len;
        }
    }
    return saves;
}

TEST_F(DialogPersistentTest, ClosingSavesTheTenValuesWithOneWriteOfTheFile) {
    WriteProfileString(*app, "Settings", "AutoRefresh", "1");  // the file's folder exists
    ProbeDialog d(129, 0);
    EXPECT_EQ(SavesDuring(sandbox.ProfileFile(), [&] { OpenedFrame(d); }), 1);
    for (const char* n : {"Flags", "ShowCmd", "PtMinX", "PtMinY", "PtMaxX", "PtMaxY", "PosLeft", "PosTop",
                          "PosRight", "PosBottom"})
        EXPECT_NE(Stored(129, n), kAbsent) << n;
}

TEST_F(DialogPersistentTest, MovedDialogReopensThereWithItsTemplateSize) {
    {
        ProbeDialog d(130, 0);
        RunModal(d, [](CDialogPersistent& dlg) {
            dlg.resize(420, 260);
            MoveAndClose(dlg, QPoint(300, 200));
        });
        EXPECT_EQ(Stored(130, "PosLeft"), 300);
        EXPECT_EQ(Stored(130, "PosTop"), 200);
        EXPECT_GT(Stored(130, "PosRight") - 300, 420);  // the frame is counted in
    }
    ProbeDialog again(130, 0);
    QSize client;
    EXPECT_EQ(OpenedFrame(again, &client).topLeft(), QPoint(300, 200));
    EXPECT_EQ(client, QSize(300, 200));

    // The same object opened once more starts from the store as well.
    StoreFrame(130, QRect(260, 140, 304, 224));
    EXPECT_EQ(OpenedFrame(again).topLeft(), QPoint(260, 140));
}

TEST_F(DialogPersistentTest, ReopeningWithoutMovingDoesNotDrift) {
    QRect first;
    {
        ProbeDialog d(102, 1);
        first = OpenedFrame(d);
    }
    for (int run = 0; run < 3; ++run) {
        ProbeDialog d(102, 1);
        QSize client;
        EXPECT_EQ(OpenedFrame(d, &client), first) << "run " << run;
        EXPECT_EQ(client, QSize(300, 200)) << "run " << run;
    }
}

TEST_F(DialogPersistentTest, OnlyAResizableDialogGetsItsSavedSize) {
    const QRect saved(150, 120, 500, 330);
    StoreFrame(102, saved);
    ProbeDialog resizable(102, 1);
    QSize client;
    EXPECT_EQ(OpenedFrame(resizable, &client), saved);
    EXPECT_LT(client.width(), 500);

    StoreFrame(102, saved);
    ProbeDialog fixed(102, 0);
    EXPECT_EQ(OpenedFrame(fixed, &client).topLeft(), saved.topLeft());
    EXPECT_EQ(client, QSize(300, 200));

    // A rectangle without area would leave no usable window: position only.
    StoreFrame(102, QRect(40, 50, 0, 0));
    ProbeDialog empty(102, 1);
    EXPECT_EQ(OpenedFrame(empty, &client).topLeft(), QPoint(40, 50));
    EXPECT_EQ(client, QSize(300, 200));

    // Wider than the screen (saved on a larger one): brought within it.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    StoreFrame(102, QRect(300, 40, screen.width() + 400, 330));
    ProbeDialog wide(102, 1);
    EXPECT_EQ(OpenedFrame(wide), QRect(screen.left(), 40, screen.width(), 330));
}

TEST_F(DialogPersistentTest, WindowCreatedBeforeOpeningIsPlacedByItsFrame) {
    StoreFrame(129, QRect(210, 160, 500, 330));
    ProbeDialog d(129, 1);
    d.winId();
    QRect frame;
    RunModal(d, [&](CDialogPersistent& dlg) {
        // With a window manager the frame is known, and placed, only after the show.
        WaitUntil([&] { return dlg.frameGeometry() == QRect(210, 160, 500, 330); }, 2000ms);
        frame = dlg.frameGeometry();
        dlg.reject();
    });
    EXPECT_EQ(frame, QRect(210, 160, 500, 330));
    EXPECT_EQ(Stored(129, "PosRight"), 710);
}

TEST_F(DialogPersistentTest, RectangleOffTheScreenIsAppliedUnchanged) {
    StoreFrame(129, QRect(-4000, 3000, 304, 224));
    ProbeDialog d(129, 0);
    EXPECT_EQ(OpenedFrame(d).topLeft(), QPoint(-4000, 3000));
    EXPECT_EQ(Stored(129, "PosLeft"), -4000);
}

TEST_F(DialogPersistentTest, EachTemplateHasItsOwnSection) {
    StoreFrame(129, QRect(10, 20, 304, 224));
    StoreFrame(130, QRect(410, 220, 304, 224));
    ProbeDialog settings(129, 0);
    RunModal(settings, [](CDialogPersistent& dlg) { MoveAndClose(dlg, QPoint(60, 70)); });
    EXPECT_EQ(Stored(129, "PosLeft"), 60);
    EXPECT_EQ(Stored(130, "PosLeft"), 410);
    ProbeDialog about(130, 0);
    EXPECT_EQ(OpenedFrame(about).topLeft(), QPoint(410, 220));
}

TEST_F(DialogPersistentTest, WithoutProfileNothingIsReadOrKept) {
    ProbeDialog reference(129, 0);
    const QRect expected = OpenedFrame(reference);
    std::filesystem::remove_all(sandbox.Folder() + "/Quarrin-Velto Networks");
    ProbeDialog d(129, 0);
    d.SetProfile(nullptr);
    EXPECT_EQ(OpenedFrame(d), expected);
    EXPECT_FALSE(std::filesystem::exists(sandbox.ProfileFile()));
}

TEST_F(DialogPersistentTest, MissingFlagsLeavesTheDialogWhereTheFrameworkPutsIt) {
    ProbeDialog reference(131, 0);
    const QRect expected = OpenedFrame(reference);
    StoreFrame(102, QRect(17, 19, 304, 224), false);
    ProbeDialog d(102, 0);
    EXPECT_EQ(OpenedFrame(d), expected);
    EXPECT_EQ(Stored(102, "Flags"), 0);  // saved on close: now it has a placement
}

TEST_F(DialogPersistentTest, MinimisedOrMaximisedDialogSavesItsNormalRectangle) {
    struct Case {
        int showCmd;
        std::function<void(QWidget&)> show;
        std::function<bool(QWidget&)> shown;
    };
    const Case cases[] = {
        {3, [](QWidget& w) { w.showMaximized(); }, [](QWidget& w) { return w.isMaximized(); }},
        {2, [](QWidget& w) { w.showMinimized(); }, [](QWidget& w) { return w.isMinimized(); }},
    };
    for (const Case& c : cases) {
        StoreFrame(102, QRect(120, 90, 304, 224));
        {
            ProbeDialog d(102, 0);
            RunModal(d, [&](CDialogPersistent& dlg) {
                c.show(dlg);
                WaitUntil([&] { return c.shown(dlg); }, 5s);
                dlg.reject();
            });
        }
        EXPECT_EQ(Stored(102, "ShowCmd"), c.showCmd);
        EXPECT_EQ(Stored(102, "PosLeft"), 120);
        EXPECT_EQ(Stored(102, "PosTop"), 90);
        ProbeDialog again(102, 0);
        RunModal(again, [](CDialogPersistent& dlg) {
            EXPECT_FALSE(dlg.isMaximized() || dlg.isMinimized());
            EXPECT_EQ(dlg.frameGeometry().topLeft(), QPoint(120, 90));
            dlg.reject();
        });
        EXPECT_EQ(Stored(102, "ShowCmd"), 1);
    }
}

TEST_F(DialogPersistentTest, DoModalResults) {
    const std::pair<std::function<void(CDialogPersistent&)>, int> cases[] = {
        {[](CDialogPersistent& d) { d.accept(); }, IDOK},
        {[](CDialogPersistent& d) { d.reject(); }, IDCANCEL},
        {[](CDialogPersistent& d) { QTest::keyClick(&d, Qt::Key_Escape); }, IDCANCEL},
        {[](CDialogPersistent& d) { d.close(); }, IDCANCEL},
        {[](CDialogPersistent& d) { d.EndDialog(7); }, 7},
    };
    for (const auto& [action, expected] : cases) {
        ProbeDialog d(129, 0);
        EXPECT_EQ(RunModal(d, action), expected);
        EXPECT_NE(Stored(129, "Flags"), kAbsent);
    }
}

TEST_F(DialogPersistentTest, FrameworkOrderOfCalls) {
    ProbeDialog ok(129, 0);
    RunModal(ok, [](CDialogPersistent& d) { d.accept(); });
    EXPECT_FALSE(ok.visibleAtInit);
    EXPECT_EQ(ok.calls, (std::vector<std::string>{"init", "fill", "read", "destroy"}));

    ProbeDialog cancel(129, 0);
    RunModal(cancel, [](CDialogPersistent& d) { QTest::keyClick(&d, Qt::Key_Escape); });
    EXPECT_EQ(cancel.calls, (std::vector<std::string>{"init", "fill", "destroy"}));
    RunModal(cancel, [](CDialogPersistent& d) { d.reject(); });
    EXPECT_EQ(cancel.calls.size(), 6u);  // each opening initialises and ends on its own

    ProbeDialog invalid(129, 0);
    invalid.failValidation = true;
    EXPECT_EQ(RunModal(invalid,
                       [](CDialogPersistent& dlg) {
                           dlg.accept();
                           EXPECT_TRUE(dlg.isVisible());  // refused: still open
                           static_cast<ProbeDialog&>(dlg).failValidation = false;
                           dlg.accept();
                       }),
              IDOK);
    EXPECT_EQ(invalid.calls, (std::vector<std::string>{"init", "fill", "read", "read", "destroy"}));
}

TEST_F(DialogPersistentTest, NothingIsSavedForAWindowNeverCreated) {
    ProbeDialog ended(129, 0);
    ended.endInInit = true;
    EXPECT_EQ(RunModal(ended, [](CDialogPersistent& dlg) { dlg.EndDialog(kTimedOut); }), IDOK);
    ProbeDialog unopened(129, 0);
    unopened.SavePlacement();
    EXPECT_EQ(Stored(129, "Flags"), kAbsent);
    unopened.LoadPlacement();
    EXPECT_EQ(unopened.m_wp.flags, -1);
    EXPECT_EQ(unopened.m_wp.length, 44);
}

TEST_F(DialogPersistentTest, DeletedWhileOpenStillSavesAndReturns) {
    QPointer<ProbeDialog> d = new ProbeDialog(129, 0);
    const int result = RunModal(*d, [](CDialogPersistent& dlg) {
        dlg.move(70, 80);
        WaitUntil([&] { return dlg.frameGeometry().topLeft() == QPoint(70, 80); }, 5s);
        dlg.deleteLater();
    });
    EXPECT_TRUE(d.isNull());
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(Stored(129, "PosLeft"), 70);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication qapp(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
