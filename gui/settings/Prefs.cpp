#include "gui/settings/Prefs.h"

#include "gui/framework/WinApp.h"
#include "res/StringTable.h"

#include <algorithm>
#include <span>

namespace {

const char kSection[] = "Application Settings";

constexpr const char* kActionNames[] = {"Browser", "Telnet", "CopyIP"};     // by ACTION_ value
constexpr const char* kSortColumnNames[] = {"IP", "MAC", "Type", "Build"};  // by SORT_ column
// The optional columns by their bit, as the setting Columns lists them (comma-separated).
constexpr const char* kColumnNames[] = {"Name", "Interface", "LastSeen", "Approved"};

unsigned ColumnsFromNames(const std::string& names) {
    unsigned mask = 0;
    for (std::size_t start = 0; start <= names.size();) {
        const std::size_t end = std::min(names.find(',', start), names.size());
        for (std::size_t i = 0; i < std::size(kColumnNames); ++i) {
            if (SameName(names.substr(start, end - start), kColumnNames[i]))
                mask |= 1u << i;
        }
        start = end + 1;
    }
    return mask;
}

std::string ColumnsToNames(unsigned mask) {
    std::string names;
    for (std::size_t i = 0; i < std::size(kColumnNames); ++i) {
        if (mask & (1u << i))
            names += (names.empty() ? "" : ",") + std::string(kColumnNames[i]);
    }
    return names;
}

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
    m_bRememberDevices = profile.GetInt(kSection, "RememberDevices", 0) != 0;
    m_bDesktopNotifications = profile.GetInt(kSection, "DesktopNotifications", 0) != 0;
    m_strFleetFile = profile.GetString(kSection, "FleetFile", "");
    const std::string columns = profile.GetString(kSection, "Columns", "");
    m_nColumns = ColumnsFromNames(columns);
    m_bWindowKeysInFile =
        m_bRememberDevices || m_bDesktopNotifications || !m_strFleetFile.empty() || !columns.empty();
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
    // Untouched, the file stays as the window without them wrote it.
    if (m_bWindowKeysInFile || m_bRememberDevices || m_bDesktopNotifications || !m_strFleetFile.empty() ||
        m_nColumns != 0) {
        profile.WriteInt(kSection, "RememberDevices", m_bRememberDevices ? 1 : 0);
        profile.WriteInt(kSection, "DesktopNotifications", m_bDesktopNotifications ? 1 : 0);
        profile.WriteString(kSection, "FleetFile", m_strFleetFile.c_str());
        profile.WriteString(kSection, "Columns", ColumnsToNames(m_nColumns).c_str());
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
