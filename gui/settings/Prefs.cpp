#include "gui/settings/Prefs.h"

#include "gui/framework/WinApp.h"
#include "res/StringTable.h"

#include <algorithm>
#include <span>

namespace {

const char kSection[] = "Application Settings";

constexpr const char* kActionNames[] = {"Browser", "Telnet", "CopyIP"};     // by ACTION_ value
constexpr const char* kSortColumnNames[] = {"IP", "MAC", "Type", "Build"};  // by SORT_ column

// The index of the name (in any case) among names, or fallback.
int IndexOfName(const std::string& name, std::span<const char* const> names, int fallback) {
    const auto found = std::ranges::find_if(names, [&](const char* n) { return SameName(name, n); });
    return found == names.end() ? fallback : static_cast<int>(found - names.begin());
}

}  // namespace

CPrefs::CPrefs(CWinApp* store) : m_pStore(store), m_nDoubleClick(ACTION_BROWSER), m_bAutoRefresh(1) {}

void CPrefs::Load() {
    // No store: the same values an empty one gives.
    CProfileLoad profile(m_pStore);
    m_strTelnetPath = profile.GetString(kSection, "TelnetPath", "telnet");
    m_strTelnetArgs = profile.GetString(kSection, "TelnetArgs", "%1");
    m_nDoubleClick = ActionFromName(profile.GetString(kSection, "DoubleClick", "Browser"));
    m_bAutoRefresh = profile.GetInt(kSection, "AutoRefresh", 1) != 0 ? 1 : 0;
    m_nSortColumn = SortColumnFromName(profile.GetString(kSection, "SortColumn", ""));
    m_bSortInFile = m_nSortColumn != SORT_NONE;
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
    } else if (m_bSortInFile) {
        // Back to the first order: an empty column names none (a name not known stays).
        profile.WriteString(kSection, "SortColumn", "");
    }
    profile.Commit();
}

int CPrefs::ActionFromName(const std::string& name) {
    return IndexOfName(name, kActionNames, ACTION_BROWSER);
}

std::string CPrefs::ActionToName(int action) {
    return kActionNames[action >= ACTION_BROWSER && action <= ACTION_COPYIP ? action : ACTION_BROWSER];
}

int CPrefs::SortColumnFromName(const std::string& name) {
    return IndexOfName(name, kSortColumnNames, SORT_NONE);
}

std::string CPrefs::SortColumnToName(int column) {
    return column >= SORT_IP && column <= SORT_BUILD ? kSortColumnNames[column] : "";
}
