#include "gui/framework/MessageBox.h"

#include <QMessageBox>

void ShowMessageBox(const std::string& caption, const std::string& text, MessageIcon icon) {
    QMessageBox box(icon == MessageIcon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon,
                    QString::fromStdString(caption), QString::fromStdString(text), QMessageBox::Ok);
    box.exec();
}
