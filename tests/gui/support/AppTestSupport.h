#pragma once
// Helpers for the application and main-dialog tests: a scripted stand-in for the user at
// modal windows, a system probe double, and a private working folder for "debug.log".
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include <QObject>
#include <QTimer>
#include <QUrl>

#include "gui/app/SystemProbe.h"
#include "GuiWait.h"
#include "TestSupport.h"

class QWidget;

namespace apptest {

// Stands in for the desktop's URL opener (QDesktopServices::setUrlHandler with "Open"): records
// every address it is asked to open.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    Q_INVOKABLE void Open(const QUrl& url) { urls.push_back(url.toString().toStdString()); }
    std::vector<std::string> urls;
};

// Acts at every modal window and popup menu that opens while it lives: calls the script with it once, then
// closes it if the script left it open. Modal windows still open after the bound are closed as
// well, so a test never blocks.
class ModalScript : public QObject {
public:
    explicit ModalScript(std::function<void(QWidget*)> script,
                         std::chrono::milliseconds bound = std::chrono::seconds(30));
    ~ModalScript() override;
    // Class names of the modal windows seen, in order.
    const std::vector<std::string>& Seen() const { return m_seen; }

private:
    void Poll();

    std::function<void(QWidget*)> m_script;
    QTimer m_timer;
    std::chrono::steady_clock::time_point m_deadline;
    std::vector<QWidget*> m_handled;
    std::vector<std::string> m_seen;
    bool m_bBusy = false;
};

// Closes a modal window the way the user's Escape does.
void CloseModal(QWidget* widget);

// Bounded wait that keeps the event loop running.
using guitest::WaitUntil;

class FakeProbe : public ISystemProbe {
public:
    bool GetSystemVersion(unsigned* major, unsigned* minor) override;
    bool HasRawSocketRights() override;

    bool m_bVersionKnown = true;
    unsigned m_nMajor = 6;
    unsigned m_nMinor = 1;
    bool m_bRights = true;
    std::vector<std::string> m_calls;
};

// Runs the test inside a fresh folder (the log's "debug.log" lands there) and points the
// settings profile at a fresh config folder.
class ScopedWorkDir {
public:
    ScopedWorkDir();
    ~ScopedWorkDir();
    std::string File(const std::string& name) const { return m_dir.file(name); }
    // The profile file of an application named name under the company key.
    std::string ProfileFile(const std::string& name) const;

private:
    testsupport::TempDir m_dir;
    std::string m_previous;
};

// The config folder every test of the process uses (XDG_CONFIG_HOME is read once by Qt, so
// AppTestMain sets it before anything else runs).
const std::string& ConfigHome();

}  // namespace apptest
