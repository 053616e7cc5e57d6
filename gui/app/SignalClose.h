#pragma once
// SIGTERM, SIGINT and SIGHUP (a session ending, kill, Ctrl+C) end the program as Close does:
// the handler only writes to a pipe; the event loop reads it and closes every open window as
// Cancel, so the run ends the usual way (preferences and placement saved, scan thread stopped,
// exit status 0). The first signal gives the three back their default action, so a second one
// ends the program at once.
#include <QObject>

#include <csignal>

class QSocketNotifier;

class CSignalClose : public QObject {
public:
    // Takes the three signals until destroyed; needs the toolkit's application object. At most
    // one exists at a time.
    CSignalClose();
    ~CSignalClose() override;
    CSignalClose(const CSignalClose&) = delete;
    CSignalClose& operator=(const CSignalClose&) = delete;

    // Closes popup menus, then every visible dialog as Cancel, innermost first.
    static void CloseAllWindows();

private:
    void OnPipeReadable();

    int m_fds[2] = {-1, -1};
    QSocketNotifier* m_pNotifier = nullptr;
    struct sigaction m_previous[3]{};
    int m_nReceived = 0;  // the first signal taken
};
