#include "gui/version/VersionInfo.h"

#include "res/VersionBlock.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

// A block with one table under the given name.
struct TestBlock {
    TestBlock(std::initializer_list<VersionString> list, const char* tableName = "040904B0") : strings(list) {
        table = {tableName, strings.data(), strings.size()};
        block = {&table, 1, nullptr, 0, {}, {}};
    }
    std::vector<VersionString> strings;
    VersionStringTable table{};
    VersionBlock block{};
};

// Version and build text after parsing over the given presets; "-" marks a false result.
std::string Parse(const std::string& text, std::string version = "0.99", std::string build = "1000") {
    const bool ok = ParseFileVersion(text, version, build);
    return (ok ? "" : "-") + version + "/" + build;
}

TEST(ParseFileVersionTest, FourNumbersGiveVersionAndBuild) {
    for (const char* text :
         {"1, 4, 0, 1009", "1,4,0,1009", " 1,  4,\t0,\n1009", "1,4,0,1009 beta", "1,4,0,1009,7"})
        EXPECT_EQ(Parse(text), "1.04/1009") << text;
    EXPECT_EQ(Parse("1,5,0,1"), "1.05/1");
    EXPECT_EQ(Parse("1,10,0,1"), "1.10/1");
    EXPECT_EQ(Parse("1,123,0,1"), "1.123/1");
    EXPECT_EQ(Parse("12,-3,0,-4"), "12.-3/-4");
    EXPECT_EQ(Parse("+2,+7,0,+0"), "2.07/0");
}

TEST(ParseFileVersionTest, AnythingShortOfFourNumbersKeepsThePresets) {
    for (const char* text :
         {"1, 4, 0", "1.4.0.1009", "1 ,4,0,1009", "1,4,,1009", "v1,4,0,1009", "1,4,0,", "", "   "})
        EXPECT_EQ(Parse(text, "1.00", "1000"), "-1.00/1000") << '"' << text << '"';
}

TEST(VersionInfoTest, ReadsOnlyTheNamedTableOfTheGivenBlock) {
    TestBlock b({{"FileVersion", "2, 1, 3, 77"},
                 {"ProductName", "Product"},
                 {"FileDescription", "Description"},
                 {"LegalCopyright", "Notice"},
                 {"SpecialBuild", "1.1.2001"}});
    CVersionInfo info(&b.block);
    EXPECT_EQ(info.GetFileVersion(), "2, 1, 3, 77");
    EXPECT_EQ(info.GetProductName(), "Product");
    EXPECT_EQ(info.GetFileDescription(), "Description");
    EXPECT_EQ(info.GetLegalCopyright(), "Notice");
    EXPECT_EQ(info.GetSpecialBuild(), "1.1.2001");
    EXPECT_EQ(info.GetValue("Missing"), "");

    TestBlock german({{"FileVersion", "1, 4, 0, 1009"}, {"ProductName", "Produkt"}}, "040704B0");
    EXPECT_EQ(CVersionInfo(&german.block).GetFileVersion(), "");
    EXPECT_EQ(CVersionInfo(&german.block).GetProductName(), "");
    EXPECT_EQ(CVersionInfo(nullptr).GetProductName(), "");
}

// The three users of the texts, each with its own presets, fed from other blocks.
TEST(VersionInfoTest, EachUserKeepsItsPresetsWhenTheBlockGivesNoVersion) {
    TestBlock threeNumbers({{"FileVersion", "1, 4, 0"}});
    TestBlock empty({{"FileVersion", ""}});
    const VersionBlock* blocks[] = {&threeNumbers.block, &empty.block, nullptr};
    for (const VersionBlock* block : blocks) {
        CVersionInfo info(block);
        // Start-up banner: always parses, over 1.00 and 1000.
        EXPECT_EQ(Parse(info.GetFileVersion(), "1.00", "1000"), "-1.00/1000");
        EXPECT_EQ(info.GetSpecialBuild(), "");
        // Caption and About box: 0.99 (and 1000), parsed only for a non-empty text.
        std::string caption = "0.99", aboutBuild = "1000";
        if (!info.GetFileVersion().empty())
            ParseFileVersion(info.GetFileVersion(), caption, aboutBuild);
        EXPECT_EQ(caption + "/" + aboutBuild, "0.99/1000");
    }
}

TEST(VersionInfoTest, MissingSpecialBuildIsEmptyWhileTheVersionStillParses) {
    TestBlock b({{"FileVersion", "3, 2, 1, 2024"}});
    CVersionInfo info(&b.block);
    EXPECT_EQ(Parse(info.GetFileVersion()), "3.02/2024");
    EXPECT_EQ(info.GetSpecialBuild(), "");
}

TEST(VersionInfoTest, LoadVersionStringsFillsTheProcessTextsFromTheProgramBlock) {
    EXPECT_EQ(g_strVersion, "1.00");
    EXPECT_EQ(g_strBuild, "1000");
    LoadVersionStrings();
    const int version[4] = {OLD_VERSION_PARTS};
    char expected[32];
    std::snprintf(expected, sizeof expected, "%d.%02d", version[0], version[1]);
    EXPECT_EQ(g_strVersion, expected);
    EXPECT_EQ(g_strBuild, std::to_string(version[3]));
    EXPECT_EQ(g_strSpecialBuild, "28.7.2006");
    EXPECT_EQ(CVersionInfo().GetProductName(), "Orvalink Discovery Tool");
}

}  // namespace

TEST(ParseFileVersionTest, ANumberBeyondIntIsNoVersion) {
    EXPECT_EQ(Parse("1,4,0,99999999999", "1.00", "1000"), "-1.00/1000");
    EXPECT_EQ(Parse("1,4,0,2147483647"), "1.04/2147483647");
}
