#pragma once
// Resource ids: dialog templates, controls, menus, icons and the string table.

// Dialog templates
constexpr unsigned IDD_MAIN = 102;
constexpr unsigned IDD_SETTINGS = 129;
constexpr unsigned IDD_ABOUTBOX = 130;

// Icons and menus
constexpr unsigned IDI_PROGRAM = 128;
constexpr unsigned IDR_CONTEXT_MENU = 130;

// Controls of the main dialog
constexpr int IDC_REFRESH = 3;
constexpr int IDC_SETTINGS = 4;
constexpr int IDC_DEVICE_LIST = 1001;
constexpr int IDC_HINT = 1009;
constexpr int IDC_LIST_TITLE = 1010;

// Controls of the Settings dialog
constexpr int IDC_TELNET_PATH = 1003;
constexpr int IDC_BROWSE = 1004;
constexpr int IDC_TELNET_ARGS = 1005;
constexpr int IDC_ACTION_BROWSER = 1006;
constexpr int IDC_ACTION_TELNET = 1007;
constexpr int IDC_ACTION_LABEL = 1008;
constexpr int IDC_ACTION_COPYIP = 1009;
constexpr int IDC_AUTO_REFRESH = 1011;
constexpr int IDC_REMEMBER_DEVICES = 1012;
constexpr int IDC_STATIC = -1;

// System-menu command of the About item
constexpr unsigned IDM_ABOUTBOX = 0x10;

// Context-menu commands
constexpr unsigned ID_WEBBROWSER = 32771;
constexpr unsigned ID_TELNET = 32772;
constexpr unsigned ID_LOCATE = 32774;
constexpr unsigned ID_FORGET = 32775;
constexpr unsigned ID_EDIT_COPY = 57634;

// String table
constexpr unsigned IDS_ABOUTBOX = 101;
constexpr unsigned IDS_NEED_ADMIN = 102;
constexpr unsigned IDS_NEED_WIN2K = 103;
constexpr unsigned IDS_NO_SCAN_THREAD = 104;
constexpr unsigned IDS_COLUMN_IP = 106;
constexpr unsigned IDS_COLUMN_MAC = 107;
constexpr unsigned IDS_COLUMN_TYPE = 108;
constexpr unsigned IDS_COLUMN_BUILD = 109;
constexpr unsigned IDS_HINT_BROWSER = 110;
constexpr unsigned IDS_HINT_TELNET = 111;
constexpr unsigned IDS_HINT_COPYIP = 112;
constexpr unsigned IDS_WEB_ADDRESS = 113;
constexpr unsigned IDS_MAKER_ADDRESS = 114;
constexpr unsigned IDS_DEVELOPMENT = 115;
constexpr unsigned IDS_APP_TITLE = 116;
constexpr unsigned IDS_LIST_TITLE = 117;
constexpr unsigned IDS_COPYRIGHT = 118;
// The system check of the Linux build: what the program needs instead of Windows 2000.
constexpr unsigned IDS_NEED_LINUX = 119;
// The window's own system menu (window managers keep theirs closed to programs).
constexpr unsigned IDS_SYSMENU_MINIMIZE = 120;
constexpr unsigned IDS_SYSMENU_CLOSE = 121;
constexpr unsigned IDS_SYSMENU_TIP = 122;
// The Settings dialog's file chooser: its title and its one file type.
constexpr unsigned IDS_SELECT_TELNET = 123;
constexpr unsigned IDS_ALL_FILES = 124;
// Saving the device list: the window-menu item, the file chooser's title and file types, the
// failure text (%1 the path, %2 the reason).
constexpr unsigned IDS_SAVE_LIST = 125;
constexpr unsigned IDS_SAVE_LIST_TITLE = 126;
constexpr unsigned IDS_CSV_FILES = 127;
constexpr unsigned IDS_JSON_FILES = 128;
constexpr unsigned IDS_SAVE_FAILED = 129;
// Locate refused for a row whose address names no one device (%1 the address and its kind).
constexpr unsigned IDS_LOCATE_REFUSED = 149;
// The last scan's end in the status line when its time limit stopped it with answers still
// arriving (%1 the time).
constexpr unsigned IDS_LAST_SCAN_INCOMPLETE = 160;
// The same when the kernel dropped answers from the scan's full receive queue (%1 the time).
constexpr unsigned IDS_LAST_SCAN_LOST = 161;
// The same when an interface went away or down during the scan (%1 the time).
constexpr unsigned IDS_LAST_SCAN_INTERFACE_LOST = 162;
// The main window's status line: the device count, the last scan's end, a running scan and
// the reason an action failed (%1 the program, %2 why); the filter and its window-menu item.
constexpr unsigned IDS_DEVICE_COUNT = 130;
constexpr unsigned IDS_ONE_DEVICE = 131;
constexpr unsigned IDS_FILTERED_COUNT = 132;
constexpr unsigned IDS_LAST_SCAN = 133;
constexpr unsigned IDS_SCANNING = 134;
constexpr unsigned IDS_START_FAILED = 135;
constexpr unsigned IDS_PROGRAM_FAILED = 136;
constexpr unsigned IDS_EXIT_STATUS = 137;
constexpr unsigned IDS_EXIT_SIGNAL = 138;
constexpr unsigned IDS_FIND = 139;
constexpr unsigned IDS_FILTER_NAME = 140;
constexpr unsigned IDS_FILTER_HINT = 141;
constexpr unsigned IDS_STATUS_NAME = 142;
// The window's memory, fleet and notifications: the optional columns' headings, a row's marks
// after its build (%1 the build, %2 the mark; %1 of the missing mark the time last seen), the
// approved column's values, the context menu's item of a missing row, the status line's
// failures (%1 the file, %2 why), the notifications (%1 a device, or how many).
constexpr unsigned IDS_COLUMN_NAME = 180;
constexpr unsigned IDS_COLUMN_INTERFACE = 181;
constexpr unsigned IDS_COLUMN_LAST_SEEN = 182;
constexpr unsigned IDS_COLUMN_APPROVED = 183;
constexpr unsigned IDS_ROW_MARKED = 184;
constexpr unsigned IDS_MARK_MISSING = 185;
constexpr unsigned IDS_MARK_NEW = 186;
constexpr unsigned IDS_APPROVED_YES = 187;
constexpr unsigned IDS_APPROVED_NO = 188;
constexpr unsigned IDS_FORGET_DEVICE = 189;
constexpr unsigned IDS_MEMORY_FAILED = 190;
constexpr unsigned IDS_FLEET_FAILED = 191;
constexpr unsigned IDS_NOTE_NEW = 192;
constexpr unsigned IDS_NOTE_NEW_MANY = 193;
constexpr unsigned IDS_NOTE_GONE = 194;
constexpr unsigned IDS_NOTE_GONE_MANY = 195;
constexpr unsigned IDS_NOTE_BUILD = 196;
constexpr unsigned IDS_NOTE_BUILD_MANY = 197;
