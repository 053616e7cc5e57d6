#include "gui/framework/WinApp.h"

#include "ProfileSandbox.h"
#include "ProfileValues.h"

#include <gtest/gtest.h>

#include <QSettings>

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <functional>
#include <variant>
#include <vector>

namespace {

const char kCompany[] = "Quarrin-Velto Networks";
const char kSection[] = "Application Settings";

// The application object as OLDiscovery makes it: its name, under the company key.
struct OLDiscoveryProfileApp : CWinApp {
    OLDiscoveryProfileApp() : CWinApp("OLDiscovery") { SetRegistryKey(kCompany); }
};

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

TEST_F(WinAppTest, OneLoadReadsTheFileOnceAndOneSaveWritesItOnce) {
    OLDiscoveryProfileApp app;
    const std::string file = sandbox.ProfileFile();
    sandbox.WriteText(file, "[DlgPos_102]\nFlags=0\nPosLeft=10\n");

    CProfileLoad load(&app);
    EXPECT_EQ(load.GetInt("DlgPos_102", "Flags", -1), 0);
    // Changed in the middle of a load: the load goes on with what it read.
    sandbox.WriteText(file, "[DlgPos_102]\nFlags=-1\nPosLeft=999999\n");
    EXPECT_EQ(load.GetInt("DlgPos_102", "PosLeft", -1), 10);

    const std::string before = sandbox.ReadText(file);
    CProfileSave save(app);
    ASSERT_TRUE(save.WriteInt("DlgPos_102", "Flags", 0));
    ASSERT_TRUE(save.WriteInt("DlgPos_102", "PosLeft", 20));
    ASSERT_TRUE(save.WriteString("Application Settings", "TelnetPath", "ssh"));
    EXPECT_EQ(sandbox.ReadText(file), before) << "nothing is written before the commit";
    ASSERT_TRUE(save.Commit());
    EXPECT_EQ(sandbox.ReadText(file),
              "[Application%20Settings]\nTelnetPath=ssh\n\n[DlgPos_102]\nFlags=0\nPosLeft=20\n");
    // A change without a name refuses the whole save.
    CProfileSave refused(app);
    ASSERT_TRUE(refused.WriteInt("DlgPos_102", "Flags", 5));
    EXPECT_FALSE(refused.WriteInt("DlgPos_102", nullptr, 6));
    EXPECT_FALSE(refused.Commit());
    EXPECT_EQ(GetProfileInt(app, "DlgPos_102", "Flags", -1), 0);
}

TEST_F(WinAppTest, ProfileLivesInTheCompanyFolderUnderTheAppName) {
    OLDiscoveryProfileApp app;
    EXPECT_EQ(app.RegistryKey(), kCompany);
    ASSERT_TRUE(WriteProfileInt(app, kSection, "AutoRefresh", 0));
    EXPECT_TRUE(std::filesystem::exists(sandbox.ProfileFile()));
}

TEST_F(WinAppTest, WithoutCompanyKeyTheProfileIsNamedAfterTheApp) {
    CWinApp app("OLDiscovery");
    ASSERT_TRUE(WriteProfileString(app, kSection, "TelnetPath", "x"));
    EXPECT_TRUE(std::filesystem::exists(sandbox.Folder() + "/OLDiscovery.conf"));
    EXPECT_EQ(GetProfileString(app, kSection, "TelnetPath", "d"), "x");
}

TEST_F(WinAppTest, SaveKeepsTheModeTheUserGaveTheFile) {
    OLDiscoveryProfileApp app;
    ASSERT_TRUE(WriteProfileString(app, kSection, "TelnetPath", "first"));
    for (mode_t mode : {0600, 0640}) {
        ASSERT_EQ(::chmod(sandbox.ProfileFile().c_str(), mode), 0);
        ASSERT_TRUE(WriteProfileString(app, kSection, "TelnetPath", std::to_string(mode).c_str()));
        struct stat st {};
        ASSERT_EQ(::stat(sandbox.ProfileFile().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode);
    }
}

TEST_F(WinAppTest, WrittenValuesAreOnDiskForAFreshReader) {
    OLDiscoveryProfileApp app;
    ASSERT_TRUE(WriteProfileString(app, kSection, "TelnetArgs", "-l admin, %1"));
    ASSERT_TRUE(WriteProfileString(app, kSection, "TelnetPath", ""));
    ASSERT_TRUE(WriteProfileString(app, kSection, "Odd", "@at; semi = eq \\back"));
    ASSERT_TRUE(WriteProfileInt(app, "DlgPos_102", "Flags", -1));
    ASSERT_TRUE(WriteProfileInt(app, "DlgPos_102", "PosLeft", -5000));

    QSettings fresh(QString::fromStdString(sandbox.ProfileFile()), QSettings::IniFormat);
    EXPECT_EQ(fresh.value("Application Settings/TelnetArgs").toString(), "-l admin, %1");
    EXPECT_TRUE(fresh.contains("Application Settings/TelnetPath"));
    EXPECT_EQ(fresh.value("DlgPos_102/PosLeft").toInt(), -5000);

    OLDiscoveryProfileApp second;
    EXPECT_EQ(GetProfileString(second, kSection, "TelnetArgs", "d"), "-l admin, %1");
    EXPECT_EQ(GetProfileString(second, kSection, "TelnetPath", "d"), "");
    EXPECT_EQ(GetProfileString(second, kSection, "Odd", "d"), "@at; semi = eq \\back");
    EXPECT_EQ(GetProfileInt(second, "DlgPos_102", "Flags", 0), -1);
    EXPECT_EQ(GetProfileInt(second, "DlgPos_102", "PosLeft", 0), -5000);
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
    OLDiscoveryProfileApp app;
    EXPECT_EQ(GetProfileString(app, kSection, "TelnetPath", "d"), "/usr/bin/telnet");
    // An unquoted comma must not lose the rest of the value.
    EXPECT_EQ(GetProfileString(app, kSection, "TelnetArgs", "d"), "-l admin,%1");
    EXPECT_EQ(GetProfileString(app, kSection, "DoubleClick", "d"), "copyIP");
    EXPECT_EQ(GetProfileInt(app, kSection, "AutoRefresh", 1), 0);
    EXPECT_EQ(GetProfileString(app, kSection, "Empty", "d"), "");
    // Names are matched without regard to letter case, as in the registry.
    EXPECT_EQ(GetProfileInt(app, "DlgPos_129", "Flags", -1), 0);
    EXPECT_EQ(GetProfileInt(app, "DlgPos_129", "PosLeft", 0), 310);

    // Writing keeps the spelling already in the file rather than adding a twin.
    ASSERT_TRUE(WriteProfileInt(app, "DlgPos_129", "PosLeft", 20));
    QSettings fresh(QString::fromStdString(sandbox.ProfileFile()), QSettings::IniFormat);
    EXPECT_EQ(fresh.value("dlgpos_129/POSLEFT").toInt(), 20);
    EXPECT_FALSE(fresh.contains("DlgPos_129/PosLeft"));
}

TEST_F(WinAppTest, NumbersReadAsThirtyTwoBitValues) {
    sandbox.WriteText(
        sandbox.ProfileFile(),
        "[S]\nFive=5\nNeg=-3\nSpaced= 7 \nWord=yes\nHalf=5x\nEmpty=\nBig=4294967295\nHuge=99999999999\n");
    OLDiscoveryProfileApp app;
    EXPECT_EQ(GetProfileInt(app, "S", "Five", 1), 5);
    EXPECT_EQ(GetProfileInt(app, "S", "Neg", 1), -3);
    EXPECT_EQ(GetProfileInt(app, "S", "Spaced", 1), 7);
    EXPECT_EQ(GetProfileInt(app, "S", "Big", 1), -1);
    // Not a number at all: treated like a value of the wrong type, the default answers.
    EXPECT_EQ(GetProfileInt(app, "S", "Word", 42), 42);
    EXPECT_EQ(GetProfileInt(app, "S", "Half", 42), 42);
    EXPECT_EQ(GetProfileInt(app, "S", "Empty", 42), 42);
    EXPECT_EQ(GetProfileInt(app, "S", "Huge", 42), 42);
    EXPECT_EQ(GetProfileInt(app, "S", "Missing", 42), 42);
    EXPECT_EQ(GetProfileString(app, "S", "Missing", "dflt"), "dflt");
    EXPECT_EQ(GetProfileString(app, "Nope", "Five", "dflt"), "dflt");
}

TEST_F(WinAppTest, NullValueRemovesEntryAndNullEntryRemovesSection) {
    OLDiscoveryProfileApp app;
    ASSERT_TRUE(WriteProfileString(app, "A", "One", "1"));
    ASSERT_TRUE(WriteProfileString(app, "A", "Two", "2"));
    ASSERT_TRUE(WriteProfileString(app, "B", "Three", "3"));
    ASSERT_TRUE(WriteProfileString(app, "A", "One", nullptr));
    EXPECT_EQ(GetProfileString(app, "A", "One", "gone"), "gone");
    EXPECT_EQ(GetProfileString(app, "A", "Two", "gone"), "2");
    ASSERT_TRUE(WriteProfileString(app, "A", nullptr, nullptr));
    EXPECT_EQ(GetProfileString(app, "A", "Two", "gone"), "gone");
    EXPECT_EQ(GetProfileString(app, "B", "Three", "gone"), "3");
}

TEST_F(WinAppTest, UnwritableStoreReportsFalse) {
    // The company folder's place is taken by a plain file, so the profile cannot be created.
    sandbox.WriteText(sandbox.Folder() + "/" + kCompany, "not a folder");
    OLDiscoveryProfileApp app;
    EXPECT_FALSE(WriteProfileString(app, kSection, "TelnetPath", "x"));
    EXPECT_FALSE(WriteProfileInt(app, kSection, "AutoRefresh", 1));
    EXPECT_EQ(GetProfileString(app, kSection, "TelnetPath", "d"), "d");
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
        OLDiscoveryProfileApp app;
        EXPECT_EQ(GetProfileString(app, kSection, "TelnetPath", "telnet"), "telnet");
        EXPECT_EQ(GetProfileInt(app, kSection, "AutoRefresh", 1), 1);
        EXPECT_FALSE(WriteProfileInt(app, kSection, "AutoRefresh", 0));
        EXPECT_EQ(app.ProfileWarning(),
                  "Settings file " + path + " is not a regular file; the defaults are used");
    }
}

// One write of a table case; a null entry removes the section, a null text the entry.
struct ProfileWrite {
    const char* section;
    const char* entry;
    std::variant<const char*, int> value;
};

TEST_F(WinAppTest, SavedFileIsByteForByteWhatQSettingsWritesForTheSameValues) {
    const std::string longText(40000, 'x');
    struct Case {
        const char* what;
        std::string before;
        std::vector<ProfileWrite> writes;
    };
    const Case cases[] = {
        {"texts of every kind into a new file",
         "",
         {{kSection, "TelnetPath", "telnet"},
          {kSection, "TelnetArgs", "-l admin, %1"},
          {kSection, "Empty", ""},
          {kSection, "Odd", "@at; semi = eq \\back \"quoted\""},
          {kSection, "Spaces", "  lead and trail  "},
          {kSection, "Controls", "tab\there\nnext"},
          {kSection, "Unicode", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
          {kSection, "Long", longText.c_str()},
          {"Other Section", "Key", "=#;[x]"}}},
        {"numbers",
         "",
         {{"DlgPos_102", "Flags", -1}, {"DlgPos_102", "PosLeft", -5000}, {"DlgPos_102", "Big", INT_MAX}}},
        {"changes to a file with other sections and comments",
         "; hand-written\n[General]\nx=1\n\n[Application "
         "Settings]\nTelnetPath=old\nAutoRefresh=1\n[Z]\nz=2\n",
         {{kSection, "TelnetPath", "new"}, {kSection, "AutoRefresh", 0}, {"A", "B", "c"}}},
        {"removals",
         "[A]\nOne=1\nTwo=2\n[B]\nThree=3\n[C]\nFour=4\n",
         {{"A", "One", nullptr}, {"C", nullptr, nullptr}, {"B", "Three", "drei"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ProfileSandbox own;
        testsupport::TempDir referenceDir;
        const std::string reference = referenceDir.file("reference.conf");
        if (!c.before.empty()) {
            own.WriteText(own.ProfileFile(), c.before);
            own.WriteText(reference, c.before);
        }
        OLDiscoveryProfileApp app;
        for (const ProfileWrite& w : c.writes) {
            QSettings qt(QString::fromStdString(reference), QSettings::NativeFormat);
            const QString group = QString::fromUtf8(w.section);
            if (const int* number = std::get_if<int>(&w.value)) {
                ASSERT_TRUE(WriteProfileInt(app, w.section, w.entry, *number));
                qt.setValue(group + "/" + w.entry, *number);
                EXPECT_EQ(GetProfileInt(app, w.section, w.entry, 7), *number) << "read back at once";
                continue;
            }
            const char* text = std::get<const char*>(w.value);
            ASSERT_TRUE(WriteProfileString(app, w.section, w.entry, text));
            if (!w.entry)
                qt.remove(group);
            else if (!text)
                qt.remove(group + "/" + w.entry);
            else
                qt.setValue(group + "/" + w.entry, QString::fromUtf8(text));
            if (w.entry) {
                EXPECT_EQ(GetProfileString(app, w.section, w.entry, "gone"), text ? text : "gone")
                    << "read back at once";
            }
        }
        EXPECT_EQ(own.ReadText(own.ProfileFile()), own.ReadText(reference));
        EXPECT_EQ(app.ProfileSaveWarning(), "");
    }
}

TEST_F(WinAppTest, UnchangedValuesAreNotWrittenAndForeignBytesSurviveOtherChanges) {
    const std::string before =
        "[Application Settings]\nTelnetPath=/opt/te\xFFlnet\nTelnetArgs=-x \xE9t\xE9 %1\nAutoRefresh=1\n";
    sandbox.WriteText(sandbox.ProfileFile(), before);
    OLDiscoveryProfileApp app;
    // Read as the program reads them (U+FFFD for each foreign byte) and written back unchanged.
    const std::string path = GetProfileString(app, kSection, "TelnetPath", "d");
    EXPECT_EQ(path, "/opt/te\xEF\xBF\xBDlnet");
    ASSERT_TRUE(WriteProfileString(app, kSection, "TelnetPath", path.c_str()));
    ASSERT_TRUE(WriteProfileInt(app, kSection, "AutoRefresh", 1));
    EXPECT_EQ(sandbox.ReadText(sandbox.ProfileFile()), before);
    // Another value changes: the untouched ones keep their bytes.
    ASSERT_TRUE(WriteProfileInt(app, kSection, "AutoRefresh", 0));
    EXPECT_EQ(
        sandbox.ReadText(sandbox.ProfileFile()),
        "[Application%20Settings]\nAutoRefresh=0\nTelnetArgs=-x \xE9t\xE9 %1\nTelnetPath=/opt/te\xFFlnet\n");
}

TEST_F(WinAppTest, NoSaveThroughALinkOrIntoAnotherUsersFileOrFolder) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "giving files to another user needs root";
    constexpr uid_t kOtherUser = 4242;
    const std::string standInLines = "root:x:0:0:root:/root:/bin/bash\ndaemon:x:1:1::/:/usr/sbin/nologin\n";
    struct Case {
        const char* what;
        // Prepares the profile file (first argument) given the stand-in for a system file.
        std::function<void(const std::string&, const std::string&)> make;
        std::string reason;  // in the parentheses; {folder} stands for the profile's folder
    };
    const Case cases[] = {
        {"file is a link to a system file",
         [](const std::string& file, const std::string& target) {
             std::filesystem::create_directories(std::filesystem::path(file).parent_path());
             std::filesystem::create_symlink(target, file);
         },
         "it is a symbolic link"},
        {"folder is a link",
         [](const std::string& file, const std::string& target) {
             const auto folder = std::filesystem::path(file).parent_path();
             std::filesystem::create_directories(folder.string() + ".real");
             std::filesystem::create_symlink(folder.string() + ".real", folder);
             std::filesystem::create_symlink(target, file);
         },
         "its folder {folder} is a symbolic link"},
        {"file belongs to another user",
         [&](const std::string& file, const std::string&) {
             std::filesystem::create_directories(std::filesystem::path(file).parent_path());
             std::ofstream(file) << "[Application Settings]\nTelnetPath=theirs\n";
             ASSERT_EQ(::chown(file.c_str(), kOtherUser, kOtherUser), 0);
         },
         "it belongs to another user (uid 4242)"},
        {"folder belongs to another user",
         [&](const std::string& file, const std::string&) {
             const auto folder = std::filesystem::path(file).parent_path();
             std::filesystem::create_directories(folder);
             ASSERT_EQ(::chown(folder.c_str(), kOtherUser, kOtherUser), 0);
         },
         "its folder {folder} belongs to another user (uid 4242)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ProfileSandbox own;
        const std::string file = own.ProfileFile();
        const std::string standIn = own.Folder() + "/etc-passwd";
        own.WriteText(standIn, standInLines);
        c.make(file, standIn);
        const std::string fileBefore = own.ReadText(file);
        std::string reason = c.reason;
        if (auto at = reason.find("{folder}"); at != std::string::npos)
            reason.replace(at, 8, std::filesystem::path(file).parent_path().string());

        OLDiscoveryProfileApp app;
        testing::internal::CaptureStderr();
        EXPECT_FALSE(WriteProfileString(app, kSection, "TelnetPath", "/tmp/evil"));
        EXPECT_FALSE(WriteProfileInt(app, kSection, "AutoRefresh", 0));
        const std::string err = testing::internal::GetCapturedStderr();
        const std::string warning = "Settings file not saved (" + reason + "): " + file;
        EXPECT_EQ(app.ProfileSaveWarning(), warning);
        EXPECT_EQ(err, "OLDiscovery: Warning: " + warning + "\n") << "said once, however often it fails";
        EXPECT_EQ(own.ReadText(standIn), standInLines);
        EXPECT_EQ(own.ReadText(file), fileBefore);
        EXPECT_TRUE(std::filesystem::is_symlink(file) ||
                    !std::filesystem::exists(std::filesystem::symlink_status(file)) ||
                    std::filesystem::is_regular_file(std::filesystem::symlink_status(file)));
        // Nothing left behind beside the file either.
        std::error_code ec;
        for (const auto& entry :
             std::filesystem::directory_iterator(std::filesystem::path(file).parent_path(), ec))
            EXPECT_EQ(entry.path().string().find(".tmp"), std::string::npos) << entry.path();
    }
}

}  // namespace
