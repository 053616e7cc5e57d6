// Saving the main dialog's device list as a file in the formats of oldiscovery-scan.
#include "gui/app/OLDiscoveryDlg.h"

#include <QFileDialog>

#include <sys/types.h>

#include <filesystem>
#include <string_view>
#include <vector>

#include "engine/Orvalink.h"
#include "formats/ScanOutput.h"
#include "log/Log.h"
#include "base/SafeFile.h"
#include "gui/framework/MessageBox.h"
#include "gui/framework/ProfileWriter.h"
#include "gui/framework/WinApp.h"
#include "res/FailureText.h"
#include "res/Resource.h"
#include "res/StringTable.h"
#include "gui/settings/DialogTemplate.h"
#include "gui/settings/FileChooser.h"

namespace {

bool EndsWithNoCase(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && SameName(text.substr(text.size() - end.size()), end);
}

// A replaced file keeps its permissions; a new one gets what the user's umask leaves of
// rw-rw-rw-, as any file the user saves.
mode_t ModeForSavedFile(const std::string& path) {
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(path, ec);
    if (!ec && std::filesystem::is_regular_file(status))
        return static_cast<mode_t>(status.permissions() & std::filesystem::perms::all);
    return NewFileMode();
}

}  // namespace

ListFormat ListFormatFor(const std::string& path, ListFormat chosenType) {
    if (EndsWithNoCase(path, ".json"))
        return ListFormat::Json;
    if (EndsWithNoCase(path, ".csv"))
        return ListFormat::Csv;
    return chosenType;
}

void COLDiscoveryDlg::OnSaveList() {
    const QString csvType = Text(LoadString(IDS_CSV_FILES));
    const QString jsonType = Text(LoadString(IDS_JSON_FILES));
    QFileDialog chooser(this, Text(LoadString(IDS_SAVE_LIST_TITLE)));
    chooser.setAcceptMode(QFileDialog::AcceptSave);
    chooser.setFileMode(QFileDialog::AnyFile);
    chooser.setNameFilters({csvType, jsonType});
    chooser.setDefaultSuffix(QStringLiteral("csv"));
    connect(&chooser, &QFileDialog::filterSelected, &chooser, [&](const QString& type) {
        chooser.setDefaultSuffix(type == jsonType ? QStringLiteral("json") : QStringLiteral("csv"));
    });
    const std::string path = ChooseFile(chooser);
    const ListFormat type = chooser.selectedNameFilter() == jsonType ? ListFormat::Json : ListFormat::Csv;
    if (!path.empty())
        SaveList(path, ListFormatFor(path, type));
}

bool COLDiscoveryDlg::SaveList(const std::string& path, ListFormat format) {
    const std::vector<COrvalink> devices = m_listDevices->DevicesShown();
    const std::string data = format == ListFormat::Json ? FormatJson(devices) : FormatCsv(devices);
    if (const Failure failed = WriteFileAtomically(path, data, ModeForSavedFile(path))) {
        const std::string reason = FailureText(failed);
        LogWrite(LOG_WARNING, "Could not save the list to %s: %s", path.c_str(), reason.c_str());
        ShowMessageBox(Profile() ? Profile()->AppName() : std::string(),
                       FormatString2(IDS_SAVE_FAILED, path, reason), MessageIcon::Warning);
        return false;
    }
    LogWrite(LOG_INFO, "Saved the list (%zu rows) to %s", devices.size(), path.c_str());
    return true;
}
