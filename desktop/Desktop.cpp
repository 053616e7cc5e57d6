#include "desktop/Desktop.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>

#include <utility>

#include "log/Log.h"

namespace {

// Calls done from the event loop, as a watch's report would come.
void ReportLater(QObject* context, const std::string& program, ProgramEnd end, ProgramOutcome done) {
    QMetaObject::invokeMethod(
        context, [program, end = std::move(end), done = std::move(done)] { done(program, end); },
        Qt::QueuedConnection);
}

// How often a program without a pidfd is asked whether it has ended.
constexpr int kEndPollMs = 100;

// One started program, kept by the application until it has ended and been reaped, so the one
// who asked may go first. While the watch lasts, its end is reported; after that it is only reaped.
class CProgramWatch : public QObject {
public:
    CProgramWatch(StartedProgram program, std::string name, std::string commandLine, QObject* context,
                  ProgramOutcome done, int watchMs)
        : QObject(QCoreApplication::instance()),
          m_program(std::move(program)),
          m_strProgram(std::move(name)),
          m_strCommandLine(std::move(commandLine)),
          m_pContext(context),
          m_done(std::move(done)) {
        if (m_program.EndFd() >= 0) {
            m_notifier = new QSocketNotifier(m_program.EndFd(), QSocketNotifier::Read, this);
            connect(m_notifier, &QSocketNotifier::activated, this, [this] { OnEnded(); });
        } else {
            // No pidfd (a kernel before 5.3): the program is asked after now and then instead.
            connect(&m_poll, &QTimer::timeout, this, [this] { OnEnded(); });
            m_poll.start(kEndPollMs);
        }
        if (m_done) {
            m_watch.setSingleShot(true);
            connect(&m_watch, &QTimer::timeout, this, [this] { Report(ProgramEnd()); });
            m_watch.start(watchMs);
        }
    }

private:
    void OnEnded() {
        const ProgramEnd end = m_program.TakeEnd();
        if (end.kind == ProgramEnd::Kind::Running)
            return;
        if (m_notifier)
            m_notifier->setEnabled(false);
        m_poll.stop();
        if (m_watch.isActive())
            Report(end);
        deleteLater();
    }
    void Report(const ProgramEnd& end) {
        m_watch.stop();
        if (end.Failed())
            LogProgramFailure(m_strCommandLine, end);
        if (m_pContext)
            std::exchange(m_done, nullptr)(m_strProgram, end);
    }

    StartedProgram m_program;
    std::string m_strProgram;
    std::string m_strCommandLine;
    QPointer<QObject> m_pContext;
    ProgramOutcome m_done;
    QSocketNotifier* m_notifier = nullptr;  // on the pidfd, when there is one
    QTimer m_poll;                          // otherwise
    QTimer m_watch;
};

}  // namespace

void StartProgram(const std::vector<std::string>& argv, const std::string& commandLine, QObject* context,
                  ProgramOutcome done, int watchMs) {
    const std::string program = argv.empty() ? std::string() : argv.front();
    Result<StartedProgram> started = SpawnProgram(argv);
    if (!started) {
        LogStartFailure(commandLine, started.Error());
        ReportLater(context, program, {ProgramEnd::Kind::NotStarted, 0, started.Error()}, std::move(done));
        return;
    }
    new CProgramWatch(std::move(*started), program, commandLine, context, std::move(done), watchMs);
}

Failure LaunchCommandLine(const std::string& commandLine) {
    Result<StartedProgram> started = StartCommandLine(commandLine);
    if (!started)
        return started.Error();
    new CProgramWatch(std::move(*started), {}, commandLine, nullptr, nullptr, 0);
    return {};
}

void OpenWithDesktop(const QUrl& url, QObject* context, ProgramOutcome done) {
    const std::string opener = "xdg-open";
    if (!QStandardPaths::findExecutable(QString::fromStdString(opener)).isEmpty()) {
        const std::string address = url.toEncoded().toStdString();
        StartProgram({opener, address}, opener + " " + address, context, std::move(done));
        return;
    }
    ProgramEnd end;
    if (!QDesktopServices::openUrl(url)) {
        end = {ProgramEnd::Kind::NotStarted, 0, Failure(Errc::ProgramNotFound)};
        LogWrite(LOG_WARNING, "Could not open \"%s\": no program to open it", url.toEncoded().constData());
    } else {
        WarnStartedAsRoot(opener);
    }
    ReportLater(context, opener, std::move(end), std::move(done));
}

void OpenUrl(const std::string& address, QObject* context, ProgramOutcome done) {
    OpenWithDesktop(QUrl(QString::fromStdString(address)), context, std::move(done));
}

void StartInTerminalWatched(const std::string& commandLine, QObject* context, ProgramOutcome done) {
    const Result<std::vector<std::string>> argv = TerminalArgv(commandLine);
    if (argv) {
        StartProgram(*argv, commandLine, context, std::move(done));
        return;
    }
    // The program the user named, not the terminal it would have run in.
    const std::vector<std::string> words = SplitCommandLine(commandLine);
    ReportLater(context, words.empty() ? std::string() : words.front(),
                {ProgramEnd::Kind::NotStarted, 0, argv.Error()}, std::move(done));
}

void SetClipboardText(const std::string& text) {
    if (QClipboard* clipboard = QGuiApplication::clipboard())
        clipboard->setText(QString::fromStdString(text), QClipboard::Clipboard);
}
