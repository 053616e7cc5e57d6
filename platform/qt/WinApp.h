#pragma once
// The application object of the framework: its name, its settings profile (QSettings, INI
// file under the user's config folder, organisation = registry key, application = name).
#include <span>
#include <string>
#include <vector>

class QSettings;
struct ProfileEdit;

class CWinApp {
public:
    // appName null: the base name of the program file (for the released program "OLDiscovery").
    explicit CWinApp(const char* appName = nullptr);
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual bool InitInstance() { return false; }

    // Company key; from then on the profile functions use
    // $XDG_CONFIG_HOME/<company>/<application name>.conf.
    void SetRegistryKey(const char* company);

    std::string GetProfileString(const char* section, const char* entry, const char* defaultValue);
    int GetProfileInt(const char* section, const char* entry, int defaultValue);
    bool WriteProfileString(const char* section, const char* entry, const char* value);
    bool WriteProfileInt(const char* section, const char* entry, int value);
    // Several integers of one section, written to the file with one save: what ten
    // WriteProfileInt calls would leave there, without opening and saving it ten times.
    struct ProfileInt {
        const char* entry;
        int value;
    };
    bool WriteProfileInts(const char* section, std::span<const ProfileInt> values);

    const std::string& AppName() const { return m_strAppName; }
    // The Warning text of the first profile access refused because a settings file is not a
    // regular file (empty when none was); it is written to the log when it happens.
    const std::string& ProfileWarning() const { return m_strProfileWarning; }
    const std::string& RegistryKey() const { return m_strRegistryKey; }
    // The Warning of the last failed save (empty once a save succeeds): why the file was not
    // written, and the file. It also goes to the log and to stderr, once for each new cause.
    const std::string& ProfileSaveWarning() const { return m_strSaveWarning; }

protected:
    std::string m_strAppName;
    std::string m_strRegistryKey;

private:
    // False, with a Warning once per object, when a settings file the profile would read exists
    // but is not a regular file: a FIFO would block the reader, a device would never end.
    bool ProfileUsable();
    // Stores the edits in the profile's own file (never through a link, never into another
    // user's file, never half written); a failure is reported.
    bool SaveProfile(const QSettings& profile, const std::vector<ProfileEdit>& edits);
    std::string m_strProfileWarning;
    std::string m_strSaveWarning;
};

// The program's application object (the last CWinApp constructed and not yet destroyed), or null.
CWinApp* AfxGetApp();
