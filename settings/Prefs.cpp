#include "settings/Prefs.h"

#include "platform/qt/WinApp.h"

#include <cstddef>

namespace {

const char kSection[] = "Application Settings";

constexpr const char* kSortColumnNames[] = {"IP", "MAC", "Type", "Build"};  // by SORT_ column

// ASCII-only, so no locale can make "TELNET" miss "telnet".
bool SameName(const std::string& a, const char* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return i == a.size() && b[i] == '\0';
}

}  // namespace

CPrefs::CPrefs(CWinApp* store) : m_pStore(store), m_nDoubleClick(ACTION_BROWSER), m_bAutoRefresh(1) {}

CPrefs::~CPrefs() = default;

void CPrefs::Load() {
    if (!m_pStore) {
        // No profile to read: the same values an empty store gives.
        m_strTelnetPath = "telnet";
        m_strTelnetArgs = "%1";
        m_nDoubleClick = ACTION_BROWSER;
        m_bAutoRefresh = 1;
        m_nSortColumn = SORT_NONE;
        m_bSortDescending = false;
        return;
    }
    CProfileLoad profile(*m_pStore);
    m_strTelnetPath = profile.GetString(kSection, "TelnetPath", "telnet");
    m_strTelnetArgs = profile.GetString(kSection, "TelnetArgs", "%1");
    m_nDoubleClick = ActionFromName(profile.GetString(kSection, "DoubleClick", "Browser"));
    m_bAutoRefresh = profile.GetInt(kSection, "AutoRefresh", 1) != 0 ? 1 : 0;
    m_nSortColumn = SortColumnFromName(profile.GetString(kSection, "SortColumn", ""));
    m_bSortDescending = SameName(profile.GetString(kSection, "SortOrder", "Ascending"), "descending");
}

void CPrefs::Save() {
    if (!m_pStore)
        return;
    CProfileSave profile(*m_pStore);
    profile.WriteString(kSection, "TelnetPath", m_strTelnetPath.c_str());
    profile.WriteString(kSection, "TelnetArgs", m_strTelnetArgs.c_str());
    profile.WriteString(kSection, "DoubleClick", ActionToName(m_nDoubleClick).c_str());
    profile.WriteInt(kSection, "AutoRefresh", m_bAutoRefresh);
    // Until the user picks an order the file says nothing of it.
    if (m_nSortColumn != SORT_NONE) {
        profile.WriteString(kSection, "SortColumn", SortColumnToName(m_nSortColumn).c_str());
        profile.WriteString(kSection, "SortOrder", m_bSortDescending ? "Descending" : "Ascending");
    }
    profile.Commit();
}

int CPrefs::ActionFromName(const std::string& name) {
    if (SameName(name, "browser"))
        return ACTION_BROWSER;
    if (SameName(name, "telnet"))
        return ACTION_TELNET;
    if (SameName(name, "copyip"))
        return ACTION_COPYIP;
    return ACTION_BROWSER;
}

std::string CPrefs::ActionToName(int action) {
    switch (action) {
    case ACTION_TELNET:
        return "Telnet";
    case ACTION_COPYIP:
        return "CopyIP";
    default:
        return "Browser";
    }
}

int CPrefs::SortColumnFromName(const std::string& name) {
    for (int column = SORT_IP; column <= SORT_BUILD; ++column) {
        if (SameName(name, kSortColumnNames[column]))
            return column;
    }
    return SORT_NONE;
}

std::string CPrefs::SortColumnToName(int column) {
    return column >= SORT_IP && column <= SORT_BUILD ? kSortColumnNames[column] : "";
}
