// The About box, offscreen: its layout with font metrics fixed by the test, its texts, and its
// opening from the main dialog's window menu.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTest>

#include "AppTestSupport.h"
#include "ProfileValues.h"
#include "StandIn.h"
#include "gui/about/VeltoAboutDlg.h"
#include "gui/app/OLDiscoveryDlg.h"
#include "gui/framework/WinApp.h"
#include "res/Resource.h"
#include "res/StringTable.h"
#include "res/VersionBlock.h"

using apptest::ModalScript;
using apptest::ScopedWorkDir;

namespace {

// Every character 7 pixels wide, every line as tall as its font's cell at c = 13.
class FixedMetricsAboutDlg : public CVeltoAboutDlg {
public:
    explicit FixedMetricsAboutDlg(const VersionBlock* block) : CVeltoAboutDlg(nullptr, block) {}

    int BaseFontHeight() const override { return 13; }
    QSize MeasureText(const std::string& text, const QFont* font) const override {
        const int lineHeight = font == &m_fontTitle ? 26 : font == &m_fontVersion ? 19 : 13;
        int widest = 1, lines = 1, run = 0;
        for (char c : text)
            c == '\n' ? (++lines, run = 0) : (widest = std::max(widest, ++run));
        return QSize(7 * widest, lines * lineHeight);
    }
};

// Bottom (exclusive) of a control.
int Bottom(const QWidget* w) {
    return w->y() + w->height();
}

// A version block with the given description, file version and copyright notice.
struct TestBlock {
    TestBlock(const char* description, const char* fileVersion, const char* copyright)
        : strings{{"FileDescription", description},
                  {"FileVersion", fileVersion},
                  {"LegalCopyright", copyright},
                  {"ProductName", "Orvalink Discovery Tool"}} {}
    VersionString strings[4];
    VersionStringTable table{"040904B0", strings, 4};
    VersionTranslation translation{0x0409, 0x04B0};
    VersionBlock block{&table, 1, &translation, 1, {1, 4, 0, 1009}, {1, 4, 0, 1009}};
};

// Shows the box once and closes it; its controls keep their places for the test to read.
void Open(FixedMetricsAboutDlg& dlg) {
    ModalScript close(nullptr);
    dlg.DoModal();
}

TEST(VeltoAboutDlgTest, TheWorkedExampleOfTheLayout) {
    TestBlock version("Orvalink Discovery Tool", "1, 4, 0, 1009",
                      "Copyright (C) 2006 Quarrin-Velto Networks");
    FixedMetricsAboutDlg dlg(&version.block);
    Open(dlg);
    std::vector<int> edges;  // top and bottom of each, from the title down
    for (const QWidget* w : std::initializer_list<const QWidget*>{
             dlg.m_staticTitle, dlg.m_staticVersion, dlg.m_staticIcon, dlg.m_ruleUpper, dlg.m_staticAddress,
             &dlg.m_link, dlg.m_staticCopyright, dlg.m_ruleLower}) {
        edges.push_back(w->y());
        edges.push_back(Bottom(w));
    }
    EXPECT_EQ(edges,
              (std::vector<int>{16, 42, 52, 71, 19, 67, 87, 89, 103, 142, 146, 159, 175, 188, 208, 210}));
    EXPECT_EQ(dlg.OkButton()->y(), 224);
    // The copyright notice (41 characters) in the value column decides the width.
    const int clientWidth = 7 * 41 + 170 + 60;
    EXPECT_EQ(dlg.size(), QSize(clientWidth, 208 + 28 + dlg.OkButton()->height()));
    EXPECT_EQ(dlg.OkButton()->x(), clientWidth / 2 - dlg.OkButton()->width() / 2);
    EXPECT_EQ(dlg.m_ruleLower->geometry(), QRect(8, 208, clientWidth - 16, 2));
    EXPECT_EQ(dlg.windowTitle(), "About Orvalink Discovery Tool");
    EXPECT_EQ(dlg.m_staticVersion->text(), "Version V1.04 (Build 1009)");

    // The labels end 16 pixels before the value column; the link carries the maker's address.
    EXPECT_EQ(dlg.m_staticDevelopment->text().toStdString(), LoadString(IDS_DEVELOPMENT));
    EXPECT_EQ(dlg.m_staticDevelopment->x() + 7 * 13, 154);
    EXPECT_EQ(dlg.m_staticCopyrightLabel->geometry().right() + 1, 158);
    EXPECT_EQ(dlg.m_staticAddress->text().toStdString(), LoadString(IDS_MAKER_ADDRESS));
    EXPECT_EQ(dlg.m_link.GetTarget(), LoadString(IDS_WEB_ADDRESS));
    EXPECT_EQ(dlg.m_link.text().toStdString(), LoadString(IDS_WEB_ADDRESS));
    EXPECT_EQ(dlg.m_link.x(), 170);
    EXPECT_EQ(dlg.m_link.LinkColor(), RGB(0, 0, 160));
    EXPECT_EQ(dlg.m_link.VisitedColor(), RGB(0, 0, 160));
    EXPECT_FALSE(dlg.m_staticIcon->pixmap().isNull());
}

TEST(VeltoAboutDlgTest, ALineBreakInTheTextsMovesWhatIsBelowByOneLine) {
    TestBlock plain("Orvalink", "1, 4, 0, 1009", "(C) Maker");
    TestBlock twoLines("Orvalink\\nDiscovery", "1, 4, 0, 1009", "(C) Maker\\nAll rights");
    FixedMetricsAboutDlg a(&plain.block), b(&twoLines.block);
    Open(a);
    Open(b);
    EXPECT_EQ(b.m_staticTitle->geometry().top(), 16);
    EXPECT_EQ(Bottom(b.m_staticTitle), 16 + 52);
    EXPECT_EQ(b.m_staticIcon->y(), ((Bottom(a.m_staticVersion) + 26) - 16) / 2 - 8);
    for (auto [above, below] :
         {std::pair{a.m_staticVersion, b.m_staticVersion}, {a.m_staticAddress, b.m_staticAddress}})
        EXPECT_EQ(below->y(), above->y() + 26);
    // The copyright's second line moves the rest by one more body line.
    EXPECT_EQ(Bottom(b.m_staticCopyright), Bottom(a.m_staticCopyright) + 26 + 13);
    EXPECT_EQ(b.m_ruleLower->y(), a.m_ruleLower->y() + 26 + 13);
    EXPECT_EQ(b.OkButton()->y(), a.OkButton()->y() + 26 + 13);
    EXPECT_EQ(b.height(), a.height() + 26 + 13);
    EXPECT_EQ(b.m_staticCopyright->text(), "(C) Maker\nAll rights");
}

TEST(VeltoAboutDlgTest, WithoutAVersionBlockThePresetsShow) {
    TestBlock threeNumbers("", "1, 4, 1009", "");
    FixedMetricsAboutDlg none(nullptr), partial(&threeNumbers.block);
    Open(none);
    Open(partial);
    EXPECT_EQ(none.windowTitle(), "About ");
    for (FixedMetricsAboutDlg* dlg : {&none, &partial})
        EXPECT_EQ(dlg->m_staticVersion->text(), "Version V0.99 (Build 1000)");
    EXPECT_EQ(partial.m_staticTitle->text(), "Orvalink Discovery Tool") << "the product name stands in";
}

// The desktop's opener replaced by a recorder for the life of the object (no xdg-open on PATH:
// Qt's own opener, which the recorder hooks, takes the address).
struct RecordedOpener {
    RecordedOpener() { QDesktopServices::setUrlHandler(QStringLiteral("http"), &opened, "Open"); }
    ~RecordedOpener() { QDesktopServices::unsetUrlHandler(QStringLiteral("http")); }
    testsupport::TempDir noPrograms;
    ScopedEnv path{"PATH", noPrograms.path().c_str()};
    apptest::UrlRecorder opened;
};

TEST(VeltoAboutDlgTest, AfterAClickOnTheLinkEnterPressesOk) {
    TestBlock version("Orvalink Discovery Tool", "1, 4, 0, 1009", "(C) Maker");
    FixedMetricsAboutDlg dlg(&version.block);
    RecordedOpener browser;
    ModalScript user([&](QWidget* box) {
        QTest::mouseClick(&dlg.m_link, Qt::LeftButton);
        QTest::keyClick(box->focusWidget() ? box->focusWidget() : box, Qt::Key_Return);
    });
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(browser.opened.urls.size(), 1u);
}

TEST(VeltoAboutDlgTest, AKeyHeldOnTheLinkOpensItOnceAndLeavesTheBoxOpen) {
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
        TestBlock version("Orvalink Discovery Tool", "1, 4, 0, 1009", "(C) Maker");
        FixedMetricsAboutDlg dlg(&version.block);
        RecordedOpener browser;
        bool openAfterRepeats = false;
        ModalScript user([&](QWidget* box) {
            dlg.m_link.setFocus(Qt::TabFocusReason);
            QWidget* target = box->focusWidget();
            ASSERT_EQ(target, &dlg.m_link);
            // A key held for two seconds: one press, then the keyboard's repeats.
            for (int press = 0; press < 35; ++press) {
                QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier, QString(), press > 0);
                QApplication::sendEvent(target, &down);
            }
            QKeyEvent up(QEvent::KeyRelease, key, Qt::NoModifier);
            QApplication::sendEvent(target, &up);
            openAfterRepeats = dlg.isVisible();
        });
        EXPECT_EQ(dlg.DoModal(), IDCANCEL) << key;
        EXPECT_TRUE(openAfterRepeats) << key;
        EXPECT_EQ(browser.opened.urls.size(), 1u) << key;
    }
}

TEST(VeltoAboutDlgTest, TheWindowMenuOpensItAndItsPlacementIsKept) {
    ScopedWorkDir dir;
    CWinApp app("AboutTest");
    app.SetRegistryKey("Quarrin-Velto Networks");
    COLDiscoveryDlg main;
    main.SetProfile(&app);
    std::string caption;
    ModalScript atMain([&](QWidget*) {
        ModalScript atAbout([&](QWidget* about) { caption = about->windowTitle().toStdString(); });
        QAction* item = nullptr;
        for (QAction* action : main.GetSystemMenu()->actions()) {
            if (action->text().toStdString() == LoadString(IDS_ABOUTBOX))
                item = action;
        }
        ASSERT_TRUE(item);
        item->trigger();
    });
    main.DoModal();
    EXPECT_EQ(caption, "About Orvalink Discovery Tool");
    EXPECT_NE(GetProfileInt(app, "DlgPos_130", "Flags", -1), -1);
    EXPECT_NE(GetProfileInt(app, "DlgPos_130", "PosRight", 0), 0);
}

}  // namespace
