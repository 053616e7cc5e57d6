#pragma once
// The program's version texts, read from the version block compiled into the program.
#include <string>

struct VersionBlock;  // res/VersionBlock.h

class CVersionInfo {
public:
    // Reads the running program's own block.
    CVersionInfo();
    // Reads the given block (null: no block).
    explicit CVersionInfo(const VersionBlock* block);

    std::string GetValue(const std::string& key) const;
    std::string GetProductName() const { return GetValue("ProductName"); }
    std::string GetLegalCopyright() const { return GetValue("LegalCopyright"); }
    std::string GetFileDescription() const { return GetValue("FileDescription"); }
    std::string GetFileVersion() const { return GetValue("FileVersion"); }
    std::string GetSpecialBuild() const { return GetValue("SpecialBuild"); }

private:
    const VersionBlock* m_pBlock;  // compiled into the program, or the caller's: never freed here
};

// "%d,%d,%d,%d" read; on four numbers version = "%d.%02d" of the first two, build = "%d" of the
// fourth, result true. Otherwise false and both texts unchanged.
bool ParseFileVersion(const std::string& fileVersion, std::string& version, std::string& build);
// Fills the three process-wide texts from the program's own block.
void LoadVersionStrings();

extern std::string g_strVersion;  // "1.00" until LoadVersionStrings
extern std::string g_strBuild;    // "1000" until LoadVersionStrings
extern std::string g_strSpecialBuild;
