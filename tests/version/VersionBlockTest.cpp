#include "res/VersionBlock.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

std::string Query(const VersionBlock* block, const char* path) {
    const char* v = VersionQueryString(block, path);
    return v ? v : "<null>";
}

TEST(VersionBlockTest, ProgramBlockHoldsTheReleasedTexts) {
    const VersionBlock* b = ProgramVersionBlock();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(Query(b, "\\StringFileInfo\\040904B0\\FileVersion"), "1, 4, 0, 1009");
    EXPECT_EQ(Query(b, "\\StringFileInfo\\040904B0\\ProductVersion"), "1, 4, 0, 1009");
    EXPECT_EQ(Query(b, "\\StringFileInfo\\040904B0\\SpecialBuild"), "28.7.2006");
    EXPECT_EQ(Query(b, "\\StringFileInfo\\040904B0\\ProductName"), "Orvalink Discovery Tool");
    EXPECT_EQ(Query(b, "\\StringFileInfo\\040904B0\\FileDescription"), "Orvalink Discovery Tool");
    EXPECT_EQ(Query(b, "\\StringFileInfo\\040904B0\\InternalName"), "OLDiscovery");
    EXPECT_EQ(Query(b, "\\StringFileInfo\\040904B0\\OriginalFilename"), "OLDiscovery");
    EXPECT_EQ(Query(b, "\\StringFileInfo\\040904B0\\LegalCopyright"), "Copyright (C) 2006 Quarrin-Velto Networks");
    for (const char* empty : {"Comments", "CompanyName", "LegalTrademarks", "PrivateBuild"})
        EXPECT_EQ(Query(b, ("\\StringFileInfo\\040904B0\\" + std::string(empty)).c_str()), "") << empty;
}

TEST(VersionBlockTest, TranslationNamesTheTablesLanguageAndCodePage) {
    const VersionBlock* b = ProgramVersionBlock();
    ASSERT_EQ(b->translationCount, 1u);
    EXPECT_EQ(b->translations[0].language, 0x0409);
    EXPECT_EQ(b->translations[0].codePage, 0x04B0);
    ASSERT_EQ(b->tableCount, 1u);
    char name[9];
    std::snprintf(name, sizeof name, "%04X%04X", b->translations[0].language, b->translations[0].codePage);
    EXPECT_STREQ(b->tables[0].name, name);
    const unsigned short expected[4] = {1, 4, 0, 1009};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(b->fileVersion[i], expected[i]);
        EXPECT_EQ(b->productVersion[i], expected[i]);
    }
}

TEST(VersionBlockTest, PathsAreMatchedWhole) {
    const VersionBlock* b = ProgramVersionBlock();
    EXPECT_EQ(Query(b, "\\stringfileinfo\\040904b0\\fileversion"), "1, 4, 0, 1009");
    EXPECT_EQ(Query(b, "\\StringFileInfo\\040904B0\\FileVersio"), "<null>");
    EXPECT_EQ(Query(b, "\\StringFileInfo\\040904B0\\FileVersionX"), "<null>");
    EXPECT_EQ(Query(b, "\\StringFileInfo\\040704B0\\FileVersion"), "<null>");
    EXPECT_EQ(Query(b, "\\StringFileInfo\\040904B0\\"), "<null>");
    EXPECT_EQ(Query(b, "\\StringFileInfo\\040904B0"), "<null>");
    EXPECT_EQ(Query(b, "\\VarFileInfo\\Translation"), "<null>");
    EXPECT_EQ(Query(b, "\\StringFileInfo\\040904B0\\FileVersion\\x"), "<null>");
    EXPECT_EQ(Query(b, ""), "<null>");
    EXPECT_EQ(Query(nullptr, "\\StringFileInfo\\040904B0\\FileVersion"), "<null>");
    EXPECT_EQ(VersionQueryString(b, nullptr), nullptr);
}

TEST(VersionBlockTest, OnlyTheNamedTableAnswers) {
    const VersionString german[] = {{"FileVersion", "9, 9, 9, 9"}};
    const VersionString english[] = {{"FileVersion", "2, 0, 0, 7"}, {"Broken", nullptr}};
    const VersionStringTable tables[] = {{"040704B0", german, 1}, {"040904B0", english, 2}};
    const VersionBlock b = {tables, 2, nullptr, 0, {}, {}};
    EXPECT_EQ(Query(&b, "\\StringFileInfo\\040904B0\\FileVersion"), "2, 0, 0, 7");
    EXPECT_EQ(Query(&b, "\\StringFileInfo\\040704B0\\FileVersion"), "9, 9, 9, 9");
    EXPECT_EQ(Query(&b, "\\StringFileInfo\\040904B0\\Broken"), "<null>");
}

}  // namespace
