#include "platform/qt/WinApp.h"

#include "ProfileSandbox.h"

#include <gtest/gtest.h>

#include <QSettings>

#include <sys/stat.h>

#include <filesystem>
#include <functional>

namespace {

const char kCompany[] = "Quarrin-Velto Networks";
const char kSection[] = "Application Settings";

class WinAppTest : public ::testing::Test {
protected:
    ProfileSandbox sandbox;
};

TEST_F(WinAppTest, NameComesFromTheProgramFileUnlessGiven) {
    CWinApp unnamed;
    EXPECT_EQ(unnamed.AppName(), "WinAppTest");
    CWinApp named("OLDiscovery");
    EXPECT_EQ(named.AppName(), "OLDiscovery");
}

TEST_F(WinAppTest, AfxGetAppIsTheNewestLiveApplication) {
    EXPECT_EQ(AfxGetApp(), nullptr);
    {
        CWinApp outer("outer");
        EXPECT_EQ(AfxGetApp(), &outer);
        {
            CWinApp inner("inner");
            EXPECT_EQ(AfxGetApp(), &inner);
        }
        EXPECT_EQ(AfxGetApp(), &outer);
    }
    EXPECT_EQ(AfxGetApp(), nullptr);
}

TEST_F(WinAppTest, ProfileLivesInTheCompanyFolderUnderTheAppName) {
    CWinApp app("OLDiscovery");
    app.SetRegistryKey(kCompany);
    EXPECT_EQ(app.RegistryKey(), kCompany);
    ASSERT_TRUE(app.WriteProfileInt(kSection, "AutoRefresh", 0));
    EXPECT_TRUE(std::filesystem::exists(sandbox.ProfileFile()));
}

TEST_F(WinAppTest, WithoutCompanyKeyTheProfileIsNamedAfterTheApp) {
    CWinApp app("OLDiscovery");
    ASSERT_TRUE(app.WriteProfileString(kSection, "TelnetPath", "x"));
    EXPECT_TRUE(std::filesystem::exists(sandbox.Folder() + "/OLDiscovery.conf"));
    EXPECT_EQ(app.GetProfileString(kSection, "TelnetPath", "d"), "x");
}

TEST_F(WinAppTest, WrittenValuesAreOnDiskForAFreshReader) {
    CWinApp app("OLDiscovery");
    app.SetRegistryKey(kCompany);
    ASSERT_TRUE(app.WriteProfileString(kSection, "TelnetArgs", "-l admin, %1"));
    ASSERT_TRUE(app.WriteProfileString(kSection, "TelnetPath", ""));
    ASSERT_TRUE(app.WriteProfileString(kSection, "Odd", "@at; semi = eq \\back"));
    ASSERT_TRUE(app.WriteProfileInt("DlgPos_102", "Flags", -1));
    ASSERT_TRUE(app.WriteProfileInt("DlgPos_102", "PosLeft", -5000));

    QSettings fresh(QString::fromStdString(sandbox.ProfileFile()), QSettings::IniFormat);
    EXPECT_EQ(fresh.value("Application Settings/TelnetArgs").toString(), "-l admin, %1");
    EXPECT_TRUE(fresh.contains("Application Settings/TelnetPath"));
    EXPECT_EQ(fresh.value("DlgPos_102/PosLeft").toInt(), -5000);

    CWinApp second("OLDiscovery");
    second.SetRegistryKey(kCompany);
    EXPECT_EQ(second.GetProfileString(kSection, "TelnetArgs", "d"), "-l admin, %1");
    EXPECT_EQ(second.GetProfileString(kSection, "TelnetPath", "d"), "");
    EXPECT_EQ(second.GetProfileString(kSection, "Odd", "d"), "@at; semi = eq \\back");
    EXPECT_EQ(second.GetProfileInt("DlgPos_102", "Flags", 0), -1);
    EXPECT_EQ(second.GetProfileInt("DlgPos_102", "PosLeft", 0), -5000);
}

TEST_F(WinAppTest, HandEditedFileIsRead) {
    sandbox.WriteText(sandbox.ProfileFile(),
                      "[Application Settings]\n"
                      "TelnetPath=/usr/bin/telnet\n"
                      "TelnetArgs=-l admin,%1\n"
                      "DoubleClick = copyIP \n"
                      "AutoRefresh=0\n"
                      "Empty=\n"
                      "\n"
                      "[dlgpos_129]\n"
                      "flags=0\n"
                      "POSLEFT=310\n");
    CWinApp app("OLDiscovery");
    app.SetRegistryKey(kCompany);
    EXPECT_EQ(app.GetProfileString(kSection, "TelnetPath", "d"), "/usr/bin/telnet");
    // An unquoted comma must not lose the rest of the value.
    EXPECT_EQ(app.GetProfileString(kSection, "TelnetArgs", "d"), "-l admin,%1");
    EXPECT_EQ(app.GetProfileString(kSection, "DoubleClick", "d"), "copyIP");
    EXPECT_EQ(app.GetProfileInt(kSection, "AutoRefresh", 1), 0);
    EXPECT_EQ(app.GetProfileString(kSection, "Empty", "d"), "");
    // Names are matched without regard to letter case, as in the registry.
    EXPECT_EQ(app.GetProfileInt("DlgPos_129", "Flags", -1), 0);
    EXPECT_EQ(app.GetProfileInt("DlgPos_129", "PosLeft", 0), 310);

    // Writing keeps the spelling already in the file rather than adding a twin.
    ASSERT_TRUE(app.WriteProfileInt("DlgPos_129", "PosLeft", 20));
    QSettings fresh(QString::fromStdString(sandbox.ProfileFile()), QSettings::IniFormat);
    EXPECT_EQ(fresh.value("dlgpos_129/POSLEFT").toInt(), 20);
    EXPECT_FALSE(fresh.contains("DlgPos_129/PosLeft"));
}

TEST_F(WinAppTest, NumbersReadAsThirtyTwoBitValues) {
    sandbox.WriteText(
        sandbox.ProfileFile(),
        "[S]\nFive=5\nNeg=-3\nSpaced= 7 \nWord=yes\nHalf=5x\nEmpty=\nBig=4294967295\nHuge=99999999999\n");
    CWinApp app("OLDiscovery");
    app.SetRegistryKey(kCompany);
    EXPECT_EQ(app.GetProfileInt("S", "Five", 1), 5);
    EXPECT_EQ(app.GetProfileInt("S", "Neg", 1), -3);
    EXPECT_EQ(app.GetProfileInt("S", "Spaced", 1), 7);
    EXPECT_EQ(app.GetProfileInt("S", "Big", 1), -1);
    // Not a number at all: treated like a value of the wrong type, the default answers.
    EXPECT_EQ(app.GetProfileInt("S", "Word", 42), 42);
    EXPECT_EQ(app.GetProfileInt("S", "Half", 42), 42);
    EXPECT_EQ(app.GetProfileInt("S", "Empty", 42), 42);
    EXPECT_EQ(app.GetProfileInt("S", "Huge", 42), 42);
    EXPECT_EQ(app.GetProfileInt("S", "Missing", 42), 42);
    EXPECT_EQ(app.GetProfileString("S", "Missing", "dflt"), "dflt");
    EXPECT_EQ(app.GetProfileString("Nope", "Five", "dflt"), "dflt");
}

TEST_F(WinAppTest, NullValueRemovesEntryAndNullEntryRemovesSection) {
    CWinApp app("OLDiscovery");
    app.SetRegistryKey(kCompany);
    ASSERT_TRUE(app.WriteProfileString("A", "One", "1"));
    ASSERT_TRUE(app.WriteProfileString("A", "Two", "2"));
    ASSERT_TRUE(app.WriteProfileString("B", "Three", "3"));
    ASSERT_TRUE(app.WriteProfileString("A", "One", nullptr));
    EXPECT_EQ(app.GetProfileString("A", "One", "gone"), "gone");
    EXPECT_EQ(app.GetProfileString("A", "Two", "gone"), "2");
    ASSERT_TRUE(app.WriteProfileString("A", nullptr, nullptr));
    EXPECT_EQ(app.GetProfileString("A", "Two", "gone"), "gone");
    EXPECT_EQ(app.GetProfileString("B", "Three", "gone"), "3");
}

TEST_F(WinAppTest, UnwritableStoreReportsFalse) {
    // The company folder's place is taken by a plain file, so the profile cannot be created.
    sandbox.WriteText(sandbox.Folder() + "/" + kCompany, "not a folder");
    CWinApp app("OLDiscovery");
    app.SetRegistryKey(kCompany);
    EXPECT_FALSE(app.WriteProfileString(kSection, "TelnetPath", "x"));
    EXPECT_FALSE(app.WriteProfileInt(kSection, "AutoRefresh", 1));
    EXPECT_EQ(app.GetProfileString(kSection, "TelnetPath", "d"), "d");
}

TEST_F(WinAppTest, SettingsFileThatIsNoRegularFileGivesDefaultsWithoutBlocking) {
    // Each of these would block the reader (a FIFO with no writer) or feed it forever.
    struct Case {
        const char* what;
        std::function<void(const std::string&)> make;
        bool companyWide;  // the file beside the company folder rather than the program's own
    };
    const Case cases[] = {
        {"FIFO", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }, false},
        {"directory", [](const std::string& p) { std::filesystem::create_directory(p); }, false},
        {"device", [](const std::string& p) { std::filesystem::create_symlink("/dev/zero", p); }, false},
        {"company-wide FIFO", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ProfileSandbox own;
        std::filesystem::create_directories(own.Folder() + "/" + kCompany);
        const std::string path = c.companyWide ? own.Folder() + "/" + kCompany + ".conf" : own.ProfileFile();
        c.make(path);
        CWinApp app("OLDiscovery");
        app.SetRegistryKey(kCompany);
        EXPECT_EQ(app.GetProfileString(kSection, "TelnetPath", "telnet"), "telnet");
        EXPECT_EQ(app.GetProfileInt(kSection, "AutoRefresh", 1), 1);
        EXPECT_FALSE(app.WriteProfileInt(kSection, "AutoRefresh", 0));
        EXPECT_EQ(app.ProfileWarning(),
                  "Settings file " + path + " is not a regular file; the defaults are used");
    }
}

}  // namespace
