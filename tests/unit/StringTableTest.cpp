// The string table: every id the program shows has its text, and each text holds exactly the
// placeholders its formatter fills.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "res/Resource.h"
#include "res/StringTable.h"

TEST(StringTableTest, EveryUsedIdHasAText) {
    for (unsigned id = 101; id <= IDS_STATUS_NAME; ++id) {
        if (id == 105)
            continue;  // not used by the program
        EXPECT_FALSE(LoadString(id).empty()) << id;
    }
    EXPECT_TRUE(LoadString(0).empty());
    EXPECT_TRUE(LoadString(105).empty());
    EXPECT_TRUE(LoadString(999).empty());
}

namespace {

// Every id the program loads a text for.
std::vector<unsigned> UsedIds() {
    std::vector<unsigned> ids;
    for (unsigned id = 101; id <= IDS_STATUS_NAME; ++id)
        if (id != 105)
            ids.push_back(id);
    return ids;
}

size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++n;
    return n;
}

}  // namespace

TEST(StringTableTest, PlaceholdersMatchTheFormatterTheProgramUses) {
    // Texts filled by FormatString1 hold "%1" once, by FormatString2 "%1" and "%2" once each;
    // every other text is shown as it is and must hold none.
    const std::map<unsigned, std::pair<size_t, size_t>> filled = {
        {IDS_NEED_ADMIN, {1, 0}},     {IDS_SAVE_FAILED, {1, 1}}, {IDS_DEVICE_COUNT, {1, 0}},
        {IDS_FILTERED_COUNT, {1, 1}}, {IDS_LAST_SCAN, {1, 0}},   {IDS_START_FAILED, {1, 1}},
        {IDS_PROGRAM_FAILED, {1, 1}}, {IDS_EXIT_STATUS, {1, 0}}, {IDS_EXIT_SIGNAL, {1, 0}},
    };
    for (unsigned id : UsedIds()) {
        const std::string text = LoadString(id);
        const auto it = filled.find(id);
        const auto expected = it == filled.end() ? std::pair<size_t, size_t>{0, 0} : it->second;
        EXPECT_EQ(Count(text, "%1"), expected.first) << id;
        EXPECT_EQ(Count(text, "%2"), expected.second) << id;
    }
}

TEST(StringTableTest, NoTwoIdsShareAText) {
    std::map<std::string, unsigned> seen;
    for (unsigned id : UsedIds()) {
        const auto [it, added] = seen.emplace(LoadString(id), id);
        EXPECT_TRUE(added) << id << " repeats the text of " << it->second;
    }
}

TEST(StringTableTest, TextsOfTheStartupAndTheMainDialog) {
    // The rights message ends in the command that grants the right to the program named.
    EXPECT_TRUE(FormatString1(IDS_NEED_ADMIN, "/usr/bin/OLDiscovery")
                    .ends_with("sudo setcap cap_net_raw+p /usr/bin/OLDiscovery"));
    // The hints are two lines each, the second the same for all three.
    const std::string browser = LoadString(IDS_HINT_BROWSER);
    ASSERT_NE(browser.find('\n'), std::string::npos);
    const std::string second = browser.substr(browser.find('\n'));
    ASSERT_GT(second.size(), 1u);
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
    const std::string bare = LoadString(IDS_SAVE_FAILED);
    const size_t first = bare.find("%1"), second = bare.find("%2");
    ASSERT_LT(first, second);
    ASSERT_NE(second, std::string::npos);
    EXPECT_EQ(FormatString2(IDS_SAVE_FAILED, "/tmp/%2 %1.csv", "100%"),
              bare.substr(0, first) + "/tmp/%2 %1.csv" + bare.substr(first + 2, second - first - 2) + "100%" +
                  bare.substr(second + 2));
    EXPECT_EQ(FormatString2(IDS_APP_TITLE, "x", "y"), LoadString(IDS_APP_TITLE));
}
