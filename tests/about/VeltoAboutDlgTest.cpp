// The About box, offscreen: its layout with font metrics fixed by the test, its texts, and its
// opening from the main dialog's window menu.
#include <gtest/gtest.h>

#include <QLabel>
#include <QMenu>
#include <QPushButton>

#include "AppTestSupport.h"
#include "about/VeltoAboutDlg.h"
#include "app/OLDiscoveryDlg.h"
#include "platform/qt/WinApp.h"
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
        int widest = 0, lines = 1;
        size_t lineStart = 0;
        for (size_t i = 0; i <= text.size(); ++i) {
            if (i == text.size() || text[i] == '\n') {
                widest = std::max(widest, std::max<int>(1, static_cast<int>(i - lineStart)));
                lineStart = i + 1;
                lines += i < text.size();
            }
        }
        return QSize(7 * widest, lines * lineHeight);
    }

    // Top and bottom (exclusive) of a control.
    static std::pair<int, int> Span(const QWidget* w) { return {w->y(), w->y() + w->height()}; }
};

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

struct Layout {
    std::pair<int, int> description, version, icon, ruleUpper, address, link, copyright, ruleLower;
    int okTop;
    QSize client;
    std::string caption, versionText, copyrightText;
};

Layout Open(FixedMetricsAboutDlg& dlg) {
    Layout seen;
    ModalScript look([&](QWidget*) {
        seen = {FixedMetricsAboutDlg::Span(dlg.m_staticTitle),
                FixedMetricsAboutDlg::Span(dlg.m_staticVersion),
                FixedMetricsAboutDlg::Span(dlg.m_staticIcon),
                FixedMetricsAboutDlg::Span(dlg.m_ruleUpper),
                FixedMetricsAboutDlg::Span(dlg.m_staticAddress),
                FixedMetricsAboutDlg::Span(&dlg.m_link),
                FixedMetricsAboutDlg::Span(dlg.m_staticCopyright),
                FixedMetricsAboutDlg::Span(dlg.m_ruleLower),
                dlg.OkButton()->y(),
                dlg.size(),
                dlg.windowTitle().toStdString(),
                dlg.m_staticVersion->text().toStdString(),
                dlg.m_staticCopyright->text().toStdString()};
    });
    dlg.DoModal();
    return seen;
}

TEST(VeltoAboutDlgTest, TheWorkedExampleOfTheLayout) {
    TestBlock version("Orvalink Discovery Tool", "1, 4, 0, 1009",
                      "Copyright (C) 2006 Quarrin-Velto Networks");
    FixedMetricsAboutDlg dlg(&version.block);
    const Layout l = Open(dlg);
    EXPECT_EQ(l.description, std::make_pair(16, 42));
    EXPECT_EQ(l.version, std::make_pair(52, 71));
    EXPECT_EQ(l.icon, std::make_pair(19, 67));
    EXPECT_EQ(l.ruleUpper, std::make_pair(87, 89));
    EXPECT_EQ(l.address, std::make_pair(103, 142));
    EXPECT_EQ(l.link, std::make_pair(146, 159));
    EXPECT_EQ(l.copyright, std::make_pair(175, 188));
    EXPECT_EQ(l.ruleLower, std::make_pair(208, 210));
    EXPECT_EQ(l.okTop, 224);
    // The copyright notice (41 characters) in the value column decides the width.
    const int clientWidth = 7 * 41 + 170 + 60;
    EXPECT_EQ(l.client, QSize(clientWidth, 208 + 28 + dlg.OkButton()->height()));
    EXPECT_EQ(dlg.OkButton()->x(), clientWidth / 2 - dlg.OkButton()->width() / 2);
    EXPECT_EQ(dlg.m_ruleLower->geometry(), QRect(8, 208, clientWidth - 16, 2));
    EXPECT_EQ(l.caption, "About Orvalink Discovery Tool");
    EXPECT_EQ(l.versionText, "Version V1.04 (Build 1009)");

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
    FixedMetricsAboutDlg before(&plain.block), after(&twoLines.block);
    const Layout a = Open(before), b = Open(after);
    EXPECT_EQ(b.description, std::make_pair(16, 16 + 52));
    EXPECT_EQ(b.version.first, a.version.first + 26);
    EXPECT_EQ(b.address.first, a.address.first + 26);
    EXPECT_EQ(b.icon.first, ((a.version.second + 26) - 16) / 2 - 8);
    EXPECT_EQ(b.copyright.second, a.copyright.second + 26 + 13);
    EXPECT_EQ(b.ruleLower.first, a.ruleLower.first + 26 + 13);
    EXPECT_EQ(b.okTop, a.okTop + 26 + 13);
    EXPECT_EQ(b.client.height(), a.client.height() + 26 + 13);
    EXPECT_EQ(b.copyrightText, "(C) Maker\nAll rights");
}

TEST(VeltoAboutDlgTest, WithoutAVersionBlockThePresetsShow) {
    FixedMetricsAboutDlg dlg(nullptr);
    const Layout l = Open(dlg);
    EXPECT_EQ(l.versionText, "Version V0.99 (Build 1000)");
    EXPECT_EQ(l.caption, "About ");
    TestBlock threeNumbers("", "1, 4, 1009", "");
    FixedMetricsAboutDlg partial(&threeNumbers.block);
    const Layout p = Open(partial);
    EXPECT_EQ(p.versionText, "Version V0.99 (Build 1000)");
    EXPECT_EQ(partial.m_staticTitle->text(), "Orvalink Discovery Tool") << "the product name stands in";
}

TEST(VeltoAboutDlgTest, TheWindowMenuOpensItAndItsPlacementIsKept) {
    ScopedWorkDir dir;
    CWinApp app("AboutTest");
    app.SetRegistryKey("Quarrin-Velto Networks");
    COLDiscoveryDlg main;
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
    EXPECT_NE(app.GetProfileInt("DlgPos_130", "Flags", -1), -1);
    EXPECT_NE(app.GetProfileInt("DlgPos_130", "PosRight", 0), 0);
}

}  // namespace
