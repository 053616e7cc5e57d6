#pragma once
// Points every settings profile of the test process at a fresh temporary folder, so no test
// ever reads or writes the user's own configuration.
#include "TestSupport.h"

#include <QSettings>
#include <QString>

#include <fstream>
#include <string>

class ProfileSandbox {
public:
    ProfileSandbox() {
        const QString dir = QString::fromStdString(m_dir.path().string());
        // On Linux the native format is the INI file; both are redirected to be safe.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir);
    }

    std::string Folder() const { return m_dir.path().string(); }
    std::string ProfileFile(const std::string& company = "Quarrin-Velto Networks",
                            const std::string& app = "OLDiscovery") const {
        return m_dir.file(company) + "/" + app + ".conf";
    }
    // Writes the file as an administrator would with an editor.
    void WriteText(const std::string& path, const std::string& text) const {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << text;
    }
    std::string ReadText(const std::string& path) const { return testsupport::ReadFileBytes(path); }

private:
    testsupport::TempDir m_dir;
};
