#include "gui/framework/WinApp.h"

#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVariant>

#include "log/Log.h"
#include "base/DecimalText.h"
#include "base/ProgramFile.h"
#include "gui/framework/ProfileWriter.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <memory>
#include <sys/stat.h>
#include <vector>

namespace {

std::string ProgramBaseName() {
    const Result<std::string> program = GetProgramFilePath();
    const std::string path = program ? *program : std::string();
    std::string name = path.substr(path.find_last_of('/') + 1);
    std::string::size_type dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0)
        name.resize(dot);
    return name;
}

QString Q(const char* s) {
    return QString::fromUtf8(s ? s : "");
}

// On Linux the native format is an INI file named <application>.conf in the user's config
// folder; without a company key the file is <config>/<application>.conf.
std::unique_ptr<QSettings> OpenProfile(const std::string& company, const std::string& app) {
    if (company.empty())
        return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, Q(app.c_str()),
                                           QString());
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, Q(company.c_str()),
                                       Q(app.c_str()));
}

// Registry names are case-insensitive: find the spelling that already stands in the file.
QString ExistingName(const QStringList& names, const QString& wanted) {
    if (names.contains(wanted))
        return wanted;
    for (const QString& n : names) {
        if (n.compare(wanted, Qt::CaseInsensitive) == 0)
            return n;
    }
    return wanted;
}

QString ResolveKey(QSettings& s, const char* section, const char* entry) {
    QString group = ExistingName(s.childGroups(), Q(section));
    s.beginGroup(group);
    QString key = ExistingName(s.childKeys(), Q(entry));
    s.endGroup();
    return group + QLatin1Char('/') + key;
}

// An unquoted comma in a hand-edited value makes the INI reader split it into a list.
std::string VariantText(const QVariant& v) {
    if (v.typeId() == QMetaType::QStringList)
        return v.toStringList().join(QLatin1Char(',')).toStdString();
    return v.toString().toStdString();
}

bool ParseInt(const std::string& text, int* out) {
    std::string_view rest(text.c_str());  // up to a NUL, should one have come in
    long long v = 0;
    if (!ReadDecimal(rest, v))
        return false;
    rest.remove_prefix(std::min(rest.find_first_not_of(" \t"), rest.size()));
    if (!rest.empty())
        return false;
    // The store's numbers are 32-bit; unsigned values above INT_MAX wrap like a DWORD read as int.
    if (v < INT_MIN || v > static_cast<long long>(UINT_MAX))
        return false;
    *out = static_cast<int>(static_cast<unsigned>(v));
    return true;
}

// The folder the user-scope profiles live in, as QSettings resolves it (QSettings::setPath
// included). Asked of a profile under a name no file has, so nothing is read that could block.
std::string UserProfileFolder() {
    const QString probe = QStringLiteral("OLDiscovery-profile-folder-probe");
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, probe, QStringLiteral("x"));
    QString file = settings.fileName();
    int at = file.lastIndexOf(QLatin1Char('/') + probe + QLatin1Char('/'));
    return at < 0 ? std::string() : file.left(at).toStdString();
}

// A path that exists and is anything but a regular file (after symbolic links).
bool ExistsButNotRegular(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
}

}  // namespace

CWinApp::CWinApp(const char* appName) {
    m_strAppName = (appName && *appName) ? appName : ProgramBaseName();
}

CWinApp::~CWinApp() = default;

bool CWinApp::ProfileUsable() {
    const std::string folder = UserProfileFolder();
    if (folder.empty())
        return true;
    // The files QSettings reads: the application's own, and the company-wide one beside it.
    std::vector<std::string> files;
    if (m_strRegistryKey.empty()) {
        files.push_back(folder + "/" + m_strAppName + ".conf");
    } else {
        files.push_back(folder + "/" + m_strRegistryKey + "/" + m_strAppName + ".conf");
        files.push_back(folder + "/" + m_strRegistryKey + ".conf");
    }
    for (const std::string& file : files) {
        if (!ExistsButNotRegular(file))
            continue;
        if (m_strProfileWarning.empty()) {
            m_strProfileWarning = "Settings file " + file + " is not a regular file; the defaults are used";
            LogWrite(LOG_WARNING, "%s", m_strProfileWarning.c_str());
        }
        return false;
    }
    return true;
}

