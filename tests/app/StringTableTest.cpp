// The string table: every id the program shows has its text, byte for byte where it matters.
#include <gtest/gtest.h>

#include <set>

#include "res/Resource.h"
#include "res/StringTable.h"

TEST(StringTableTest, EveryUsedIdHasAText) {
    for (unsigned id = 101; id <= IDS_SAVE_FAILED; ++id) {
        if (id == 105)
            continue;  // not used by the program
        EXPECT_FALSE(LoadString(id).empty()) << id;
    }
    EXPECT_TRUE(LoadString(0).empty());
    EXPECT_TRUE(LoadString(105).empty());
    EXPECT_TRUE(LoadString(999).empty());
}

TEST(StringTableTest, TextsOfTheStartupAndTheMainDialog) {
    EXPECT_EQ(FormatString1(IDS_NEED_ADMIN, "/usr/bin/OLDiscovery"),
              "To find devices this program needs the raw network right (cap_net_raw).\nRun it as "
              "root, or grant the right once: sudo setcap cap_net_raw+p /usr/bin/OLDiscovery");
    EXPECT_EQ(LoadString(IDS_APP_TITLE), "Orvalink Discovery Tool");
    EXPECT_EQ(LoadString(IDS_ABOUTBOX), "&About OLDiscovery...");
    EXPECT_EQ(LoadString(IDS_COLUMN_IP), "IP Address");
    EXPECT_EQ(LoadString(IDS_COLUMN_BUILD), "Build");
    // The hints are two lines each, the second the same for all three.
    const std::string second = "\nRight click on an entry to see additional connection options.";
    for (unsigned id : {IDS_HINT_BROWSER, IDS_HINT_TELNET, IDS_HINT_COPYIP}) {
        std::string hint = LoadString(id);
        ASSERT_GT(hint.size(), second.size());
        EXPECT_EQ(hint.substr(hint.size() - second.size()), second) << id;
        EXPECT_EQ(hint.find('\n'), hint.size() - second.size()) << id;
    }
    // The system check's text names what the program needs, in the style of the Windows one.
    const std::string win = LoadString(IDS_NEED_WIN2K);
    const std::string linux = LoadString(IDS_NEED_LINUX);
    EXPECT_EQ(win.substr(0, win.find("Windows")), linux.substr(0, linux.find("Linux")));
    EXPECT_NE(linux.find("3.10"), std::string::npos);
}

TEST(StringTableTest, FormatString1FillsEveryPlaceholderOnce) {
    const std::string bare = LoadString(IDS_NEED_ADMIN);
    ASSERT_EQ(bare.substr(bare.size() - 2), "%1");
    // A path that itself holds "%1" is copied as it is, never filled again.
    const std::string filled = FormatString1(IDS_NEED_ADMIN, "/opt/%1/OLDiscovery");
    EXPECT_EQ(filled, bare.substr(0, bare.size() - 2) + "/opt/%1/OLDiscovery");
    EXPECT_EQ(FormatString1(IDS_APP_TITLE, "x"), LoadString(IDS_APP_TITLE));
    EXPECT_TRUE(FormatString1(999, "x").empty());
}

TEST(StringTableTest, FormatString2FillsBothPlaceholdersAndNothingInsideTheArguments) {
    EXPECT_EQ(FormatString2(IDS_SAVE_FAILED, "/tmp/%2 %1.csv", "100%"),
              "The list could not be saved to /tmp/%2 %1.csv:\n100%");
    EXPECT_EQ(FormatString2(IDS_APP_TITLE, "x", "y"), LoadString(IDS_APP_TITLE));
}
