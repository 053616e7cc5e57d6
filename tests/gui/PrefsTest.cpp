#include "gui/settings/Prefs.h"

#include "gui/framework/WinApp.h"
#include "ProfileSandbox.h"

#include <gtest/gtest.h>

#include <QSettings>

#include <memory>
#include <tuple>

namespace {

class PrefsTest : public ::testing::Test {
protected:
    // One program run: an application object set up as at start-up.
    std::unique_ptr<CWinApp> StartRun() {
        auto app = std::make_unique<CWinApp>("OLDiscovery");
        app->SetRegistryKey("Quarrin-Velto Networks");
        return app;
    }
    QVariant Stored(const char* name) {
        QSettings fresh(QString::fromStdString(sandbox.ProfileFile()), QSettings::IniFormat);
        return fresh.value(QString("Application Settings/") + name);
    }
    void Store(const std::string& lines) {
        // Qt re-reads a file it has cached only when its size or time changed; edits made within
        // the same millisecond must differ in size to be seen.
        m_padding += ';';
        sandbox.WriteText(sandbox.ProfileFile(), m_padding + "\n[Application Settings]\n" + lines);
    }

    ProfileSandbox sandbox;
    std::string m_padding;
};

TEST_F(PrefsTest, EmptyStoreGivesTheDefaults) {
    auto app = StartRun();
    CPrefs prefs(app.get());
    prefs.SetTelnetPath("junk");
    prefs.SetDoubleClickAction(ACTION_COPYIP);
    prefs.SetAutoRefresh(false);
    prefs.Load();
    EXPECT_EQ(prefs.GetTelnetPath(), "telnet");
    EXPECT_EQ(prefs.GetTelnetArgs(), "%1");
    EXPECT_EQ(prefs.GetDoubleClickAction(), ACTION_BROWSER);
    EXPECT_TRUE(prefs.GetAutoRefresh());
}

TEST_F(PrefsTest, ActionNames) {
    const std::pair<const char*, int> cases[] = {
        {"BROWSER", ACTION_BROWSER}, {"Telnet", ACTION_TELNET}, {"COPYIP", ACTION_COPYIP},
        {"telnet ", ACTION_BROWSER}, {"telne", ACTION_BROWSER}, {"copyipx", ACTION_BROWSER},
    };
    for (const auto& [name, action] : cases)
        EXPECT_EQ(CPrefs::ActionFromName(name), action) << '"' << name << '"';
    EXPECT_EQ(CPrefs::ActionToName(ACTION_BROWSER), "Browser");
    EXPECT_EQ(CPrefs::ActionToName(ACTION_TELNET), "Telnet");
    EXPECT_EQ(CPrefs::ActionToName(ACTION_COPYIP), "CopyIP");
    EXPECT_EQ(CPrefs::ActionToName(-1), "Browser");
}

TEST_F(PrefsTest, StoredNamesLoadAsTheirActions) {
    auto app = StartRun();
    const std::pair<const char*, int> cases[] = {
        {"TELNET", ACTION_TELNET}, {"copyIP", ACTION_COPYIP}, {"Copy IP", ACTION_BROWSER},
        {"web", ACTION_BROWSER},   {"", ACTION_BROWSER},
    };
    for (const auto& [name, action] : cases) {
        Store(std::string("DoubleClick=") + name + "\n");
        CPrefs prefs(app.get());
        prefs.SetDoubleClickAction(ACTION_TELNET + ACTION_COPYIP);  // neither default nor expected
        prefs.Load();
        EXPECT_EQ(prefs.GetDoubleClickAction(), action) << '"' << name << '"';
    }
}

TEST_F(PrefsTest, UnknownActionIsKeptUntilSavedAsBrowser) {
    auto app = StartRun();
    CPrefs prefs(app.get());
    prefs.SetDoubleClickAction(7);
    EXPECT_EQ(prefs.GetDoubleClickAction(), 7);
    prefs.Save();
    EXPECT_EQ(prefs.GetDoubleClickAction(), 7);
    EXPECT_EQ(Stored("DoubleClick").toString(), "Browser");
    prefs.SetDoubleClickAction(ACTION_COPYIP);
    prefs.Save();
    EXPECT_EQ(Stored("DoubleClick").toString(), "CopyIP");
}

TEST_F(PrefsTest, AnyNonZeroAutoRefreshIsOnAndSavesAsOne) {
    auto app = StartRun();
    Store("AutoRefresh=5\n");
    CPrefs prefs(app.get());
    prefs.Load();
    EXPECT_TRUE(prefs.GetAutoRefresh());
    prefs.Save();
    EXPECT_EQ(Stored("AutoRefresh").toString(), "1");

    Store("AutoRefresh=0\n");
    prefs.Load();
    EXPECT_FALSE(prefs.GetAutoRefresh());
    prefs.Save();
    EXPECT_EQ(Stored("AutoRefresh").toString(), "0");
}

TEST_F(PrefsTest, SaveWritesAllFourValues) {
    auto app = StartRun();
    CPrefs prefs(app.get());
    prefs.Load();
    prefs.Save();
    EXPECT_EQ(Stored("TelnetPath").toString(), "telnet");
    EXPECT_EQ(Stored("TelnetArgs").toString(), "%1");
    EXPECT_EQ(Stored("DoubleClick").toString(), "Browser");
    EXPECT_EQ(Stored("AutoRefresh").toString(), "1");

    prefs.SetTelnetPath("/usr/bin/telnet");
    prefs.SetTelnetArgs("-l root, %1");
    prefs.SetDoubleClickAction(ACTION_TELNET);
    prefs.SetAutoRefresh(false);
    prefs.Save();
    EXPECT_EQ(Stored("TelnetPath").toString(), "/usr/bin/telnet");
    EXPECT_EQ(Stored("TelnetArgs").toString(), "-l root, %1");
    EXPECT_EQ(Stored("DoubleClick").toString(), "Telnet");
    EXPECT_EQ(Stored("AutoRefresh").toString(), "0");
}

TEST_F(PrefsTest, FileEditedBetweenRunsTakesEffect) {
    {
        auto firstRun = StartRun();
        CPrefs prefs(firstRun.get());
        prefs.Load();
        prefs.SetTelnetPath("/usr/bin/telnet");
        prefs.Save();
    }
    ASSERT_NE(sandbox.ReadText(sandbox.ProfileFile()).find("TelnetPath=/usr/bin/telnet"), std::string::npos);

    // The administrator rewrites the file with an editor while the program is not running.
    sandbox.WriteText(sandbox.ProfileFile(),
                      "[Application Settings]\n"
                      "TelnetPath=/opt/tools/telnet-ssl\n"
                      "TelnetArgs=-z ssl %1 23\n"
                      "DoubleClick=copyip\n"
                      "AutoRefresh=0\n");
    {
        auto secondRun = StartRun();
        CPrefs prefs(secondRun.get());
        prefs.Load();
        EXPECT_EQ(prefs.GetTelnetPath(), "/opt/tools/telnet-ssl");
        EXPECT_EQ(prefs.GetTelnetArgs(), "-z ssl %1 23");
        EXPECT_EQ(prefs.GetDoubleClickAction(), ACTION_COPYIP);
        EXPECT_FALSE(prefs.GetAutoRefresh());
        prefs.Save();
    }
    // The second run's save keeps the edit, with the action in its capitalised form.
    EXPECT_EQ(Stored("TelnetPath").toString(), "/opt/tools/telnet-ssl");
    EXPECT_EQ(Stored("DoubleClick").toString(), "CopyIP");
    EXPECT_EQ(Stored("AutoRefresh").toString(), "0");
}

TEST_F(PrefsTest, ValuesAreReadOneByOneAndEmptyTextsStayEmpty) {
    auto app = StartRun();
    Store("TelnetPath=\nTelnetArgs=\n");
    CPrefs prefs(app.get());
    prefs.Load();
    EXPECT_EQ(prefs.GetTelnetPath(), "");
    EXPECT_EQ(prefs.GetTelnetArgs(), "");
    EXPECT_EQ(prefs.GetDoubleClickAction(), ACTION_BROWSER);
    EXPECT_TRUE(prefs.GetAutoRefresh());

    Store("TelnetArgs=%1 -x\n");
    prefs.Load();
    EXPECT_EQ(prefs.GetTelnetPath(), "telnet");
    EXPECT_EQ(prefs.GetTelnetArgs(), "%1 -x");
}

TEST_F(PrefsTest, WithoutApplicationObjectNothingIsTouched) {
    CPrefs prefs;
    prefs.Load();
    EXPECT_EQ(prefs.GetTelnetPath(), "telnet");
    prefs.Save();
    EXPECT_TRUE(std::filesystem::is_empty(sandbox.Folder()));
}

}  // namespace

TEST_F(PrefsTest, ListOrderLoadsByNameAndIsWrittenOnlyOnceChosen) {
    auto app = StartRun();
    // The stored lines, what they load as, the column's value after a save.
    const std::tuple<const char*, int, bool, const char*> cases[] = {
        {"", SORT_NONE, false, ""},
        {"SortColumn=mac\nSortOrder=DESCENDING\n", SORT_MAC, true, "MAC"},
        {"SortColumn=Build\nSortOrder=Ascending\n", SORT_BUILD, false, "Build"},
        {"SortColumn=Builds\n", SORT_NONE, false, "Builds"},
        {"SortColumn=2\nSortOrder=down\n", SORT_NONE, false, "2"},
    };
    for (const auto& [lines, column, descending, saved] : cases) {
        Store(lines);
        CPrefs prefs(app.get());
        prefs.Load();
        EXPECT_EQ(prefs.GetSortColumn(), column) << lines;
        EXPECT_EQ(prefs.GetSortDescending(), descending) << lines;
        prefs.Save();
        EXPECT_EQ(Stored("SortColumn").toString().toStdString(), saved) << lines;
    }
}
