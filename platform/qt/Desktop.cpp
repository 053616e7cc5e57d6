#include "platform/qt/Desktop.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QUrl>

#include "log/Log.h"
#include "platform/CommandLine.h"

bool OpenWithDesktop(const QUrl& url) {
    if (!QDesktopServices::openUrl(url))
        return false;
    WarnStartedAsRoot("xdg-open");
    return true;
}

bool OpenUrl(const std::string& address) {
    if (OpenWithDesktop(QUrl(QString::fromStdString(address))))
        return true;
    LogWrite(LOG_WARNING, "Could not open \"%s\": no program to open it", address.c_str());
    return false;
}

void SetClipboardText(const std::string& text) {
    if (QClipboard* clipboard = QGuiApplication::clipboard())
        clipboard->setText(QString::fromStdString(text), QClipboard::Clipboard);
}
