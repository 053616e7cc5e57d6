#pragma once
// The program's version block: Linux executables carry no version resource, so the block is a
// table compiled into the program (generated from VersionBlock.cpp.in by CMake). It keeps the
// layout a version resource has: string tables named by language and code page, a
// translation list, and the fixed numeric versions.
#include <cstddef>

struct VersionString {
    const char* key;
    const char* value;
};

struct VersionStringTable {
    const char* name;  // language and code page in hex, as "040904B0"
    const VersionString* strings;
    std::size_t count;
};

struct VersionTranslation {
    unsigned short language;
    unsigned short codePage;
};

struct VersionBlock {
    const VersionStringTable* tables;
    std::size_t tableCount;
    const VersionTranslation* translations;
    std::size_t translationCount;
    unsigned short fileVersion[4];
    unsigned short productVersion[4];
};

// The block of the running program.
const VersionBlock* ProgramVersionBlock();

// A string value of the block by sub-block path, "\StringFileInfo\<table>\<key>". The
// names compare without regard to letter case. Null when the block, the table or the key is
// missing, or the path names something other than a string value.
const char* VersionQueryString(const VersionBlock* block, const char* subBlock);
