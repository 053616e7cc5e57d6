#include "res/StringTable.h"

#include "res/Resource.h"
#include "res/Translation.h"

#include <algorithm>

namespace {

struct StringEntry {
    unsigned id;
    const char* text;
};

// Sorted by id.
constexpr StringEntry kStrings[] = {
    {IDS_ABOUTBOX, QT_TRANSLATE_NOOP("StringTable", "&About OLDiscovery...")},
    // %1 is the program file's path, ready to paste into a shell.
    {IDS_NEED_ADMIN,
     QT_TRANSLATE_NOOP("StringTable",
                       "To find devices this program needs the raw network right (cap_net_raw).\n"
                       "Run it as root, or grant the right once: sudo setcap cap_net_raw+p %1")},
    {IDS_NEED_WIN2K,
     QT_TRANSLATE_NOOP(
         "StringTable",
         "This application is not compatible with your operating system. Please use Windows 2000 or "
         "newer.")},
    {IDS_NO_SCAN_THREAD,
     QT_TRANSLATE_NOOP("StringTable", "Can't start background scanning thread. Application is aborted.")},
    {IDS_COLUMN_IP, QT_TRANSLATE_NOOP("StringTable", "IP Address")},
    {IDS_COLUMN_MAC, QT_TRANSLATE_NOOP("StringTable", "MAC Address")},
    {IDS_COLUMN_TYPE, QT_TRANSLATE_NOOP("StringTable", "Device Type")},
    {IDS_COLUMN_BUILD, QT_TRANSLATE_NOOP("StringTable", "Build")},
    {IDS_HINT_BROWSER, QT_TRANSLATE_NOOP("StringTable",
                                         "Double click an entry to get to the web interface.\n"
                                         "Right click on an entry to see additional connection options.")},
    {IDS_HINT_TELNET, QT_TRANSLATE_NOOP("StringTable",
                                        "Double click an entry to open a Telnet session.\n"
                                        "Right click on an entry to see additional connection options.")},
    {IDS_HINT_COPYIP, QT_TRANSLATE_NOOP("StringTable",
                                        "Double click an entry to copy the IP address to the clipboard.\n"
                                        "Right click on an entry to see additional connection options.")},
    {IDS_WEB_ADDRESS, QT_TRANSLATE_NOOP("StringTable", "www.quarrin-velto.example")},
    {IDS_MAKER_ADDRESS,
     QT_TRANSLATE_NOOP("StringTable", "Quarrin-Velto Networks\nHarbour Street 12\n24103 Kiel, Germany")},
    {IDS_DEVELOPMENT, QT_TRANSLATE_NOOP("StringTable", "Development :")},
    {IDS_APP_TITLE, QT_TRANSLATE_NOOP("StringTable", "Orvalink Discovery Tool")},
    {IDS_LIST_TITLE, QT_TRANSLATE_NOOP("StringTable", "Available Orvalinks")},
    {IDS_COPYRIGHT, QT_TRANSLATE_NOOP("StringTable", "Copyright : ")},
    {IDS_NEED_LINUX,
     QT_TRANSLATE_NOOP(
         "StringTable",
         "This application is not compatible with your operating system. Please use Linux 3.10 or "
         "newer.")},
    {IDS_SYSMENU_MINIMIZE, QT_TRANSLATE_NOOP("StringTable", "Mi&nimize")},
    {IDS_SYSMENU_CLOSE, QT_TRANSLATE_NOOP("StringTable", "&Close")},
    {IDS_SYSMENU_TIP, QT_TRANSLATE_NOOP("StringTable", "System menu")},
    {IDS_SELECT_TELNET, QT_TRANSLATE_NOOP("StringTable", "Select Telnet Application")},
    // Linux programs carry no extension, so the one type lists every file.
    {IDS_ALL_FILES, QT_TRANSLATE_NOOP("StringTable", "All files (*)")},
    {IDS_SAVE_LIST, QT_TRANSLATE_NOOP("StringTable", "Save list...")},
    {IDS_SAVE_LIST_TITLE, QT_TRANSLATE_NOOP("StringTable", "Save List")},
    {IDS_CSV_FILES, QT_TRANSLATE_NOOP("StringTable", "CSV files (*.csv)")},
    {IDS_JSON_FILES, QT_TRANSLATE_NOOP("StringTable", "JSON files (*.json)")},
    {IDS_SAVE_FAILED, QT_TRANSLATE_NOOP("StringTable", "The list could not be saved to %1:\n%2")},
    {IDS_LOCATE_REFUSED,
     QT_TRANSLATE_NOOP("StringTable",
                       "No locate request was sent: %1.\nLocate asks one device to make itself known.")},
    {IDS_DEVICE_COUNT, QT_TRANSLATE_NOOP("StringTable", "%1 devices")},
    {IDS_ONE_DEVICE, QT_TRANSLATE_NOOP("StringTable", "1 device")},
    {IDS_FILTERED_COUNT, QT_TRANSLATE_NOOP("StringTable", "%1 of %2 devices")},
    {IDS_LAST_SCAN, QT_TRANSLATE_NOOP("StringTable", "Last scan %1")},
    {IDS_LAST_SCAN_INCOMPLETE,
     QT_TRANSLATE_NOOP("StringTable", "Last scan %1 stopped at its time limit: the list may be incomplete")},
    {IDS_LAST_SCAN_LOST,
     QT_TRANSLATE_NOOP("StringTable",
                       "Last scan %1 lost answers to a full receive queue: the list may be incomplete")},
    {IDS_LAST_SCAN_INTERFACE_LOST,
     QT_TRANSLATE_NOOP("StringTable",
                       "Last scan %1 ran while an interface went away or down: the list may be wrong")},
    {IDS_SCANNING, QT_TRANSLATE_NOOP("StringTable", "Scanning\u2026")},
    {IDS_START_FAILED, QT_TRANSLATE_NOOP("StringTable", "Could not start %1: %2")},
    {IDS_PROGRAM_FAILED, QT_TRANSLATE_NOOP("StringTable", "%1 failed: %2")},
    {IDS_EXIT_STATUS, QT_TRANSLATE_NOOP("StringTable", "exit status %1")},
    {IDS_EXIT_SIGNAL, QT_TRANSLATE_NOOP("StringTable", "ended by signal %1")},
    {IDS_FIND, QT_TRANSLATE_NOOP("StringTable", "&Find...")},
    {IDS_FILTER_NAME, QT_TRANSLATE_NOOP("StringTable", "Filter")},
    {IDS_FILTER_HINT, QT_TRANSLATE_NOOP("StringTable", "Filter by IP, MAC, type or build")},
    {IDS_STATUS_NAME, QT_TRANSLATE_NOOP("StringTable", "Status")},
    {IDS_COLUMN_NAME, QT_TRANSLATE_NOOP("StringTable", "Name")},
    {IDS_COLUMN_INTERFACE, QT_TRANSLATE_NOOP("StringTable", "Interface")},
    {IDS_COLUMN_LAST_SEEN, QT_TRANSLATE_NOOP("StringTable", "Last seen")},
    {IDS_COLUMN_APPROVED, QT_TRANSLATE_NOOP("StringTable", "Approved build")},
    {IDS_ROW_MARKED, QT_TRANSLATE_NOOP("StringTable", "%1 (%2)")},
    {IDS_MARK_MISSING, QT_TRANSLATE_NOOP("StringTable", "last seen %1")},
    {IDS_MARK_NEW, QT_TRANSLATE_NOOP("StringTable", "new")},
    {IDS_APPROVED_YES, QT_TRANSLATE_NOOP("StringTable", "yes")},
    {IDS_APPROVED_NO, QT_TRANSLATE_NOOP("StringTable", "no")},
    {IDS_FORGET_DEVICE, QT_TRANSLATE_NOOP("StringTable", "Forget device")},
    {IDS_MEMORY_FAILED, QT_TRANSLATE_NOOP("StringTable", "The known devices cannot be kept in %1: %2")},
    {IDS_FLEET_FAILED,
     QT_TRANSLATE_NOOP("StringTable", "The fleet file %1 was not taken, the last good one stays: %2")},
    {IDS_NOTE_NEW, QT_TRANSLATE_NOOP("StringTable", "New device: %1")},
    {IDS_NOTE_NEW_MANY, QT_TRANSLATE_NOOP("StringTable", "%1 new devices")},
    {IDS_NOTE_GONE, QT_TRANSLATE_NOOP("StringTable", "Device gone: %1")},
    {IDS_NOTE_GONE_MANY, QT_TRANSLATE_NOOP("StringTable", "%1 devices gone")},
    {IDS_NOTE_BUILD, QT_TRANSLATE_NOOP("StringTable", "Build not approved: %1")},
    {IDS_NOTE_BUILD_MANY, QT_TRANSLATE_NOOP("StringTable", "%1 devices with a build not approved")},
};

}  // namespace

bool SameName(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return std::ranges::equal(a, b, [&](char x, char y) { return lower(x) == lower(y); });
}

std::string LoadString(unsigned id) {
    for (const StringEntry& entry : kStrings) {
        if (entry.id == id)
            return Translated("StringTable", entry.text);
    }
    return {};
}

std::string FormatString1(unsigned id, const std::string& argument) {
    // "%2" stands for itself: only "%1" is replaced.
    return FormatString2(id, argument, "%2");
}

std::string FormatString2(unsigned id, const std::string& first, const std::string& second) {
    std::string text = LoadString(id);
    // One pass from left to right, so neither argument is searched for placeholders.
    for (size_t at = text.find('%'); at != std::string::npos && at + 1 < text.size();
         at = text.find('%', at)) {
        const std::string* argument = text[at + 1] == '1' ? &first : text[at + 1] == '2' ? &second : nullptr;
        if (!argument) {
            ++at;
            continue;
        }
        text.replace(at, 2, *argument);
        at += argument->size();
    }
    return text;
}
