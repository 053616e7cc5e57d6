// The Settings dialog opened from the main dialog: copies in, OK or Cancel, the file chooser.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <filesystem>
#include <fstream>

#include "AppTestSupport.h"
#include "gui/app/OLDiscoveryApp.h"
#include "gui/app/OLDiscoveryDlg.h"
#include "res/Resource.h"
#include "res/StringTable.h"
#include "gui/settings/DlgSettings.h"

using apptest::ModalScript;

namespace {

template <typename T>
T* Item(CDlgSettings& dlg, int id) {
    auto* control = qobject_cast<T*>(dlg.GetDlgItem(id));
    EXPECT_TRUE(control) << id;
    return control;
}

class SettingsTest : public testing::Test {
protected:
    // Opens Settings from the main dialog; the script acts in it and leaves it (or not) itself.
    void OpenSettings(const std::function<void(CDlgSettings&)>& script) {
        COLDiscoveryDlg main(&m_app.m_prefs);
        ModalScript mainScript([&](QWidget*) {
            ModalScript settingsScript([&](QWidget* w) {
                auto* dlg = qobject_cast<CDlgSettings*>(w);
                ASSERT_TRUE(dlg);
                script(*dlg);
            });
            main.OnSettings();
            m_hint = main.m_strHint;
        });
        main.DoModal();
    }
    // Edits everything to non-default values.
    static void ChangeEverything(CDlgSettings& dlg) {
        Item<QLineEdit>(dlg, IDC_TELNET_PATH)->setText("/usr/bin/ssh");
        Item<QLineEdit>(dlg, IDC_TELNET_ARGS)->setText("-l root %1");
        Item<QRadioButton>(dlg, IDC_ACTION_COPYIP)->click();
        Item<QCheckBox>(dlg, IDC_AUTO_REFRESH)->click();
    }
    std::string Controls(CDlgSettings& dlg) {
        std::string state = Item<QLineEdit>(dlg, IDC_TELNET_PATH)->text().toStdString() + "|" +
                            Item<QLineEdit>(dlg, IDC_TELNET_ARGS)->text().toStdString() + "|";
        for (int id : {IDC_ACTION_BROWSER, IDC_ACTION_TELNET, IDC_ACTION_COPYIP})
            state += Item<QRadioButton>(dlg, id)->isChecked() ? "x" : "-";
        return state + (Item<QCheckBox>(dlg, IDC_AUTO_REFRESH)->isChecked() ? "|on" : "|off");
    }
    std::string Prefs() {
        CPrefs& p = m_app.m_prefs;
        return p.GetTelnetPath() + "|" + p.GetTelnetArgs() + "|" + std::to_string(p.GetDoubleClickAction()) +
               (p.GetAutoRefresh() ? "|on" : "|off");
    }

