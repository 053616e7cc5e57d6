#include "app/VersionInfo.h"

#include "res/VersionBlock.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace {

// A block with one table under the given name.
struct TestBlock {
    TestBlock(std::initializer_list<VersionString> strings, const char* tableName = "040904B0")
        : strings(strings) {
        table = {tableName, this->strings.data(), this->strings.size()};
        block = {&table, 1, nullptr, 0, {}, {}};
    }
    std::vector<VersionString> strings;
    VersionStringTable table{};
    VersionBlock block{};
};

struct Parsed {
    bool ok;
    std::string version, build;
};

Parsed Parse(const std::string& text, const char* presetVersion = "1.00", const char* presetBuild = "1000") {
    Parsed p{false, presetVersion, presetBuild};
    p.ok = ParseFileVersion(text, p.version, p.build);
    return p;
}

TEST(ParseFileVersionTest, FourNumbersGiveVersionAndBuild) {
    for (const char* text : {"1, 4, 0, 1009", "1,4,0,1009", " 1,  4,\t0,\n1009", "1,4,0,1009 beta", "1,4,0,1009,7"}) {
        Parsed p = Parse(text);
        EXPECT_TRUE(p.ok) << text;
        EXPECT_EQ(p.version, "1.04") << text;
        EXPECT_EQ(p.build, "1009") << text;
    }
}

TEST(ParseFileVersionTest, MinorIsAtLeastTwoDigitsAndNeverCut) {
    EXPECT_EQ(Parse("1,5,0,1").version, "1.05");
    EXPECT_EQ(Parse("1,10,0,1").version, "1.10");
    EXPECT_EQ(Parse("1,123,0,1").version, "1.123");
    EXPECT_EQ(Parse("1,0,0,1").version, "1.00");
    EXPECT_EQ(Parse("12,-3,0,-4").version, "12.-3");
    EXPECT_EQ(Parse("12,-3,0,-4").build, "-4");
    EXPECT_EQ(Parse("+2,+7,0,+0").version, "2.07");
}

TEST(ParseFileVersionTest, AnythingShortOfFourNumbersKeepsThePresets) {
    for (const char* text : {"1, 4, 0", "1.4.0.1009", "1 ,4,0,1009", "1,4,,1009", "v1,4,0,1009", "1,4,0,", "", "   "}) {
        Parsed p = Parse(text, "0.99", "1000");
        EXPECT_FALSE(p.ok) << '"' << text << '"';
        EXPECT_EQ(p.version, "0.99") << text;
        EXPECT_EQ(p.build, "1000") << text;
    }
}

TEST(VersionInfoTest, ReadsTheNamedTableOfTheGivenBlock) {
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
    EXPECT_EQ(info.GetValue(""), "");
}

TEST(VersionInfoTest, NoBlockOrAnotherLanguageGivesEmptyTexts) {
    CVersionInfo none(nullptr);
    TestBlock german({{"FileVersion", "1, 4, 0, 1009"}, {"SpecialBuild", "28.7.2006"}}, "040704B0");
    CVersionInfo other(&german.block);
    for (const CVersionInfo* info : {&none, &other}) {
        EXPECT_EQ(info->GetFileVersion(), "");
        EXPECT_EQ(info->GetSpecialBuild(), "");
        EXPECT_EQ(info->GetProductName(), "");
        EXPECT_EQ(info->GetLegalCopyright(), "");
        EXPECT_EQ(info->GetFileDescription(), "");
    }
}

// The three users of the texts, each with its own presets, fed from other blocks.
TEST(VersionInfoTest, EachUserKeepsItsPresetsWhenTheBlockGivesNoVersion) {
    TestBlock threeNumbers({{"FileVersion", "1, 4, 0"}});
    TestBlock empty({{"FileVersion", ""}});
    const VersionBlock* blocks[] = {&threeNumbers.block, &empty.block, nullptr};
    for (const VersionBlock* block : blocks) {
        CVersionInfo info(block);
        // Start-up banner: always parses, presets 1.00 and 1000, special build whatever it is.
        std::string version = "1.00", build = "1000";
        ParseFileVersion(info.GetFileVersion(), version, build);
        EXPECT_EQ(version, "1.00");
        EXPECT_EQ(build, "1000");
        EXPECT_EQ(info.GetSpecialBuild(), "");
        // Caption and About box: 0.99 (and 1000), parsed only for a non-empty text.
        std::string caption = "0.99", aboutBuild = "1000";
        const std::string fileVersion = info.GetFileVersion();
        if (!fileVersion.empty())
            ParseFileVersion(fileVersion, caption, aboutBuild);
        EXPECT_EQ(caption, "0.99");
        EXPECT_EQ(aboutBuild, "1000");
    }
}

TEST(VersionInfoTest, MissingSpecialBuildIsEmptyWhileTheVersionStillParses) {
    TestBlock b({{"FileVersion", "3, 2, 1, 2024"}});
    CVersionInfo info(&b.block);
    std::string version = "1.00", build = "1000";
    EXPECT_TRUE(ParseFileVersion(info.GetFileVersion(), version, build));
    EXPECT_EQ(version, "3.02");
    EXPECT_EQ(build, "2024");
    EXPECT_EQ(info.GetSpecialBuild(), "");
}

TEST(VersionInfoTest, ProgramBlockGivesTheReleasedTexts) {
    CVersionInfo info;
    EXPECT_EQ(info.GetFileVersion(), "1, 4, 0, 1009");
    EXPECT_EQ(info.GetProductName(), "Orvalink Discovery Tool");
    EXPECT_EQ(info.GetFileDescription(), "Orvalink Discovery Tool");
    EXPECT_EQ(info.GetSpecialBuild(), "28.7.2006");
    EXPECT_EQ(info.GetLegalCopyright(), "Copyright (C) 2006 Quarrin-Velto Networks");
}

TEST(VersionInfoTest, LoadVersionStringsFillsTheProcessTexts) {
    EXPECT_EQ(g_strVersion, "1.00");
    EXPECT_EQ(g_strBuild, "1000");
    EXPECT_EQ(g_strSpecialBuild, "");
    LoadVersionStrings();
    EXPECT_EQ(g_strVersion, "1.04");
    EXPECT_EQ(g_strBuild, "1009");
    EXPECT_EQ(g_strSpecialBuild, "28.7.2006");
}

}  // namespace
