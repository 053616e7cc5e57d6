// The web link: its colours, fonts and cursor, offscreen, and the registered-browser fallback
// with stand-in programs for xdg-mime and the browser.
#include <gtest/gtest.h>

#include <QCursor>
#include <QDesktopServices>
#include <QDialog>
#include <QMessageBox>
#include <QTest>
#include <QUrl>

#include <filesystem>
#include <fstream>

#include "AppTestSupport.h"
#include "StandIn.h"
#include "gui/about/HyperLink.h"

using namespace std::chrono_literals;
using apptest::ModalScript;
using apptest::WaitUntil;

namespace {

constexpr int kLinkId = 1005;

// A dialog with a left-aligned static text, as a template gives it.
struct LinkDialog {
    explicit LinkDialog(const QString& text) {
        dialog.resize(400, 200);
        auto* label = new QLabel(text, &dialog);
        label->setProperty("controlId", kLinkId);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setGeometry(20, 30, 250, 40);
        dialog.show();
    }
    QDialog dialog;
};

// Stands in for the desktop's opener through Qt's own hook.
void WriteFile(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << text;
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
}

// xdg-mime answers from files of its folder, and the browser records its arguments; nothing
// else is on PATH. The desktop entries live in a data folder of their own.
class BrowserFallback : public testing::Test {
protected:
    BrowserFallback() {
        m_programs.Add("browser");
        WriteFile(Bin("xdg-mime"),
                  "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" + Bin("xdg-mime.args") +
                      "'\ncase \"$3\" in x-scheme-handler/http) f=http ;; text/html) f=html ;; *) exit 1 ;; "
                      "esac\n[ -f '" +
                      m_programs.Dir() + "/'$f ] || exit 0\nread -r id < '" + m_programs.Dir() +
                      "/'$f\nprintf '%s\\n' \"$id\"\n");
    }
    std::string Bin(const std::string& name) const { return m_programs.Dir() + "/" + name; }
    std::string Entry() const { return (m_data.path() / "applications" / "test-browser.desktop").string(); }
    void Register(const char* answerFile, const std::string& exec) {
        WriteFile(Bin(answerFile), "test-browser.desktop\n");
        WriteFile(
            Entry(),
            "[Desktop Action new]\nExec=other %u\n[Desktop Entry]\nType=Application\nName=Test Browser\n"
            "Icon=test-browser\nExec=" +
                exec + "\n");
    }

