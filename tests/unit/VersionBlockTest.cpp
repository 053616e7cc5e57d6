#include "res/VersionBlock.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

// The project version as the block's texts write it: "1, 4, 0, 1009".
const unsigned short kVersion[4] = {OLD_VERSION_PARTS};
const std::string kVersionText = std::to_string(kVersion[0]) + ", " + std::to_string(kVersion[1]) + ", " +
                                 std::to_string(kVersion[2]) + ", " + std::to_string(kVersion[3]);

std::string Query(const char* path, const VersionBlock* block = ProgramVersionBlock()) {
    const char* v = VersionQueryString(block, path);
    return v ? v : "<null>";
}

TEST(VersionBlockTest, ProgramBlockHoldsTheReleasedTexts) {
    const std::string t = "\\StringFileInfo\\040904B0\\";
    EXPECT_EQ(Query((t + "FileVersion").c_str()), kVersionText);
    EXPECT_EQ(Query((t + "ProductVersion").c_str()), kVersionText);
    EXPECT_EQ(Query((t + "SpecialBuild").c_str()), "28.7.2006");
    EXPECT_EQ(Query((t + "ProductName").c_str()), "Orvalink Discovery Tool");
    EXPECT_EQ(Query((t + "FileDescription").c_str()), "Orvalink Discovery Tool");
    EXPECT_EQ(Query((t + "InternalName").c_str()), "OLDiscovery");
    EXPECT_EQ(Query((t + "OriginalFilename").c_str()), "OLDiscovery");
    EXPECT_EQ(Query((t + "LegalCopyright").c_str()), "Copyright (C) 2006 Quarrin-Velto Networks");
    for (const char* empty : {"Comments", "CompanyName", "LegalTrademarks", "PrivateBuild"})
        EXPECT_EQ(Query((t + empty).c_str()), "") << empty;

    // The translation entry names the table, and the fixed numbers match the text.
    const VersionBlock* b = ProgramVersionBlock();
    ASSERT_EQ(b->translationCount, 1u);
    ASSERT_EQ(b->tableCount, 1u);
    char name[9];
    std::snprintf(name, sizeof name, "%04X%04X", b->translations[0].language, b->translations[0].codePage);
    EXPECT_STREQ(name, "040904B0");
    EXPECT_STREQ(b->tables[0].name, name);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(b->fileVersion[i], kVersion[i]);
        EXPECT_EQ(b->productVersion[i], kVersion[i]);
    }
}

TEST(VersionBlockTest, PathsAreMatchedWholeWithoutRegardToCase) {
    EXPECT_EQ(Query("\\stringfileinfo\\040904b0\\fileversion"), kVersionText);
    for (const char* path :
         {"\\StringFileInfo\\040904B0\\FileVersio", "\\StringFileInfo\\040904B0\\FileVersionX",
          "\\StringFileInfo\\040704B0\\FileVersion", "\\StringFileInfo\\040904B0\\",
          "\\StringFileInfo\\040904B0\\FileVersion\\x", "\\VarFileInfo\\Translation", ""})
        EXPECT_EQ(Query(path), "<null>") << path;
    EXPECT_EQ(Query("\\StringFileInfo\\040904B0\\FileVersion", nullptr), "<null>");
    EXPECT_EQ(VersionQueryString(ProgramVersionBlock(), nullptr), nullptr);
}

}  // namespace