    apptest::ScopedWorkDir m_dir;
    COLDiscoveryApp m_app{std::make_shared<apptest::FakeProbe>(), nullptr, nullptr, "OLDiscovery"};
    std::string m_hint;
    SettingsTest() { m_app.SetRegistryKey("Quarrin-Velto Networks"); }
};

TEST_F(SettingsTest, CancelKeepsThePreferencesAndOkAppliesAllFour) {
    m_app.m_prefs.Load();
    OpenSettings([&](CDlgSettings& dlg) {
        EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Settings"));
        EXPECT_EQ(Controls(dlg), "telnet|%1|x--|on");
        ChangeEverything(dlg);
        QTest::keyClick(&dlg, Qt::Key_Escape);
    });
    EXPECT_EQ(Prefs(), "telnet|%1|0|on");
    EXPECT_EQ(m_hint, LoadString(IDS_HINT_BROWSER));

    OpenSettings([&](CDlgSettings& dlg) {
        ChangeEverything(dlg);
        Item<QPushButton>(dlg, IDOK)->click();
    });
    EXPECT_EQ(Prefs(), "/usr/bin/ssh|-l root %1|2|off");
    EXPECT_EQ(m_hint, LoadString(IDS_HINT_COPYIP));
    // Only the placement is written now; the preferences wait for the end of the run.
    const std::string profile = testsupport::ReadFileBytes(m_dir.ProfileFile("OLDiscovery"));
    EXPECT_NE(profile.find("[DlgPos_129]"), std::string::npos) << profile;
    EXPECT_EQ(profile.find("TelnetPath"), std::string::npos) << profile;
}

TEST_F(SettingsTest, BrowsingKeepsEarlierEditsAndNeverMovesTheWorkingDirectory) {
    m_app.m_prefs.SetTelnetPath("telnet");
    m_app.m_prefs.SetTelnetArgs("%1");
    m_app.m_prefs.SetDoubleClickAction(7);  // no button selected
    testsupport::TempDir elsewhere;
    const std::string program = elsewhere.file("my telnet");
    std::ofstream(program) << "#!/bin/sh\n";
    const auto workingDir = std::filesystem::current_path();

    OpenSettings([&](CDlgSettings& dlg) {
        EXPECT_EQ(Controls(dlg), "telnet|%1|---|on");
        Item<QCheckBox>(dlg, IDC_AUTO_REFRESH)->click();
        Item<QLineEdit>(dlg, IDC_TELNET_ARGS)->setText("-4 %1");
        Item<QRadioButton>(dlg, IDC_ACTION_TELNET)->click();
        for (bool pick : {false, true}) {
            std::vector<std::string> seen;
            ModalScript chooserScript([&](QWidget* w) {
                auto* chooser = qobject_cast<QFileDialog*>(w);
                ASSERT_TRUE(chooser);
                seen = {chooser->windowTitle().toStdString(), chooser->nameFilters().join(";").toStdString()};
                if (!pick)
                    return;
                chooser->selectFile(QString::fromStdString(program));
                static_cast<QDialog*>(chooser)->accept();
            });
            Item<QPushButton>(dlg, IDC_BROWSE)->click();
            EXPECT_EQ(seen, (std::vector<std::string>{"Select Telnet Application", "All files (*)"}));
            EXPECT_EQ(Controls(dlg), (pick ? program : "telnet") + "|-4 %1|-x-|off");
            EXPECT_EQ(std::filesystem::current_path(), workingDir);
        }
        // Alt+C goes to the selected action without choosing another; Alt+T and Alt+A to the edits.
        dlg.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
        for (auto [key, id] : {std::pair{Qt::Key_C, IDC_ACTION_TELNET},
                               {Qt::Key_T, IDC_TELNET_PATH},
                               {Qt::Key_A, IDC_TELNET_ARGS}}) {
            QTest::keyClick(&dlg, key, Qt::AltModifier);
            EXPECT_EQ(QApplication::focusWidget(), dlg.GetDlgItem(id)) << id;
        }
        EXPECT_EQ(Controls(dlg), program + "|-4 %1|-x-|off");
        Item<QPushButton>(dlg, IDOK)->click();
    });
    EXPECT_EQ(Prefs(), program + "|-4 %1|1|off");
}

TEST_F(SettingsTest, EveryTextFitsItsControl) {
    OpenSettings([&](CDlgSettings& dlg) {
        for (QWidget* control : dlg.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (auto* button = qobject_cast<QPushButton*>(control)) {
                const QString text = button->text().remove('&');
                EXPECT_LT(button->fontMetrics().horizontalAdvance(text) + 4, button->width())
                    << text.toStdString();
            } else if (qobject_cast<QLabel*>(control) || qobject_cast<QAbstractButton*>(control)) {
                EXPECT_LE(control->sizeHint().width(), control->width() + 2)
                    << (qobject_cast<QLabel*>(control) ? "label" : "button");
            }
        }
    });
}

TEST_F(SettingsTest, ValuesNobodyEditedKeepEveryByteThroughOkAndTheSave) {
    const std::string longPath = "/opt/" + std::string(40000, 'p');
    struct Case {
        const char* what;
        std::string pathLine;  // as the file holds it
        std::string argsLine;
        bool editArgs;  // the other value is edited in the dialog
    };
    const Case cases[] = {
        {"bytes that are no UTF-8", "/opt/te\xFFlnet", "-x \xE9t\xE9 %1", false},
        {"a path longer than 32,767 characters", longPath, "%1", false},
        {"a long path beside an edited value", longPath, "%1", true},
        {"foreign bytes beside an edited value", "/opt/te\xFFlnet", "%1", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string file = m_dir.ProfileFile("OLDiscovery");
        std::filesystem::create_directories(std::filesystem::path(file).parent_path());
        std::ofstream(file, std::ios::binary | std::ios::trunc)
            << "[Application%20Settings]\nAutoRefresh=1\nDoubleClick=Browser\nTelnetArgs=" << c.argsLine
            << "\nTelnetPath=" << c.pathLine << "\n";
        m_app.m_prefs.Load();
        const std::string loadedPath = m_app.m_prefs.GetTelnetPath();
        OpenSettings([&](CDlgSettings& dlg) {
            if (c.editArgs)
                Item<QLineEdit>(dlg, IDC_TELNET_ARGS)->setText("-4 %1");
            Item<QPushButton>(dlg, IDOK)->click();
        });
        EXPECT_EQ(m_app.m_prefs.GetTelnetPath(), loadedPath);
        m_app.m_prefs.Save();
        const std::string saved = testsupport::ReadFileBytes(file);
        EXPECT_NE(saved.find("\nTelnetPath=" + c.pathLine + "\n"), std::string::npos) << saved.substr(0, 300);
        EXPECT_NE(saved.find(c.editArgs ? "\nTelnetArgs=-4 %1\n" : "\nTelnetArgs=" + c.argsLine + "\n"),
                  std::string::npos)
            << saved.substr(0, 300);
    }
}

}  // namespace
