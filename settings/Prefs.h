#pragma once
// The user's four preferences in memory, loaded from and saved to the settings profile.
#include <string>

constexpr int ACTION_BROWSER = 0;
constexpr int ACTION_TELNET = 1;
constexpr int ACTION_COPYIP = 2;

class CPrefs {
public:
    CPrefs();
    virtual ~CPrefs();

    void Load();
    void Save();

    std::string GetTelnetPath() const { return m_strTelnetPath; }
    std::string GetTelnetArgs() const { return m_strTelnetArgs; }
    int GetDoubleClickAction() const { return m_nDoubleClick; }
    bool GetAutoRefresh() const { return m_bAutoRefresh != 0; }
    void SetTelnetPath(const std::string& path) { m_strTelnetPath = path; }
    void SetTelnetArgs(const std::string& args) { m_strTelnetArgs = args; }
    void SetDoubleClickAction(int action) { m_nDoubleClick = action; }
    void SetAutoRefresh(bool on) { m_bAutoRefresh = on ? 1 : 0; }

    static int ActionFromName(const std::string& name);
    static std::string ActionToName(int action);

private:
    std::string m_strTelnetPath;
    std::string m_strTelnetArgs;
    int m_nDoubleClick;
    int m_bAutoRefresh;
};
