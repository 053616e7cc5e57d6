#include "gui/app/SignalClose.h"

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <vector>

#include "log/Log.h"

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The handler's state: the pipe's write end (-1 while no object takes the signals), and whether
// a signal was taken since.
volatile sig_atomic_t g_nWriteFd = -1;
std::atomic_flag g_taken = ATOMIC_FLAG_INIT;

void OnSignal(int signo) {
    const int savedErrno = errno;
    // sigaction, raise and write are async-signal-safe, and so is the lock-free flag; nothing
    // else happens here.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    for (int s : kSignals)
        ::sigaction(s, &fallback, nullptr);
    // Two signals that were pending together can be taken by two threads at once, both before
    // either gave the default action back: the later one then ends the program itself. Raised
    // here, it waits for this handler's mask and then meets the default action.
    if (g_taken.test_and_set()) {
        ::raise(signo);
        errno = savedErrno;
        return;
    }
    const unsigned char byte = static_cast<unsigned char>(signo);
    if (g_nWriteFd >= 0) [[maybe_unused]]
        ssize_t ignored = ::write(g_nWriteFd, &byte, 1);
    errno = savedErrno;
}

}  // namespace

CSignalClose::CSignalClose() {
    if (::pipe2(m_fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        LogWrite(LOG_WARNING, "No pipe for the termination signals; they end the program at once");
        m_fds[0] = m_fds[1] = -1;
        return;
    }
    m_pNotifier = new QSocketNotifier(m_fds[0], QSocketNotifier::Read, this);
    connect(m_pNotifier, &QSocketNotifier::activated, this, [this] { OnPipeReadable(); });
    g_nWriteFd = m_fds[1];
    g_taken.clear();
    struct sigaction action {};
    action.sa_handler = OnSignal;
    // The three wait for each other, so the second always meets the default action.
    sigemptyset(&action.sa_mask);
    for (int s : kSignals)
        sigaddset(&action.sa_mask, s);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i)
        ::sigaction(kSignals[i], &action, &m_previous[i]);
}

CSignalClose::~CSignalClose() {
    if (m_fds[0] < 0)
        return;
    // A signal already taken keeps the default action it was given; one that never came goes
    // back to what it was.
    for (int i = 0; i < 3; ++i) {
        struct sigaction now {};
        if (::sigaction(kSignals[i], nullptr, &now) == 0 && now.sa_handler == OnSignal)
            ::sigaction(kSignals[i], &m_previous[i], nullptr);
    }
    g_nWriteFd = -1;
    delete m_pNotifier;
    ::close(m_fds[0]);
    ::close(m_fds[1]);
}

void CSignalClose::OnPipeReadable() {
    unsigned char byte = 0;
    bool got = false;
    while (::read(m_fds[0], &byte, 1) == 1) {
        got = true;
        if (m_nReceived == 0)
            m_nReceived = byte;
    }
    if (!got)
        return;
    LogWrite(LOG_INFO, "Signal %d: closing as Close does", m_nReceived);
    CloseAllWindows();
}

void CSignalClose::CloseAllWindows() {
    while (QWidget* popup = QApplication::activePopupWidget()) {
        if (!popup->close())
            break;
    }
    // The modal stack from the top: each reject ends that window's loop; the loops below end
    // as the calls return to them.
    std::vector<QPointer<QDialog>> rejected;
    for (;;) {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || std::find(rejected.begin(), rejected.end(), dialog) != rejected.end())
            break;
        rejected.emplace_back(dialog);
        dialog->reject();
    }
    for (QWidget* window : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<QDialog*>(window);
        if (dialog && dialog->isVisible())
            dialog->reject();
    }
}
