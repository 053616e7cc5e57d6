#include "gui/settings/FileChooser.h"

#include <QFileDialog>

#include <filesystem>
#include <system_error>

std::string ChooseFile(QFileDialog& chooser) {
    std::error_code ec;
    const std::filesystem::path workingDir = std::filesystem::current_path(ec);
    const bool chosen = chooser.exec() == QDialog::Accepted && !chooser.selectedFiles().isEmpty();
    if (!ec && std::filesystem::current_path(ec) != workingDir)
        std::filesystem::current_path(workingDir, ec);
    return chosen ? chooser.selectedFiles().constFirst().toStdString() : std::string();
}
