// The settings file's bytes for a table of preference and placement values, compared with the
// files the program wrote for the same values and starting files before its profile was
// batched (tests/settings/profile-bytes/<case>.conf).
#include "gui/settings/DialogPersistent.h"
#include "gui/settings/Prefs.h"

#include "gui/framework/WinApp.h"
#include "ProfileSandbox.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Placement {
    unsigned dlgId;
    WINDOWPLACEMENT wp;
};

struct ProfileCase {
    const char* name;
    const char* startText;  // the file before the run; empty: no file
    const char* telnetPath;
    const char* telnetArgs;
    int doubleClick;
    bool autoRefresh;
    int sortColumn;
    bool descending;
    std::vector<Placement> placements;
};

WINDOWPLACEMENT Wp(int showCmd, int maxX, int maxY, int left, int top, int right, int bottom) {
    WINDOWPLACEMENT wp;
    wp.length = 44;
    wp.showCmd = showCmd;
    wp.ptMinX = wp.ptMinY = -1;
    wp.ptMaxX = maxX;
    wp.ptMaxY = maxY;
    wp.left = left;
    wp.top = top;
    wp.right = right;
    wp.bottom = bottom;
    return wp;
}

const std::vector<ProfileCase>& Cases() {
    static const std::vector<ProfileCase> cases = {
        {"fresh-defaults",
         "",
         "telnet",
         "%1",
         ACTION_BROWSER,
         true,
         SORT_NONE,
         false,
         {{102, Wp(1, -1, -1, 10, 20, 410, 320)}}},
        {"fresh-all-dialogs",
         "",
         "/usr/bin/telnet -4",
         "%1 23",
         ACTION_TELNET,
         false,
         SORT_MAC,
         true,
         {{102, Wp(3, 0, 0, 100, 80, 900, 680)},
          {129, Wp(1, -1, -1, -50, -20, 250, 180)},
          {130, Wp(2, -1, -1, 2000, 1500, 2400, 1800)}}},
        {"hand-edited",
         "; kept\n[application settings]\ntelnetpath=old\nAutoRefresh=1\n[DlgPos_102]\nflags=-1\n"
         "posleft=5\n[Other]\nKeep=yes\n",
         "ssh",
         "-l admin %1",
         ACTION_COPYIP,
         true,
         SORT_BUILD,
         false,
         {{102, Wp(1, -1, -1, 5, 6, 7, 8)}, {130, Wp(1, -1, -1, 0, 0, 0, 0)}}},
        {"awkward-texts",
         "",
         "C:\\Program Files\\x, y",
         "\"%1\" ;#= \xc3\xa4",
         ACTION_TELNET,
         true,
         SORT_TYPE,
         true,
         {}},
        {"unchanged",
         "[Application Settings]\nAutoRefresh=0\nDoubleClick=CopyIP\nTelnetArgs=%1\nTelnetPath=telnet\n",
         "telnet",
         "%1",
         ACTION_COPYIP,
         false,
         SORT_NONE,
         false,
         {}},
        {"rewritten",
         "[Application Settings]\nAutoRefresh=0\nDoubleClick=Telnet\nSortColumn=IP\nSortOrder=Descending\n"
         "TelnetArgs=x\nTelnetPath=y\n\n[DlgPos_102]\nFlags=0\nPosLeft=1\nPosTop=2\n",
         "telnet",
         "%1",
         ACTION_BROWSER,
         true,
         SORT_IP,
         false,
         {{102, Wp(1, -1, -1, 1, 2, 301, 202)}}},
    };
    return cases;
}

std::string ReferenceFile(const char* name) {
    return std::string(OLD_PROFILE_BYTES_DIR) + "/" + name + ".conf";
}

TEST(ProfileBytesTest, FileBytesMatchTheReference) {
    for (const ProfileCase& c : Cases()) {
        ProfileSandbox sandbox;
        const std::string file = sandbox.ProfileFile();
        if (*c.startText)
            sandbox.WriteText(file, c.startText);
        {
            CWinApp app("OLDiscovery");
            app.SetRegistryKey("Quarrin-Velto Networks");
            CPrefs prefs(&app);
            prefs.SetTelnetPath(c.telnetPath);
            prefs.SetTelnetArgs(c.telnetArgs);
            prefs.SetDoubleClickAction(c.doubleClick);
            prefs.SetAutoRefresh(c.autoRefresh);
            prefs.SetSortColumn(c.sortColumn);
            prefs.SetSortDescending(c.descending);
            prefs.Save();
            for (const Placement& p : c.placements)
                ASSERT_TRUE(CDialogPersistent::WritePlacement(app, p.dlgId, p.wp)) << c.name;
        }
        const std::string bytes = sandbox.ReadText(file);
        EXPECT_EQ(bytes, testsupport::ReadFileBytes(ReferenceFile(c.name))) << c.name;
    }
}

}  // namespace
