#pragma once
// The user's preferences in memory, loaded from and saved to the settings profile: the four of
// the Settings dialog and the device list's order.
#include <string>

class CWinApp;

constexpr int ACTION_BROWSER = 0;
constexpr int ACTION_TELNET = 1;
constexpr int ACTION_COPYIP = 2;

// The device list's sort column; SORT_NONE keeps the first order, the IP column's text.
constexpr int SORT_NONE = -1;
constexpr int SORT_IP = 0;
constexpr int SORT_MAC = 1;
constexpr int SORT_TYPE = 2;
constexpr int SORT_BUILD = 3;

class CPrefs {
public:
    // store: the application whose settings profile holds the preferences; null: none, Load
    // gives the defaults and Save writes nothing. It outlives the preferences.
    explicit CPrefs(CWinApp* store = nullptr);

    // Each reads, or writes, the profile's file once.
    void Load();
    void Save();
    CWinApp* Store() const { return m_pStore; }

    std::string GetTelnetPath() const { return m_strTelnetPath; }
    std::string GetTelnetArgs() const { return m_strTelnetArgs; }
    int GetDoubleClickAction() const { return m_nDoubleClick; }
    bool GetAutoRefresh() const { return m_bAutoRefresh != 0; }
    void SetTelnetPath(const std::string& path) { m_strTelnetPath = path; }
    void SetTelnetArgs(const std::string& args) { m_strTelnetArgs = args; }
    void SetDoubleClickAction(int action) { m_nDoubleClick = action; }
    void SetAutoRefresh(bool on) { m_bAutoRefresh = on ? 1 : 0; }
    int GetSortColumn() const { return m_nSortColumn; }
    bool GetSortDescending() const { return m_bSortDescending; }
    void SetSortColumn(int column) { m_nSortColumn = column; }
    void SetSortDescending(bool descending) { m_bSortDescending = descending; }

    // What the window remembers and tells beyond its list, each off until set: the devices seen
    // across runs, desktop notifications, the fleet file (empty: the system's), the optional
    // columns shown (a mask of the device list's).
    bool GetRememberDevices() const { return m_bRememberDevices; }
    bool GetDesktopNotifications() const { return m_bDesktopNotifications; }
    std::string GetFleetFile() const { return m_strFleetFile; }
    unsigned GetColumns() const { return m_nColumns; }
    void SetRememberDevices(bool on) { m_bRememberDevices = on; }
    void SetDesktopNotifications(bool on) { m_bDesktopNotifications = on; }
    void SetFleetFile(const std::string& path) { m_strFleetFile = path; }
    void SetColumns(unsigned mask) { m_nColumns = mask; }

    static int ActionFromName(const std::string& name);
    static std::string ActionToName(int action);
    // "IP", "MAC", "Type", "Build" (any case); anything else is SORT_NONE, which has no name.
    static int SortColumnFromName(const std::string& name);
    static std::string SortColumnToName(int column);

private:
    CWinApp* m_pStore;
    std::string m_strTelnetPath;
    std::string m_strTelnetArgs;
    int m_nDoubleClick;
    int m_bAutoRefresh;
    int m_nSortColumn = SORT_NONE;
    bool m_bSortDescending = false;
    bool m_bSortInFile = false;  // the file names a known sort column
    bool m_bRememberDevices = false;
    bool m_bDesktopNotifications = false;
    std::string m_strFleetFile;
    unsigned m_nColumns = 0;
    bool m_bWindowKeysInFile = false;  // the file holds one of the four above
};
