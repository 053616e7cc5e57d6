#include "platform/qt/MessageBox.h"

#include <QMessageBox>

#include "platform/qt/WinApp.h"

int AfxMessageBox(const std::string& text, unsigned type) {
    CWinApp* app = AfxGetApp();
    QString caption = app ? QString::fromStdString(app->AppName()) : QString();
    QMessageBox box((type & 0xF0) == MB_ICONEXCLAMATION ? QMessageBox::Warning : QMessageBox::NoIcon, caption,
                    QString::fromStdString(text), QMessageBox::Ok);
    box.exec();
    return 1;
}
