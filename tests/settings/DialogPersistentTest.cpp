#include "settings/DialogPersistent.h"

#include "platform/qt/WinApp.h"
#include "ProfileSandbox.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kTimedOut = -99;

// A dialog as the program's dialogs use the base: fixed template size, event log.
class ProbeDialog : public CDialogPersistent {
public:
    ProbeDialog(unsigned id, int resizable, QSize templateSize = QSize(300, 200))
        : CDialogPersistent(id, nullptr, resizable) {
        resize(templateSize);
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

bool WaitUntil(const std::function<bool()>& done, int ms = 5000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QTest::qWait(5);
    }
    return true;
}

// Runs the dialog modally; whileOpen runs inside the modal loop once the dialog is on the
// screen and must end it. A watchdog ends it with kTimedOut if it does not.
int RunModal(CDialogPersistent& dlg, std::function<void(CDialogPersistent&)> whileOpen) {
    QTimer::singleShot(0, &dlg, [&dlg, whileOpen] {
        if (!WaitUntil([&] { return dlg.isVisible(); }))
            return;
        // A window manager reports the frame a moment after the first show; without one
        // (or offscreen, where it is known at once) this ends at the bound or at once.
        WaitUntil([&] { return dlg.frameGeometry().size() != dlg.size(); }, 1000);
        if (dlg.isVisible())
            whileOpen(dlg);
    });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, &dlg, [&dlg] { dlg.EndDialog(kTimedOut); });
    watchdog.start(10000);
    return dlg.DoModal();
}

void Close(CDialogPersistent& d) { d.reject(); }