bool CWinApp::SaveProfile(const QSettings& profile, const std::vector<ProfileEdit>& edits) {
    const std::string path = profile.fileName().toStdString();
    const std::string reason = SaveProfileFile(path, edits);
    if (reason.empty()) {
        m_strSaveWarning.clear();
        return true;
    }
    // Once per cause: a shutdown saves several times, each would fail the same way. The reason
    // comes first, where the log's line length cannot cut it off.
    std::string warning = "Settings file not saved (" + reason + "): " + path;
    if (warning != m_strSaveWarning) {
        m_strSaveWarning = std::move(warning);
        LogWrite(LOG_WARNING, "%s", m_strSaveWarning.c_str());
        std::fprintf(stderr, "%s: Warning: %s\n", m_strAppName.c_str(), m_strSaveWarning.c_str());
    }
    return false;
}

CProfileLoad::CProfileLoad(CWinApp* app) {
    if (app && app->ProfileUsable())
        m_profile = OpenProfile(app->m_strRegistryKey, app->m_strAppName);
}

CProfileLoad::~CProfileLoad() = default;

std::string CProfileLoad::GetString(const char* section, const char* entry, const char* defaultValue) {
    std::string fallback = defaultValue ? defaultValue : "";
    if (!section || !entry || !m_profile)
        return fallback;
    QVariant v = m_profile->value(ResolveKey(*m_profile, section, entry));
    if (!v.isValid())
        return fallback;
    return VariantText(v);
}

int CProfileLoad::GetInt(const char* section, const char* entry, int defaultValue) {
    if (!section || !entry || !m_profile)
        return defaultValue;
    QVariant v = m_profile->value(ResolveKey(*m_profile, section, entry));
    int n = 0;
    if (!v.isValid() || !ParseInt(VariantText(v), &n))
        return defaultValue;
    return n;
}

CProfileSave::CProfileSave(CWinApp& app) : m_app(app) {}

CProfileSave::~CProfileSave() = default;

bool CProfileSave::WriteString(const char* section, const char* entry, const char* value) {
    if (!section || m_bRefused) {
        m_bRefused = true;
        return false;
    }
    // The file is opened (and checked) once, by the first change.
    if (!m_profile) {
        if (!m_app.ProfileUsable()) {
            m_bRefused = true;
            return false;
        }
        m_profile = OpenProfile(m_app.m_strRegistryKey, m_app.m_strAppName);
    }
    QSettings& s = *m_profile;
    ProfileEdit edit;
    if (!entry) {
        edit.key = ExistingName(s.childGroups(), Q(section));
        if (!s.childGroups().contains(edit.key))
            return true;
    } else {
        edit.key = ResolveKey(s, section, entry);
        const QVariant stored = s.value(edit.key);
        // What is already there is not written again: a value nobody changed keeps its bytes.
        if (!value ? !stored.isValid() : stored.isValid() && VariantText(stored) == value)
            return true;
        if (value)
            edit.value = Q(value);
    }
    m_edits.push_back(std::move(edit));
    return true;
}

bool CProfileSave::WriteInt(const char* section, const char* entry, int value) {
    if (!entry) {
        m_bRefused = true;
        return false;
    }
    return WriteString(section, entry, std::to_string(value).c_str());
}

bool CProfileSave::Commit() {
    if (m_bRefused)
        return false;
    if (m_edits.empty())
        return true;
    const bool saved = m_app.SaveProfile(*m_profile, m_edits);
    m_edits.clear();
    return saved;
}
