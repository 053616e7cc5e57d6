#include "res/StringTable.h"

#include "res/Resource.h"

#include <algorithm>

namespace {

struct StringEntry {
    unsigned id;
    const char* text;
};

// Sorted by id.
constexpr StringEntry kStrings[] = {
    {IDS_ABOUTBOX, "&About OLDiscovery..."},
    // %1 is the program file's path, ready to paste into a shell.
    {IDS_NEED_ADMIN,
     "To find devices this program needs the raw network right (cap_net_raw).\n"
     "Run it as root, or grant the right once: sudo setcap cap_net_raw+p %1"},
    {IDS_NEED_WIN2K,
     "This application is not compatible with your operating system. Please use Windows 2000 or "
     "newer."},
    {IDS_NO_SCAN_THREAD, "Can't start background scanning thread. Application is aborted."},
    {IDS_COLUMN_IP, "IP Address"},
    {IDS_COLUMN_MAC, "MAC Address"},
    {IDS_COLUMN_TYPE, "Device Type"},
    {IDS_COLUMN_BUILD, "Build"},
    {IDS_HINT_BROWSER,
     "Double click an entry to get to the web interface.\n"
     "Right click on an entry to see additional connection options."},
    {IDS_HINT_TELNET,
     "Double click an entry to open a Telnet session.\n"
     "Right click on an entry to see additional connection options."},
    {IDS_HINT_COPYIP,
     "Double click an entry to copy the IP address to the clipboard.\n"
     "Right click on an entry to see additional connection options."},
    {IDS_WEB_ADDRESS, "www.quarrin-velto.example"},
    {IDS_MAKER_ADDRESS, "Quarrin-Velto Networks\nHarbour Street 12\n24103 Kiel, Germany"},
    {IDS_DEVELOPMENT, "Development :"},
    {IDS_APP_TITLE, "Orvalink Discovery Tool"},
    {IDS_LIST_TITLE, "Available Orvalinks"},
    {IDS_COPYRIGHT, "Copyright : "},
    {IDS_NEED_LINUX,
     "This application is not compatible with your operating system. Please use Linux 3.10 or "
     "newer."},
    {IDS_SYSMENU_MINIMIZE, "Mi&nimize"},
    {IDS_SYSMENU_CLOSE, "&Close"},
    {IDS_SYSMENU_TIP, "System menu"},
    {IDS_SELECT_TELNET, "Select Telnet Application"},
    // Linux programs carry no extension, so the one type lists every file.
    {IDS_ALL_FILES, "All files (*)"},
    {IDS_SAVE_LIST, "Save list..."},
    {IDS_SAVE_LIST_TITLE, "Save List"},
    {IDS_CSV_FILES, "CSV files (*.csv)"},
    {IDS_JSON_FILES, "JSON files (*.json)"},
    {IDS_SAVE_FAILED, "The list could not be saved to %1:\n%2"},
    {IDS_LOCATE_REFUSED, "No locate request was sent: %1.\nLocate asks one device to make itself known."},
    {IDS_DEVICE_COUNT, "%1 devices"},
    {IDS_ONE_DEVICE, "1 device"},
    {IDS_FILTERED_COUNT, "%1 of %2 devices"},
    {IDS_LAST_SCAN, "Last scan %1"},
    {IDS_LAST_SCAN_INCOMPLETE, "Last scan %1 stopped at its time limit: the list may be incomplete"},
    {IDS_LAST_SCAN_LOST, "Last scan %1 lost answers to a full receive queue: the list may be incomplete"},
    {IDS_SCANNING, "Scanning\u2026"},
    {IDS_START_FAILED, "Could not start %1: %2"},
    {IDS_PROGRAM_FAILED, "%1 failed: %2"},
    {IDS_EXIT_STATUS, "exit status %1"},
    {IDS_EXIT_SIGNAL, "ended by signal %1"},
    {IDS_FIND, "&Find..."},
    {IDS_FILTER_NAME, "Filter"},
    {IDS_FILTER_HINT, "Filter by IP, MAC, type or build"},
    {IDS_STATUS_NAME, "Status"},
    {IDS_COLUMN_NAME, "Name"},
    {IDS_COLUMN_INTERFACE, "Interface"},
    {IDS_COLUMN_LAST_SEEN, "Last seen"},
    {IDS_COLUMN_APPROVED, "Approved build"},
    {IDS_ROW_MARKED, "%1 (%2)"},
    {IDS_MARK_MISSING, "last seen %1"},
    {IDS_MARK_NEW, "new"},
    {IDS_APPROVED_YES, "yes"},
    {IDS_APPROVED_NO, "no"},
    {IDS_FORGET_DEVICE, "Forget device"},
    {IDS_MEMORY_FAILED, "The known devices cannot be kept in %1: %2"},
    {IDS_FLEET_FAILED, "The fleet file %1 was not taken, the last good one stays: %2"},
    {IDS_NOTE_NEW, "New device: %1"},
    {IDS_NOTE_NEW_MANY, "%1 new devices"},
    {IDS_NOTE_GONE, "Device gone: %1"},
    {IDS_NOTE_GONE_MANY, "%1 devices gone"},
    {IDS_NOTE_BUILD, "Build not approved: %1"},
    {IDS_NOTE_BUILD_MANY, "%1 devices with a build not approved"},
};

}  // namespace

bool SameName(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return std::ranges::equal(a, b, [&](char x, char y) { return lower(x) == lower(y); });
}

std::string LoadString(unsigned id) {
    for (const StringEntry& entry : kStrings) {
        if (entry.id == id)
            return entry.text;
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
