#pragma once
// The application object of the framework: its name, its settings profile (QSettings, INI
// file under the user's config folder, organisation = registry key, application = name).
#include <memory>
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

    // Company key; from then on CProfileLoad and CProfileSave use
    // $XDG_CONFIG_HOME/<company>/<application name>.conf.
    void SetRegistryKey(const char* company) { m_strRegistryKey = company ? company : ""; }

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
    friend class CProfileLoad;
    friend class CProfileSave;
    // False, with a Warning once per object, when a settings file the profile would read exists
    // but is not a regular file: a FIFO would block the reader, a device would never end.
    bool ProfileUsable();
    // Stores the edits in the profile's own file (never through a link, never into another
    // user's file, never half written); a failure is reported.
    bool SaveProfile(const QSettings& profile, const std::vector<ProfileEdit>& edits);
    std::string m_strProfileWarning;
    std::string m_strSaveWarning;
};

// One read of the profile: the file is opened once for every value asked of it.
class CProfileLoad {
public:
    // app null: no profile, every value is its default.
    explicit CProfileLoad(CWinApp* app);
    ~CProfileLoad();
    CProfileLoad(const CProfileLoad&) = delete;
    CProfileLoad& operator=(const CProfileLoad&) = delete;

    std::string GetString(const char* section, const char* entry, const char* defaultValue);
    int GetInt(const char* section, const char* entry, int defaultValue);

private:
    std::unique_ptr<QSettings> m_profile;  // null: the file is unusable, the defaults hold
};

// One save of the profile: the changes are gathered and Commit writes the file once, as saving
// each on its own in turn would have left it.
class CProfileSave {
public:
    explicit CProfileSave(CWinApp& app);
    ~CProfileSave();
    CProfileSave(const CProfileSave&) = delete;
    CProfileSave& operator=(const CProfileSave&) = delete;

    // No entry: the whole section goes. False for a missing name or an unusable file.
    bool WriteString(const char* section, const char* entry, const char* value);
    bool WriteInt(const char* section, const char* entry, int value);
    // True when the file holds every change (nothing to write counts); false when a change was
    // refused or the save failed.
    bool Commit();

private:
    CWinApp& m_app;
    std::unique_ptr<QSettings> m_profile;
    std::vector<ProfileEdit> m_edits;
    bool m_bRefused = false;
};
