#include "gui/version/VersionInfo.h"

#include "base/DecimalText.h"
#include "res/VersionBlock.h"

#include <cstdio>

std::string g_strVersion = "1.00";
std::string g_strBuild = "1000";
std::string g_strSpecialBuild;

CVersionInfo::CVersionInfo() : m_pBlock(ProgramVersionBlock()) {}

CVersionInfo::CVersionInfo(const VersionBlock* block) : m_pBlock(block) {}

std::string CVersionInfo::GetValue(const std::string& key) const {
    if (!m_pBlock)
        return std::string();
    const std::string path = "\\StringFileInfo\\040904B0\\" + key;
    const char* value = VersionQueryString(m_pBlock, path.c_str());
    return value ? std::string(value) : std::string();
}

bool ParseFileVersion(const std::string& fileVersion, std::string& version, std::string& build) {
    // "%d,%d,%d,%d" as sscanf reads it: blanks before each number, none before a comma, and
    // whatever follows the fourth is ignored. A number beyond int is no version.
    int numbers[4] = {};
    std::string_view rest(fileVersion.c_str());
    for (std::size_t i = 0; i < 4; ++i) {
        if (i > 0) {
            if (!rest.starts_with(','))
                return false;
            rest.remove_prefix(1);
        }
        if (!ReadDecimal(rest, numbers[i]))
            return false;
    }
    char text[64];
    std::snprintf(text, sizeof text, "%d.%02d", numbers[0], numbers[1]);
    version = text;
    build = std::to_string(numbers[3]);
    return true;
}

void LoadVersionStrings() {
    CVersionInfo info;
    ParseFileVersion(info.GetFileVersion(), g_strVersion, g_strBuild);
    g_strSpecialBuild = info.GetSpecialBuild();
}