    StandInPrograms m_programs;
    testsupport::TempDir m_data;
    ScopedEnv m_path{"PATH", m_programs.Dir().c_str()};
    ScopedEnv m_dataHome{"XDG_DATA_HOME", m_data.path().c_str()};
    ScopedEnv m_dataDirs{"XDG_DATA_DIRS", m_data.path().c_str()};
};

TEST_F(BrowserFallback, StartsTheRegisteredCommandWithTheAddressOrReportsWhyNot) {
    const std::string url = "http://www.example.com/";
    const struct {
        const char* answer;  // the file xdg-mime answers from; nullptr: nothing registered
        std::string exec;
        std::string url;
        int result;  // 0: started with these arguments
        std::vector<std::string> argv;
    } cases[] = {
        // The command is cut at its first field code and the address follows.
        {"http", R"(browser --new-window "%u" --dropped)", url, 0, {"browser", "--new-window", url}},
        {"http", "browser %U --dropped", url, 0, {"browser", url}},
        {"http", "browser --private", url, 0, {"browser", "--private", url}},
        {"http", R"(browser --label 100%% "%1")", url, 0, {"browser", "--label", "100%", url}},
        // The codes before the address: icon, name and entry expanded, deprecated ones removed.
        {"http",
         "browser %i %c %k %d %D %n %N %v %m --new %u",
         url,
         0,
         {"browser", "--icon", "test-browser", "Test Browser", Entry(), "--new", url}},
        // The HTML viewer stands in when no browser is registered.
        {"html", "browser %u", url, 0, {"browser", url}},
        {nullptr, "", url, 31, {}},
        {"http", "browser " + std::string(260, 'x') + " %u", url, 31, {}},  // template longer than its buffer
        {"http", "browser %u", url + std::string(510, 'p'), CHyperLink::OPEN_NOT_ENOUGH_MEMORY, {}},
        {"http", "no-such-browser %u", url, CHyperLink::OPEN_FILE_NOT_FOUND, {}},
    };
    for (const auto& c : cases) {
        for (const char* file : {"http", "html", "xdg-mime.args"})
            std::filesystem::remove(Bin(file));
        if (c.answer)
            Register(c.answer, c.exec);
        const int result = CHyperLink::OpenWithRegisteredBrowser(c.url, 31);
        if (c.result) {
            EXPECT_EQ(result, c.result) << c.exec;
            EXPECT_FALSE(m_programs.WaitForRun(0ms)) << "nothing was started: " << c.exec;
            continue;
        }
        EXPECT_GT(result, 32) << c.exec;
        EXPECT_EQ(m_programs.WaitForRun(10s), c.argv) << c.exec;
        EXPECT_EQ(testsupport::ReadFileBytes(Bin("xdg-mime.args")),
                  "query\ndefault\nx-scheme-handler/http\n" +
                      std::string(c.answer == std::string("html") ? "query\ndefault\ntext/html\n" : ""));
    }
}

TEST(HyperLinkTest, ErrorTextsCarryThePrefixAndTheCode) {
    EXPECT_EQ(CHyperLink::OpenErrorText(26), "Unable to open hyperlink:\n\nA sharing violation occurred. ");
    EXPECT_EQ(CHyperLink::OpenErrorText(4), "Unable to open hyperlink:\n\nUnknown Error (4) occurred.");
    EXPECT_EQ(CHyperLink::OpenErrorText(31),
              "Unable to open hyperlink:\n\nThere is no application associated\nwith the given "
              "filename extension.");

    std::string shown;
    ModalScript answer([&](QWidget* box) {
        if (auto* message = qobject_cast<QMessageBox*>(box))
            shown = message->text().toStdString() + "|" + std::to_string(message->icon());
    });
    CHyperLink::ShowOpenError(26, "OLDiscovery");
    EXPECT_EQ(shown, CHyperLink::OpenErrorText(26) + "|" + std::to_string(QMessageBox::Warning));
}

// Without xdg-open Qt's own opener takes the address, where the recorder sits. Like a button,
// the link opens only when the press and the release are both on it.
TEST(HyperLinkTest, APressAndReleaseOnTheLinkOpensTheBareHostNameAndTurnsItVisited) {
    const struct {
        const char* what;
        std::vector<QPoint> moves;  // after pressing at (2, 2); the last one is the release
        std::size_t opened;
    } cases[] = {
        {"click", {{2, 2}}, 1},
        {"dragged off and released outside", {{2, 2}, {-30, 60}, {-30, 60}}, 0},
        {"dragged off and back", {{-30, 60}, {3, 3}}, 1},
    };
    for (const auto& c : cases) {
        testsupport::TempDir noPrograms;
        ScopedEnv path("PATH", noPrograms.path().c_str());
        apptest::UrlRecorder recorder;
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &recorder, "Open");
        LinkDialog page(QStringLiteral("www.quarrin-velto.example"));
        CHyperLink link;
        ASSERT_TRUE(link.SubclassDlgItem(kLinkId, &page.dialog));
        EXPECT_EQ(link.CurrentColor(), RGB(0, 0, 238));
        QTest::mousePress(&link, Qt::LeftButton, {}, QPoint(2, 2));
        for (std::size_t i = 0; i + 1 < c.moves.size(); ++i)
            QTest::mouseMove(&link, c.moves[i]);
        QTest::mouseRelease(&link, Qt::LeftButton, {}, c.moves.back());
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        EXPECT_EQ(recorder.urls.size(), c.opened) << c.what;
        if (!c.opened)
            continue;
        EXPECT_EQ(recorder.urls.front(), "http://www.quarrin-velto.example") << c.what;
        EXPECT_TRUE(WaitUntil([&] { return link.WasVisited(); }, 5s)) << c.what;
        EXPECT_EQ(link.CurrentColor(), RGB(85, 26, 139)) << c.what;
    }
}

// xdg-open exits 3 when no handler is there and 4 when the one it ran failed: the link beeps,
// says why and stays unvisited; the registered browser (none here) is tried first.
TEST(HyperLinkTest, AnOpenerThatExitsWithAFailureShowsTheErrorBox) {
    for (int status : {0, 3, 4}) {
        testsupport::TempDir bin;
        WriteFile(bin.path() / "xdg-open", "#!/bin/sh\nexit " + std::to_string(status) + "\n");
        ScopedEnv path("PATH", bin.path().c_str());
        LinkDialog page(QStringLiteral("www.quarrin-velto.example"));
        CHyperLink link;
        ASSERT_TRUE(link.SubclassDlgItem(kLinkId, &page.dialog));
        std::vector<std::string> boxes;
        ModalScript answer([&](QWidget* box) {
            if (auto* message = qobject_cast<QMessageBox*>(box))
                boxes.push_back(message->text().toStdString());
        });
        QTest::mouseClick(&link, Qt::LeftButton);
        EXPECT_TRUE(WaitUntil([&] { return link.WasVisited() || !boxes.empty(); }, 10s)) << status;
        EXPECT_EQ(link.WasVisited(), status == 0) << status;
        EXPECT_EQ(boxes, status == 0 ? std::vector<std::string>{}
                                     : std::vector<std::string>{CHyperLink::OpenErrorText(31)})
            << status;
    }
}

