// The window in the desktop's language: a German desktop sees no English text left and nothing
// cut at the dialogs' sizes; a language without a translation sees the English texts unchanged.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStyle>
#include <QTreeWidget>
#include <QXmlStreamReader>

#include <map>

#include "AppTestSupport.h"
#include "DeviceRecord.h"
#include "gui/about/HyperLink.h"
#include "gui/app/OLDiscoveryDlg.h"
#include "gui/framework/Translation.h"
#include "gui/settings/DlgSettings.h"
#include "gui/settings/Prefs.h"
#include "gui/version/VersionInfo.h"
#include "res/FailureText.h"
#include "res/Resource.h"

using apptest::ModalScript;

namespace {

// Every text a person sees or hears, by window and control in creation order, and the visible
// controls whose text does not fit their place.
struct Screen {
    std::map<std::string, std::string> texts;
    std::vector<std::string> cut;
};

bool Fits(const QWidget& w, const QString& shown) {
    if (!w.isVisible())
        return true;
    if (!w.window()->rect().contains(QRect(w.mapTo(w.window(), QPoint(0, 0)), w.size())))
        return false;
    const QFontMetrics metrics = w.fontMetrics();
    const QString text = QString(shown).remove(QLatin1Char('&'));
    if (qobject_cast<const QRadioButton*>(&w) || qobject_cast<const QCheckBox*>(&w))
        return w.sizeHint().width() <= w.width();
    if (qobject_cast<const QPushButton*>(&w))
        return metrics.horizontalAdvance(text) + 2 * w.style()->pixelMetric(QStyle::PM_ButtonMargin) <=
               w.width();
    const auto* label = qobject_cast<const QLabel*>(&w);
    if (!label)
        return true;
    const QRect room = label->contentsRect();
    const int flags = int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
    const QRect need = metrics.boundingRect(room, flags, label->buddy() ? text : shown);
    return need.width() <= room.width() && need.height() <= room.height();
}

void Read(QWidget* window, const std::string& where, Screen& screen) {
    // Both languages show the same texts in the same order, so the n-th of a window is one text.
    int n = 0;
    auto add = [&](QString text, const char* what) {
        // The last scan's time differs between two openings of the window; its words do not.
        text.replace(QRegularExpression("\\d\\d:\\d\\d:\\d\\d"), QStringLiteral("hh:mm:ss"));
        if (!text.isEmpty())
            screen.texts[where + "/" + std::to_string(++n) + what] = text.toStdString();
    };
    if (!qobject_cast<QMenu*>(window))
        add(window->windowTitle(), "title");
    QList<QWidget*> widgets = window->findChildren<QWidget*>();
    widgets.prepend(window);
    for (QWidget* w : widgets) {
        add(w->accessibleName(), "name");
        add(w->toolTip(), "tip");
        QString shown;
        if (auto* label = qobject_cast<QLabel*>(w))
            shown = label->text();
        else if (auto* button = qobject_cast<QAbstractButton*>(w))
            shown = button->text();
        else if (auto* edit = qobject_cast<QLineEdit*>(w))
            add(edit->placeholderText(), "hint");
        else if (auto* list = qobject_cast<QTreeWidget*>(w))
            for (int c = 0; c < list->columnCount(); ++c)
                add(list->headerItem()->text(c), "column");
        add(shown, "text");
        // Qt's own dialogs lay themselves out; the program's keep the sizes of their templates.
        if (!shown.isEmpty() && !qobject_cast<QFileDialog*>(window) && !Fits(*w, shown))
            screen.cut.push_back(where + ": " + shown.toStdString());
        if (auto* menu = qobject_cast<QMenu*>(w)) {
            for (QAction* action : menu->actions()) {
                add(action->text(), "item");
                add(action->shortcut().toString(QKeySequence::NativeText), "key");
            }
        }
    }
}

// The window, its menus, Settings with its file chooser, About and a message box, as a person
// opens them in turn.
Screen ReadWindow() {
    apptest::ScopedWorkDir work;
    CPrefs prefs;
    COLDiscoveryDlg main(&prefs);
    Screen screen;
    ModalScript mainScript([&](QWidget*) {
        main.OnAddDevice(testsupport::MakeDevice("10.0.0.7", "02:00:0A:00:00:07", "OL-2000", "1.2.3"));
        main.OnScanDone();
        Read(&main, "main", screen);
        Read(main.GetSystemMenu(), "window menu", screen);
        ModalScript popups([&](QWidget* w) {
            if (auto* settings = qobject_cast<CDlgSettings*>(w)) {
                ModalScript chooser([&](QWidget* c) { Read(c, "file chooser", screen); });
                Read(settings, "settings", screen);
                settings->GetDlgItem(IDC_BROWSE)->setFocus();
                qobject_cast<QPushButton*>(settings->GetDlgItem(IDC_BROWSE))->click();
            } else {
                Read(w, w->metaObject()->className(), screen);
            }
        });
        NMITEMACTIVATE row;
        row.iItem = 0;
        main.OnRclickDeviceList(&row);
        main.OnSettings();
        main.OnSysCommand(IDM_ABOUTBOX);
        CHyperLink::ShowOpenError(CHyperLink::OPEN_NO_ASSOCIATION, "OLDiscovery");
    });
    main.DoModal();
    return screen;
}

// The texts the translation keeps as they are (names, addresses, "OK"), with their "%1" as any
// text (one of placeholders alone keeps no word), and the version block's names (the program's
// among them) and legal line, which no translation touches.
std::vector<QRegularExpression> KeptTexts() {
    std::vector<QRegularExpression> kept;
    const CVersionInfo version;
    for (const std::string& text :
         {version.GetProductName(), version.GetLegalCopyright(), version.GetValue("InternalName")})
        kept.emplace_back(QRegularExpression::escape(QString::fromStdString(text)));
    QFile file(QStringLiteral(OLD_GERMAN_TS));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    QXmlStreamReader ts(&file);
    QString source;
    while (!ts.atEnd()) {
        if (ts.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (ts.name() == QLatin1String("source"))
            source = ts.readElementText();
        else if (ts.name() == QLatin1String("translation") && ts.readElementText() == source &&
                 source.contains(QRegularExpression("[A-Za-z]{2}"))) {
            QStringList parts = source.split(QRegularExpression("%\\d"));
            for (QString& part : parts)
                part = QRegularExpression::escape(part);
            kept.emplace_back(parts.join(QStringLiteral(".*")));
        }
    }
    return kept;
}

struct LanguageCase {
    const char* desktop;
    QStringList languages;
    bool german;
};

class TranslationTest : public testing::TestWithParam<LanguageCase> {};

TEST_P(TranslationTest, WindowSpeaksTheFirstLanguageWithATranslationAndNothingIsCut) {
    LoadTranslations({});
    const Screen english = ReadWindow();
    ASSERT_EQ(LoadTranslations(GetParam().languages), GetParam().german);
    const Screen shown = ReadWindow();
    LoadTranslations({});
    ASSERT_EQ(shown.texts.size(), english.texts.size());
    EXPECT_EQ(shown.cut, std::vector<std::string>{});
    if (!GetParam().german) {
        EXPECT_EQ(shown.texts, english.texts);
        return;
    }
    const std::vector<QRegularExpression> kept = KeptTexts();
    for (const auto& [where, text] : shown.texts) {
        QString rest = QString::fromStdString(text);
        for (const QRegularExpression& name : kept)
            rest.remove(name);
        // A word of English left: the same text as in English, not made of kept texts.
        EXPECT_FALSE(text == english.texts.at(where) && rest.contains(QRegularExpression("[A-Za-z]{2}")))
            << where << ": " << text;
    }
    EXPECT_GT(english.texts.size(), 60u) << "every window was read";
}

INSTANTIATE_TEST_SUITE_P(
    Desktops, TranslationTest,
    testing::Values(LanguageCase{"German", {"de-DE"}, true}, LanguageCase{"Austrian", {"de-AT", "de"}, true},
                    LanguageCase{"French first, German second", {"fr-FR", "de-DE"}, true},
                    LanguageCase{"English before German", {"en-GB", "de-DE"}, false},
                    LanguageCase{"unknown language", {"tlh"}, false}),
    [](const testing::TestParamInfo<LanguageCase>& info) {
        return QString::fromLatin1(info.param.desktop).remove(QRegularExpression("[^A-Za-z]")).toStdString();
    });

// A reason the window says is German on a German desktop, with its subject and user id; without a
// translation, and for a reason or errno the translation has no words for, it is the one the
// command line prints.
TEST(FailureTextTranslationTest, ReasonsSpeakTheWindowsLanguage) {
    const struct {
        Failure failure;
        std::string english, german;
    } cases[] = {
        {Failure(Errc::BroadcastAddress, "10.0.0.255"), "10.0.0.255 is a broadcast address",
         "10.0.0.255 ist eine Broadcast-Adresse"},
        {Failure(Errc::OwnedByOtherUser, "/tmp/x", 1001), "it belongs to another user (uid 1001)",
         "gehört einem anderen Benutzer (uid 1001)"},
        {Failure(Errc::NewerFormat, "7"), "written by a newer oldiscovery-scan (format version 7)",
         "von einem neueren oldiscovery-scan geschrieben (Formatversion 7)"},
        {Failure(Errc::UnknownInterface, "eth9"), "unknown interface: eth9", "unknown interface: eth9"},
        {Failure(std::make_error_code(std::errc::permission_denied)), "Permission denied",
         "Permission denied"},
    };
    for (const auto& c : cases) {
        LoadTranslations({});
        EXPECT_EQ(FailureText(c.failure), c.english);
        ASSERT_TRUE(LoadTranslations({QStringLiteral("de-DE")}));
        EXPECT_EQ(FailureText(c.failure), c.german);
    }
    LoadTranslations({});
}

}  // namespace
