#include "desktop/Desktop.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <QStandardPaths>
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

// One started program's watch: the watcher's report arrives on a descriptor. It belongs to the
// application, so the watcher is reaped even when the one who asked has gone.
class CProgramWatch : public QObject {
public:
    CProgramWatch(ProgramWatch watch, std::string program, std::string commandLine, QObject* context,
                  ProgramOutcome done)
        : QObject(QCoreApplication::instance()),
          m_watch(watch),
          m_strProgram(std::move(program)),
          m_strCommandLine(std::move(commandLine)),
          m_pContext(context),
          m_done(std::move(done)),
          m_notifier(watch.reportFd, QSocketNotifier::Read, this) {
        connect(&m_notifier, &QSocketNotifier::activated, this, [this] { OnReport(); });
    }

private:
    void OnReport() {
        m_notifier.setEnabled(false);
        const ProgramEnd end = FinishWatch(m_watch);
        if (end.Failed())
            LogProgramFailure(m_strCommandLine, end);
        if (m_pContext)
            m_done(m_strProgram, end);
        deleteLater();
    }

    ProgramWatch m_watch;
    std::string m_strProgram;
    std::string m_strCommandLine;
    QPointer<QObject> m_pContext;
    ProgramOutcome m_done;
    QSocketNotifier m_notifier;
};

}  // namespace

void StartProgram(const std::vector<std::string>& argv, const std::string& commandLine, QObject* context,
                  ProgramOutcome done) {
    const std::string program = argv.empty() ? std::string() : argv.front();
    ProgramWatch watch;
    std::string reason;
    if (!StartWatched(argv, kProgramWatchMs, &watch, &reason)) {
        LogStartFailure(commandLine, reason);
        ReportLater(context, program, {ProgramEnd::Kind::NotStarted, 0, reason}, std::move(done));
        return;
    }
    new CProgramWatch(watch, program, commandLine, context, std::move(done));
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
        end = {ProgramEnd::Kind::NotStarted, 0, "not found"};
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
    std::vector<std::string> argv;
    std::string reason;
    if (TerminalArgv(commandLine, &argv, &reason)) {
        StartProgram(argv, commandLine, context, std::move(done));
        return;
    }
    // The program the user named, not the terminal it would have run in.
    const std::vector<std::string> words = SplitCommandLine(commandLine);
    ReportLater(context, words.empty() ? std::string() : words.front(),
                {ProgramEnd::Kind::NotStarted, 0, reason}, std::move(done));
}

void SetClipboardText(const std::string& text) {
    if (QClipboard* clipboard = QGuiApplication::clipboard())
        clipboard->setText(QString::fromStdString(text), QClipboard::Clipboard);
}
