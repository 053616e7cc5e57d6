#include "AppTestSupport.h"

#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QTest>
#include <QWidget>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace apptest {

ModalScript::ModalScript(std::function<void(QWidget*)> script, std::chrono::milliseconds bound)
    : m_script(std::move(script)), m_deadline(std::chrono::steady_clock::now() + bound) {
    m_timer.setInterval(5);
    QObject::connect(&m_timer, &QTimer::timeout, this, [this] { Poll(); });
    m_timer.start();
}

ModalScript::~ModalScript() = default;

void CloseModal(QWidget* widget) {
    if (auto* dialog = qobject_cast<QDialog*>(widget))
        dialog->reject();
    else
        widget->close();
}

void ModalScript::Poll() {
    if (m_bBusy)
        return;
    // A popup menu opened from a modal window is the one that waits for the user.
    QWidget* modal = QApplication::activePopupWidget();
    if (!modal)
        modal = QApplication::activeModalWidget();
    if (!modal)
        return;
    if (std::chrono::steady_clock::now() > m_deadline) {
        CloseModal(modal);
        return;
    }
    if (std::find(m_handled.begin(), m_handled.end(), modal) != m_handled.end())
        return;
    m_handled.push_back(modal);
    m_seen.push_back(modal->metaObject()->className());
    m_bBusy = true;
    if (m_script)
        m_script(modal);
    m_bBusy = false;
    if (QApplication::activeModalWidget() == modal || QApplication::activePopupWidget() == modal)
        CloseModal(modal);
}

bool FakeProbe::GetSystemVersion(unsigned* major, unsigned* minor) {
    m_calls.push_back("version");
    if (!m_bVersionKnown)
        return false;
    *major = m_nMajor;
    *minor = m_nMinor;
    return true;
}

bool FakeProbe::HasRawSocketRights() {
    m_calls.push_back("rights");
    return m_bRights;
}

const std::string& ConfigHome() {
    static const std::string path = [] {
        const char* home = std::getenv("XDG_CONFIG_HOME");
        return std::string(home ? home : "");
    }();
    return path;
}

ScopedWorkDir::ScopedWorkDir() {
    m_previous = std::filesystem::current_path().string();
    std::filesystem::current_path(m_dir.path());
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(ConfigHome()) / "Quarrin-Velto Networks", ignored);
}

ScopedWorkDir::~ScopedWorkDir() {
    std::error_code ignored;
    std::filesystem::current_path(m_previous, ignored);
}

std::string ScopedWorkDir::ProfileFile(const std::string& name) const {
    return (std::filesystem::path(ConfigHome()) / "Quarrin-Velto Networks" / (name + ".conf")).string();
}

}  // namespace apptest