class DialogPersistentTest : public ::testing::Test {
protected:
    void SetUp() override {
        app = std::make_unique<CWinApp>("OLDiscovery");
        app->SetRegistryKey("Quarrin-Velto Networks");
    }
    int Stored(unsigned id, const char* name, int dflt = -12345) {
        return app->GetProfileInt(("DlgPos_" + std::to_string(id)).c_str(), name, dflt);
    }
    void StoreRect(unsigned id, QRect r, bool withFlags = true) {
        const std::string s = "DlgPos_" + std::to_string(id);
        if (withFlags)
            app->WriteProfileInt(s.c_str(), "Flags", 0);
        app->WriteProfileInt(s.c_str(), "PosLeft", r.left());
        app->WriteProfileInt(s.c_str(), "PosTop", r.top());
        app->WriteProfileInt(s.c_str(), "PosRight", r.left() + r.width());
        app->WriteProfileInt(s.c_str(), "PosBottom", r.top() + r.height());
    }
    // Frame rectangle of the dialog while it is open, then closes it.
    QRect OpenedFrame(ProbeDialog& d, QSize* clientSize = nullptr) {
        QRect frame;
        EXPECT_EQ(RunModal(d, [&](CDialogPersistent& dlg) {
                      frame = dlg.frameGeometry();
                      if (clientSize)
                          *clientSize = dlg.size();
                      Close(dlg);
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
    const char* names[] = {"Flags",  "ShowCmd", "PtMinX",   "PtMinY",  "PtMaxX",
                           "PtMaxY", "PosLeft", "PosTop",   "PosRight", "PosBottom"};
    for (const char* n : names)
        EXPECT_NE(Stored(129, n), -12345) << n;
    EXPECT_NE(Stored(129, "Flags"), -1);
    EXPECT_EQ(Stored(129, "ShowCmd"), 1);
    EXPECT_EQ(Stored(129, "PosLeft"), frame.left());
    EXPECT_EQ(Stored(129, "PosTop"), frame.top());
    EXPECT_EQ(Stored(129, "PosRight"), frame.left() + frame.width());
    EXPECT_EQ(Stored(129, "PosBottom"), frame.top() + frame.height());
    EXPECT_EQ(d.m_wp.length, 44);
    const std::string text = sandbox.ReadText(sandbox.ProfileFile());
    EXPECT_NE(text.find("[DlgPos_129]"), std::string::npos);
}

TEST_F(DialogPersistentTest, FirstOpenIsWhereTheFrameworkPutsIt) {
    ProbeDialog plain(102, 0);
    QDialog reference;
    reference.resize(300, 200);
    reference.show();
    ASSERT_TRUE(WaitUntil([&] { return reference.isVisible(); }));
    WaitUntil([&] { return reference.frameGeometry().size() != reference.size(); }, 1000);
    const QRect expected = reference.frameGeometry();
    reference.hide();
    EXPECT_EQ(OpenedFrame(plain), expected);
}

TEST_F(DialogPersistentTest, MovedDialogReopensThereWithItsTemplateSize) {
    {
        ProbeDialog d(130, 0);
        RunModal(d, [](CDialogPersistent& dlg) {
            dlg.resize(420, 260);
            dlg.move(300, 200);
            WaitUntil([&] { return dlg.frameGeometry().topLeft() == QPoint(300, 200); });
            Close(dlg);
        });
        EXPECT_EQ(Stored(130, "PosLeft"), 300);
        EXPECT_EQ(Stored(130, "PosTop"), 200);
        EXPECT_GT(Stored(130, "PosRight") - 300, 420);  // the frame is counted in
    }
    ProbeDialog again(130, 0);
    QSize client;
    const QRect frame = OpenedFrame(again, &client);
    EXPECT_EQ(frame.topLeft(), QPoint(300, 200));
    EXPECT_EQ(client, QSize(300, 200));
}

TEST_F(DialogPersistentTest, SameObjectOpenedAgainReturnsToItsPlace) {
    ProbeDialog d(129, 0);
    RunModal(d, [](CDialogPersistent& dlg) {
        dlg.move(260, 140);
        WaitUntil([&] { return dlg.frameGeometry().topLeft() == QPoint(260, 140); });
        Close(dlg);
    });
    RunModal(d, [](CDialogPersistent& dlg) {
        dlg.move(20, 30);
        WaitUntil([&] { return dlg.frameGeometry().topLeft() == QPoint(20, 30); });
        Close(dlg);
    });
    StoreRect(129, QRect(260, 140, 304, 224));
    EXPECT_EQ(OpenedFrame(d).topLeft(), QPoint(260, 140));
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

TEST_F(DialogPersistentTest, ResizableDialogGetsItsSavedSize) {
    const QRect saved(150, 120, 500, 330);  // frame rectangle
    StoreRect(102, saved);
    ProbeDialog d(102, 1);
    QSize client;
    const QRect frame = OpenedFrame(d, &client);
    EXPECT_EQ(frame, saved);
    EXPECT_LT(client.width(), 500);

    ProbeDialog fixed(102, 0);
    const QRect fixedFrame = OpenedFrame(fixed, &client);
    EXPECT_EQ(fixedFrame.topLeft(), saved.topLeft());
    EXPECT_EQ(client, QSize(300, 200));
}

TEST_F(DialogPersistentTest, ResizableDialogKeepsTemplateSizeForAnEmptyRectangle) {
    StoreRect(102, QRect(40, 50, 0, 0));
    ProbeDialog d(102, 1);
    QSize client;
    const QRect frame = OpenedFrame(d, &client);
    EXPECT_EQ(frame.topLeft(), QPoint(40, 50));
    EXPECT_EQ(client, QSize(300, 200));
}

TEST_F(DialogPersistentTest, WindowCreatedBeforeOpeningIsPlacedByItsFrame) {
    StoreRect(129, QRect(210, 160, 500, 330));
    ProbeDialog d(129, 1);
    d.winId();
    QRect frame;
    RunModal(d, [&](CDialogPersistent& dlg) {
        // With a window manager the frame is only known after the show, and placed then.
        WaitUntil([&] { return dlg.frameGeometry() == QRect(210, 160, 500, 330); }, 2000);
        frame = dlg.frameGeometry();
        Close(dlg);
    });
    EXPECT_EQ(frame, QRect(210, 160, 500, 330));
    EXPECT_EQ(Stored(129, "PosLeft"), 210);
    EXPECT_EQ(Stored(129, "PosRight"), 710);
}

TEST_F(DialogPersistentTest, RectangleOffTheScreenIsAppliedUnchanged) {
    StoreRect(129, QRect(-4000, 3000, 304, 224));
    ProbeDialog d(129, 0);
    EXPECT_EQ(OpenedFrame(d).topLeft(), QPoint(-4000, 3000));
    EXPECT_EQ(Stored(129, "PosLeft"), -4000);
    EXPECT_EQ(Stored(129, "PosTop"), 3000);
}

TEST_F(DialogPersistentTest, EachTemplateHasItsOwnSection) {
    StoreRect(129, QRect(10, 20, 304, 224));
    StoreRect(130, QRect(410, 220, 304, 224));
    ProbeDialog settings(129, 0);
    RunModal(settings, [](CDialogPersistent& dlg) {
        dlg.move(60, 70);
        WaitUntil([&] { return dlg.frameGeometry().topLeft() == QPoint(60, 70); });
        Close(dlg);
    });
    EXPECT_EQ(Stored(129, "PosLeft"), 60);
    EXPECT_EQ(Stored(130, "PosLeft"), 410);
    ProbeDialog about(130, 0);
    EXPECT_EQ(OpenedFrame(about).topLeft(), QPoint(410, 220));
}

TEST_F(DialogPersistentTest, MissingFlagsLeavesTheDialogWhereTheFrameworkPutsIt) {
    ProbeDialog reference(131, 0);
    const QRect expected = OpenedFrame(reference);
    StoreRect(102, QRect(17, 19, 304, 224), false);
    ProbeDialog d(102, 0);
    EXPECT_EQ(OpenedFrame(d), expected);
    EXPECT_EQ(d.m_wp.flags, 0);  // saved on close: now it has a placement
}

TEST_F(DialogPersistentTest, MaximisedDialogSavesItsNormalRectangle) {
    StoreRect(102, QRect(120, 90, 304, 224));
    {
        ProbeDialog d(102, 0);
        RunModal(d, [](CDialogPersistent& dlg) {
            dlg.showMaximized();
            WaitUntil([&] { return dlg.isMaximized(); });
            Close(dlg);
        });
    }
    EXPECT_EQ(Stored(102, "ShowCmd"), 3);
    EXPECT_EQ(Stored(102, "PosLeft"), 120);
    EXPECT_EQ(Stored(102, "PosTop"), 90);
    ProbeDialog again(102, 0);
    RunModal(again, [](CDialogPersistent& dlg) {
        EXPECT_FALSE(dlg.isMaximized());
        EXPECT_EQ(dlg.frameGeometry().topLeft(), QPoint(120, 90));
        Close(dlg);
    });
    EXPECT_EQ(Stored(102, "ShowCmd"), 1);
}

TEST_F(DialogPersistentTest, MinimisedDialogRecordsItAndReopensNormal) {
    StoreRect(102, QRect(130, 80, 304, 224));
    {
        ProbeDialog d(102, 0);
        RunModal(d, [](CDialogPersistent& dlg) {
            dlg.showMinimized();
            WaitUntil([&] { return dlg.isMinimized(); });
            Close(dlg);
        });
    }
    EXPECT_EQ(Stored(102, "ShowCmd"), 2);
    EXPECT_EQ(Stored(102, "PosLeft"), 130);
    ProbeDialog again(102, 0);
    RunModal(again, [](CDialogPersistent& dlg) {
        EXPECT_FALSE(dlg.isMinimized());
        EXPECT_EQ(dlg.frameGeometry().topLeft(), QPoint(130, 80));
        Close(dlg);
    });
}

TEST_F(DialogPersistentTest, DoModalResults) {
    ProbeDialog ok(129, 0);
    EXPECT_EQ(RunModal(ok, [](CDialogPersistent& d) { d.accept(); }), IDOK);
    ProbeDialog cancel(129, 0);
    EXPECT_EQ(RunModal(cancel, [](CDialogPersistent& d) { d.reject(); }), IDCANCEL);
    ProbeDialog escape(129, 0);
    EXPECT_EQ(RunModal(escape, [](CDialogPersistent& d) { QTest::keyClick(&d, Qt::Key_Escape); }), IDCANCEL);
    ProbeDialog closeBox(129, 0);
    EXPECT_EQ(RunModal(closeBox, [](CDialogPersistent& d) { d.close(); }), IDCANCEL);
    ProbeDialog custom(129, 0);
    EXPECT_EQ(RunModal(custom, [](CDialogPersistent& d) { d.EndDialog(7); }), 7);
}

TEST_F(DialogPersistentTest, FrameworkOrderOfCalls) {
    ProbeDialog ok(129, 0);
    RunModal(ok, [](CDialogPersistent& d) { d.accept(); });
    EXPECT_FALSE(ok.visibleAtInit);
    EXPECT_EQ(ok.calls, (std::vector<std::string>{"init", "fill", "read", "destroy"}));

    ProbeDialog cancel(129, 0);
    RunModal(cancel, [](CDialogPersistent& d) { QTest::keyClick(&d, Qt::Key_Escape); });
    EXPECT_EQ(cancel.calls, (std::vector<std::string>{"init", "fill", "destroy"}));

    // Opened twice: each opening initialises and ends on its own.
    RunModal(cancel, [](CDialogPersistent& d) { d.reject(); });
    EXPECT_EQ(cancel.calls.size(), 6u);
}

TEST_F(DialogPersistentTest, FailedValidationKeepsTheDialogOpen) {
    ProbeDialog d(129, 0);
    d.failValidation = true;
    const int result = RunModal(d, [](CDialogPersistent& dlg) {
        dlg.accept();
        EXPECT_TRUE(dlg.isVisible());
        static_cast<ProbeDialog&>(dlg).failValidation = false;
        dlg.accept();
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(d.calls, (std::vector<std::string>{"init", "fill", "read", "read", "destroy"}));
}

TEST_F(DialogPersistentTest, EndedDuringInitialisationNeverShowsAndSavesNothing) {
    ProbeDialog d(129, 0);
    d.endInInit = true;
    EXPECT_EQ(RunModal(d, [](CDialogPersistent& dlg) { dlg.EndDialog(kTimedOut); }), IDOK);
    EXPECT_EQ(Stored(129, "Flags"), -12345);
}

TEST_F(DialogPersistentTest, DeletedWhileOpenStillSavesAndReturns) {
    QPointer<ProbeDialog> d = new ProbeDialog(129, 0);
    const int result = RunModal(*d, [](CDialogPersistent& dlg) {
        dlg.move(70, 80);
        WaitUntil([&] { return dlg.frameGeometry().topLeft() == QPoint(70, 80); });
        dlg.deleteLater();
    });
    EXPECT_TRUE(d.isNull());
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(Stored(129, "PosLeft"), 70);
}

TEST_F(DialogPersistentTest, NoPlacementWhenTheWindowWasNeverCreated) {
    ProbeDialog d(129, 0);
    d.SavePlacement();
    EXPECT_EQ(Stored(129, "Flags"), -12345);
    d.LoadPlacement();
    EXPECT_EQ(d.m_wp.flags, -1);
    EXPECT_EQ(d.m_wp.length, 44);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication qapp(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