TEST(HyperLinkTest, HoverColourMinusOneIsThePalettesHighlight) {
    CHyperLink link;
    link.SetColors(RGB(1, 2, 3), RGB(4, 5, 6), kSystemHighlight);
    const QColor highlight = link.palette().color(QPalette::Active, QPalette::Highlight);
    EXPECT_EQ(link.HoverColor(), RGB(highlight.red(), highlight.green(), highlight.blue()));
    link.SetColors(RGB(1, 2, 3), RGB(4, 5, 6), RGB(255, 255, 255));
    EXPECT_EQ(link.HoverColor(), RGB(255, 255, 255));
}

TEST(HyperLinkTest, UnderlineModesBeforeAndAfterAttaching) {
    const struct {
        const char* what;
        int before;  // set before attaching (does not survive)
        int after;   // set after attaching
        bool underlinedAtOnce, underlinedOnHover, underlinedAfterLeaving;
    } cases[] = {
        {"hover", -1, -1, false, true, false},
        {"always before attaching", 1, -1, false, true, false},
        {"always after attaching", -1, 1, true, true, true},
        {"never after attaching", -1, 0, false, false, false},
        {"any other value is never", -1, 7, false, false, false},
    };
    for (const auto& c : cases) {
        LinkDialog page(QStringLiteral("link"));
        CHyperLink link;
        link.SetUnderlineMode(c.before);
        ASSERT_TRUE(link.SubclassDlgItem(kLinkId, &page.dialog));
        EXPECT_EQ(link.GetUnderlineMode(), -1) << c.what;
        link.SetUnderlineMode(c.after);
        EXPECT_EQ(link.font().underline(), c.underlinedAtOnce) << c.what;

        QTest::mouseMove(&link, QPoint(2, 2));
        ASSERT_TRUE(link.IsMouseOver()) << c.what;
        EXPECT_EQ(link.font().underline(), c.underlinedOnHover) << c.what;
        EXPECT_EQ(link.CurrentColor(), link.HoverColor()) << c.what;

        // The hover timer finds the pointer gone.
        QCursor::setPos(link.mapToGlobal(QPoint(-50, -50)));
        EXPECT_TRUE(WaitUntil([&] { return !link.IsMouseOver(); }, 5s)) << c.what;
        EXPECT_EQ(link.font().underline(), c.underlinedAfterLeaving) << c.what;
    }
}

TEST(HyperLinkTest, AttachingTakesTheTextOrTheTargetAndFitsTheText) {
    const struct {
        QString text;
        const char* target;  // set before attaching, or nullptr
        QString expected;
    } cases[] = {
        {"", nullptr, ""},
        {"www.example.com", nullptr, "www.example.com"},
        {"", "www.example.org", "www.example.org"},
    };
    for (const auto& c : cases) {
        LinkDialog page(c.text);
        CHyperLink link;
        if (c.target)
            link.SetTarget(c.target);
        ASSERT_TRUE(link.SubclassDlgItem(kLinkId, &page.dialog));
        EXPECT_EQ(QString::fromStdString(link.GetTarget()), c.expected);
        EXPECT_EQ(link.text(), c.expected);
        EXPECT_EQ(link.toolTip(), c.expected);
        if (c.expected.isEmpty())
            continue;
        EXPECT_EQ(link.cursor().shape(), Qt::PointingHandCursor);
        // Left and top stay; the size is the text's in the underlined font.
        const QSize text = QFontMetrics(link.UnderlinedFont()).size(Qt::TextSingleLine, link.text());
        EXPECT_EQ(link.geometry(), QRect(QPoint(20, 30), text)) << c.expected.toStdString();
        EXPECT_EQ(page.dialog.findChildren<QLabel*>().size(), 1) << "the static became the link";
    }
}

TEST(HyperLinkTest, WebAddressesGetASchemeOnlyWhenTheyHaveNone) {
    EXPECT_EQ(CHyperLink::WebAddress("www.example.com").toString(), "http://www.example.com");
    EXPECT_EQ(CHyperLink::WebAddress("localhost:8080/x").toString(), "http://localhost:8080/x");
    EXPECT_EQ(CHyperLink::WebAddress("https://example.com/").toString(), "https://example.com/");
    EXPECT_EQ(CHyperLink::WebAddress("mailto:info@example.com").toString(), "mailto:info@example.com");
}

}  // namespace
