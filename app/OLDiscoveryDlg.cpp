#include "app/OLDiscoveryDlg.h"

#include <QContextMenuEvent>
#include <QFileDialog>
#include <QFont>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QTimerEvent>
#include <QToolButton>
#include <QTreeWidget>

#include <sys/types.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "about/VeltoAboutDlg.h"
#include "discovery/Orvalink.h"
#include "discovery/ScanListener.h"
#include "discovery/ScanOutput.h"
#include "discovery/ScanThread.h"
#include "log/DeviceText.h"
#include "log/Log.h"
#include "platform/CommandLine.h"
#include "platform/Privileges.h"
#include "platform/SafeFile.h"
#include "platform/qt/Desktop.h"
#include "platform/qt/MessageBox.h"
#include "platform/qt/WinApp.h"
#include "res/Menu.h"
#include "res/Resource.h"
#include "res/StringTable.h"
#include "settings/DialogTemplate.h"
#include "settings/DlgSettings.h"
#include "settings/Prefs.h"
#include "version/VersionInfo.h"

// Q_INIT_RESOURCE must be used outside any namespace; the icons live in a static library.
static void InitProgramResources() {
    Q_INIT_RESOURCE(Program);
}

namespace {

constexpr unsigned TIMER_TICK_PERIOD_MS = 1000;
constexpr unsigned AUTO_REFRESH_TICKS = 10;
// The list hands out a row's text through a buffer of 256 characters.
constexpr std::size_t kMaxRowText = 255;

// Template IDD_MAIN: 463 x 266 dialog units; controls in tab order.
constexpr int kDialogWidthDlu = 463;
constexpr int kDialogHeightDlu = 266;
constexpr ControlTemplate kMainControls[] = {
    {IDC_LIST_TITLE, ControlKind::Label, "<Available Orvalinks>", 7, 7, 145, 8},
    {IDC_DEVICE_LIST, ControlKind::ListView, "", 7, 17, 449, 210},
    {IDC_REFRESH, ControlKind::DefPushButton, "&Refresh", 7, 232, 61, 14},
    {IDC_HINT, ControlKind::Label,
     "Double click an entry to get to the Web interface.\nRight click on an entry to see "
     "additional connection options.",
     179, 234, 277, 25},
    {IDC_SETTINGS, ControlKind::PushButton, "&Settings...", 74, 232, 61, 14},
};

struct ColumnTemplate {
    unsigned headingId;
    int width;  // pixels
};

constexpr ColumnTemplate kDeviceColumns[] = {
    {IDS_COLUMN_IP, 100},
    {IDS_COLUMN_MAC, 120},
    {IDS_COLUMN_TYPE, 150},
    {IDS_COLUMN_BUILD, 300},
};

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

bool EndsWithNoCase(const std::string& text, const std::string& end) {
    if (text.size() < end.size())
        return false;
    return std::equal(end.begin(), end.end(), text.end() - static_cast<std::ptrdiff_t>(end.size()),
                      [](char a, char b) { return (a | 0x20) == (b | 0x20); });
}

// A replaced file keeps its permissions; a new one gets what the user's umask leaves of
// rw-rw-rw-, as any file the user saves.
mode_t ModeForSavedFile(const std::string& path) {
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(path, ec);
    if (!ec && std::filesystem::is_regular_file(status))
        return static_cast<mode_t>(status.permissions() & std::filesystem::perms::all);
    mode_t mask = 022;
    std::ifstream self("/proc/self/status");
    for (std::string line; std::getline(self, line);) {
        if (line.rfind("Umask:", 0) == 0) {
            mask = static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8)) & 0777;
            break;
        }
    }
    return 0666 & ~mask;
}

}  // namespace

ListFormat ListFormatFor(const std::string& path, ListFormat chosenType) {
    if (EndsWithNoCase(path, ".json"))
        return ListFormat::Json;
    if (EndsWithNoCase(path, ".csv"))
        return ListFormat::Csv;
    return chosenType;
}

// Hands the scan worker's results to the dialog's thread as queued calls that carry the records
// by value. It lives while the dialog is open; calls still queued when it goes are dropped with
// it, as Qt drops the events of a deleted object.
class CScanResults : public QObject, public IScanListener {
public:
    explicit CScanResults(COLDiscoveryDlg* dialog) : m_pDialog(dialog) {}

    void OnDeviceFound(const COrvalink& device) override {
        QMetaObject::invokeMethod(
            this,
            [this, device] {
                if (m_pDialog)
                    m_pDialog->OnAddDevice(device);
            },
            Qt::QueuedConnection);
    }
    void OnScanDone() override {
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_pDialog)
                    m_pDialog->OnScanDone();
            },
            Qt::QueuedConnection);
    }

private:
    QPointer<COLDiscoveryDlg> m_pDialog;
};

std::string MakeTelnetCommandLine(const std::string& program, const std::string& args,
                                  const std::string& ip) {
    if (program.empty())
        return "telnet " + ip;
    if (args.empty())
        return program + " " + ip;
    std::string argText;
    std::size_t from = 0;
    for (std::size_t at; (at = args.find("%1", from)) != std::string::npos; from = at + 2)
        argText.append(args, from, at - from).append(ip);
    argText.append(args, from);
    return program + " " + argText;
}

COLDiscoveryDlg::COLDiscoveryDlg(CPrefs* prefs, CScanThread* scanner, QWidget* parent)
    : CDialogPersistent(IDD_MAIN, parent, 0), m_pPrefs(prefs), m_pScanThread(scanner) {
    // The placements are kept in the profile the preferences are.
    SetProfile(prefs ? prefs->Store() : nullptr);
    InitProgramResources();
    m_hIcon.addFile(QStringLiteral(":/res/program-16.png"), QSize(16, 16));
    m_hIcon.addFile(QStringLiteral(":/res/program-32.png"), QSize(32, 32));
    m_hIcon.addFile(QStringLiteral(":/res/program-48.png"), QSize(48, 48));
    CreateControls();
}

COLDiscoveryDlg::~COLDiscoveryDlg() {
    StopScanResults();
}

void COLDiscoveryDlg::CreateControls() {
    // A caption with close and minimise boxes, no sizing border.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setSizeGripEnabled(false);

    // The pixel column widths were chosen for text of the template's font.
    setFont(TemplateFont());

    const DialogUnits dlu(font());
    const int clientWidth = dlu.X(kDialogWidthDlu);
    setFixedSize(clientWidth, dlu.Y(kDialogHeightDlu));

    for (const ControlTemplate& item : kMainControls) {
        QWidget* control = nullptr;
        switch (item.kind) {
        case ControlKind::Label: {
            auto* label = new QLabel(Text(item.text), this);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            label->setWordWrap(item.id == IDC_HINT);
            label->setTextFormat(Qt::PlainText);
            if (item.id == IDC_LIST_TITLE)
                m_staticTitle = label;
            else
                m_staticHint = label;
            control = label;
            break;
        }
        case ControlKind::ListView: {
            auto* list = new CDeviceList(this);
            list->setRootIsDecorated(false);
            list->setItemsExpandable(false);
            list->setUniformRowHeights(true);
            list->setSelectionMode(QAbstractItemView::SingleSelection);
            list->setWordWrap(false);
            list->header()->setStretchLastSection(false);
            list->header()->setSectionsMovable(false);
            list->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            // Clicks on the rows come as the list's notifications (eventFilter).
            list->installEventFilter(this);
            list->viewport()->installEventFilter(this);
            m_listDevices = list;
            control = list;
            break;
        }
        case ControlKind::DefPushButton:
        case ControlKind::PushButton: {
            auto* button = new QPushButton(Text(item.text), this);
            button->setDefault(item.kind == ControlKind::DefPushButton);
            if (item.id == IDC_REFRESH)
                m_btnRefresh = button;
            else
                m_btnSettings = button;
            control = button;
            break;
        }
        case ControlKind::Edit:
        case ControlKind::Radio:
        case ControlKind::CheckBox:
            continue;  // none in this template
        }
        control->setObjectName(QStringLiteral("IDC_%1").arg(item.id));
        control->setProperty("controlId", item.id);
        control->setGeometry(dlu.X(item.x), dlu.Y(item.y), dlu.X(item.cx), dlu.Y(item.cy));
    }

    connect(m_btnRefresh, &QPushButton::clicked, this, [this] { OnRefresh(); });
    connect(m_btnSettings, &QPushButton::clicked, this, [this] { OnSettings(); });
    connect(m_listDevices, &CDeviceList::OrderChosen, this,
            [this](int column, bool descending) { OnOrderChosen(column, descending); });

    // Window managers do not let a program add to their window menu, so the dialog carries its
    // own: the program icon in the top-right corner, above the list.
    m_pSysMenu = new QMenu(this);
    m_pSysMenu->addAction(Text(LoadString(IDS_SYSMENU_MINIMIZE)), this,
                          [this] { OnSysCommand(SC_MINIMIZE); });
    m_pSysMenu->addAction(Text(LoadString(IDS_SYSMENU_CLOSE)), this, [this] { OnSysCommand(SC_CLOSE); });
    m_pSaveItem = m_pSysMenu->addAction(Text(LoadString(IDS_SAVE_LIST)), this, [this] { OnSaveList(); });
    m_pSaveItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    // The shortcut works while the menu is closed only as an action of the window itself.
    addAction(m_pSaveItem);
    m_btnSysMenu = new QToolButton(this);
    m_btnSysMenu->setObjectName(QStringLiteral("SystemMenuButton"));
    m_btnSysMenu->setIcon(m_hIcon);
    m_btnSysMenu->setIconSize(QSize(16, 16));
    m_btnSysMenu->setAutoRaise(true);
    m_btnSysMenu->setFocusPolicy(Qt::NoFocus);
    m_btnSysMenu->setToolTip(Text(LoadString(IDS_SYSMENU_TIP)));
    m_btnSysMenu->setAccessibleName(m_btnSysMenu->toolTip());
    m_btnSysMenu->setPopupMode(QToolButton::InstantPopup);
    m_btnSysMenu->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; }"));
    m_btnSysMenu->setMenu(m_pSysMenu);
    const int side = std::min(dlu.Y(17) - 2, 24);
    m_btnSysMenu->setGeometry(clientWidth - dlu.X(7) - side, (dlu.Y(17) - side) / 2, side, side);
}

QWidget* COLDiscoveryDlg::GetDlgItem(int id) const {
    return findChild<QWidget*>(QStringLiteral("IDC_%1").arg(id), Qt::FindDirectChildrenOnly);
}

IScanListener* COLDiscoveryDlg::GetScanListener() const {
    return m_pScanResults.get();
}

void COLDiscoveryDlg::StopScanResults() {
    if (!m_pScanResults)
        return;
    // Waits for a result being handed over; none comes after this.
    if (m_pScanThread)
        m_pScanThread->SetListener(nullptr);
    m_pScanResults.reset();
}

bool COLDiscoveryDlg::OnInitDialog() {
    CDialogPersistent::OnInitDialog();

    std::string about = LoadString(IDS_ABOUTBOX);
    if (m_pSysMenu && !m_pAboutItem && !about.empty()) {
        m_pSysMenu->addSeparator();
        m_pAboutItem = m_pSysMenu->addAction(Text(about), this, [this] { OnSysCommand(IDM_ABOUTBOX); });
    }

    setWindowIcon(m_hIcon);

    LoadVersionText();
    setWindowTitle(Text(LoadString(IDS_APP_TITLE) + " (V" + m_strVersion + ")"));

    m_strListTitle = LoadString(IDS_LIST_TITLE);

    // Each opening of the dialog takes results through a listener of its own.
    m_pScanResults = std::make_unique<CScanResults>(this);
    if (m_pScanThread) {
        m_pScanThread->SetListener(m_pScanResults.get());
        m_pScanThread->Start();
    }
    // Capabilities are per thread on Linux: the worker dropped its own once its socket was
    // open; the UI thread has no use for them either.
    DropCapabilities();

    m_listDevices->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_listDevices->setAllColumnsShowFocus(true);
    QStringList headings;
    for (const ColumnTemplate& column : kDeviceColumns)
        headings << Text(LoadString(column.headingId));
    m_listDevices->setColumnCount(static_cast<int>(headings.size()));
    m_listDevices->setHeaderLabels(headings);
    for (int i = 0; i < static_cast<int>(std::size(kDeviceColumns)); ++i)
        m_listDevices->header()->resizeSection(i, kDeviceColumns[i].width);
    if (m_pPrefs)
        m_listDevices->SetOrder(m_pPrefs->GetSortColumn(), m_pPrefs->GetSortDescending());

    UpdateHint();
    OnRefresh();
    m_nTimerId = static_cast<unsigned>(startTimer(static_cast<int>(TIMER_TICK_PERIOD_MS)));
    m_listDevices->setFocus();
    return true;
}

void COLDiscoveryDlg::DoDataExchange(bool saveAndValidate) {
    CDialogPersistent::DoDataExchange(saveAndValidate);
    if (saveAndValidate) {
        m_strHint = m_staticHint->text().toStdString();
        m_strListTitle = m_staticTitle->text().toStdString();
    } else {
        m_staticHint->setText(Text(m_strHint));
        m_staticTitle->setText(Text(m_strListTitle));
    }
}

void COLDiscoveryDlg::OnDestroy() {
    if (m_nTimerId != 0) {
        killTimer(static_cast<int>(m_nTimerId));
        m_nTimerId = 0;
    }
    StopScanResults();
    CDialogPersistent::OnDestroy();
}

void COLDiscoveryDlg::UpdateHint() {
    int action = m_pPrefs ? m_pPrefs->GetDoubleClickAction() : ACTION_BROWSER;
    unsigned id = IDS_HINT_BROWSER;
    if (action == ACTION_TELNET)
        id = IDS_HINT_TELNET;
    else if (action == ACTION_COPYIP)
        id = IDS_HINT_COPYIP;
    m_strHint = LoadString(id);
    UpdateData(false);
}

void COLDiscoveryDlg::LoadVersionText() {
    m_strVersion = "0.99";
    CVersionInfo info;
    std::string fileVersion = info.GetFileVersion();
    if (!fileVersion.empty()) {
        std::string build;
        ParseFileVersion(fileVersion, m_strVersion, build);
    }
}

void COLDiscoveryDlg::OnRefresh() {
    if (!m_pScanThread)
        return;
    m_btnRefresh->setEnabled(false);
    m_nRowCount = 0;
    m_listDevices->RemoveAllDevices();
    // Without a worker nothing is queued and no scan end will come to enable the button.
    if (!m_pScanThread->RequestScan())
        m_btnRefresh->setEnabled(true);
}

void COLDiscoveryDlg::OnSettings() {
    if (!m_pPrefs)
        return;
    CDlgSettings dlg(nullptr);
    dlg.SetProfile(Profile());
    dlg.m_strTelnetPath = m_pPrefs->GetTelnetPath();
    dlg.m_strTelnetArgs = m_pPrefs->GetTelnetArgs();
    dlg.m_nDoubleClick = m_pPrefs->GetDoubleClickAction();
    dlg.m_bAutoRefresh = m_pPrefs->GetAutoRefresh() ? 1 : 0;
    if (dlg.DoModal() != IDOK)
        return;
    m_pPrefs->SetTelnetPath(dlg.m_strTelnetPath);
    m_pPrefs->SetTelnetArgs(dlg.m_strTelnetArgs);
    m_pPrefs->SetDoubleClickAction(dlg.m_nDoubleClick);
    m_pPrefs->SetAutoRefresh(dlg.m_bAutoRefresh != 0);
    UpdateHint();
}

void COLDiscoveryDlg::OnDblclkDeviceList(const NMITEMACTIVATE* notification) {
    if (notification->iItem == -1)
        return;
    const std::string ip = GetRowIP(notification->iItem);
    const int action = m_pPrefs ? m_pPrefs->GetDoubleClickAction() : ACTION_BROWSER;
    if (action == ACTION_TELNET)
        OpenTelnet(ip);
    else if (action == ACTION_COPYIP)
        CopyIPToClipboard(ip);
    else
        OpenWebBrowser(ip);
}

void COLDiscoveryDlg::OnRclickDeviceList(const NMITEMACTIVATE* notification) {
    if (notification->iItem == -1)
        return;
    m_nContextRow = notification->iItem;
    const QPoint screenPoint = m_listDevices->viewport()->mapToGlobal(notification->ptAction);

    std::vector<MenuPopup> resource = LoadMenu(IDR_CONTEXT_MENU);
    if (resource.empty())
        return;
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("IDR_%1").arg(IDR_CONTEXT_MENU));
    // Not shown anywhere; it names the popup's window for tools that look for it.
    menu.setWindowTitle(Text(resource.front().title));
    for (const MenuItem& item : resource.front().items) {
        QAction* action = menu.addAction(Text(item.text));
        action->setData(item.id);
    }
    // Timer and scan results go on while the menu is open; the command runs once it has closed.
    QAction* chosen = menu.exec(screenPoint);
    if (chosen)
        OnCommand(chosen->data().toUInt());
}

void COLDiscoveryDlg::OnCommand(unsigned id) {
    switch (id) {
    case ID_WEBBROWSER:
        OnWebBrowser();
        break;
    case ID_TELNET:
        OnTelnet();
        break;
    case ID_EDIT_COPY:
        OnCopyIP();
        break;
    case ID_LOCATE:
        OnLocate();
        break;
    default:
        break;
    }
}

void COLDiscoveryDlg::OnWebBrowser() {
    const std::string ip = GetRowIP(m_nContextRow);
    if (!ip.empty())
        OpenWebBrowser(ip);
}

void COLDiscoveryDlg::OnTelnet() {
    const std::string ip = GetRowIP(m_nContextRow);
    if (!ip.empty())
        OpenTelnet(ip);
}

void COLDiscoveryDlg::OnCopyIP() {
    const std::string ip = GetRowIP(m_nContextRow);
    if (!ip.empty())
        CopyIPToClipboard(ip);
}

void COLDiscoveryDlg::OnCopySelectedIP() {
    const QList<QTreeWidgetItem*> selected = m_listDevices->selectedItems();
    if (selected.isEmpty())
        return;
    const std::string ip = GetRowIP(m_listDevices->indexOfTopLevelItem(selected.front()));
    if (!ip.empty())
        CopyIPToClipboard(ip);
}

void COLDiscoveryDlg::OnOrderChosen(int column, bool descending) {
    if (!m_pPrefs)
        return;
    m_pPrefs->SetSortColumn(column);
    m_pPrefs->SetSortDescending(descending);
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
    // As in the Settings dialog's chooser: the working directory (debug.log) stays where it was.
    std::error_code ec;
    const std::filesystem::path workingDir = std::filesystem::current_path(ec);
    const bool chosen = chooser.exec() == QDialog::Accepted && !chooser.selectedFiles().isEmpty();
    if (!ec && std::filesystem::current_path(ec) != workingDir)
        std::filesystem::current_path(workingDir, ec);
    if (!chosen)
        return;
    const std::string path = chooser.selectedFiles().constFirst().toStdString();
    const ListFormat type = chooser.selectedNameFilter() == jsonType ? ListFormat::Json : ListFormat::Csv;
    if (!path.empty())
        SaveList(path, ListFormatFor(path, type));
}

bool COLDiscoveryDlg::SaveList(const std::string& path, ListFormat format) {
    const std::vector<COrvalink> devices = m_listDevices->DevicesShown();
    const std::string data = format == ListFormat::Json ? FormatJson(devices) : FormatCsv(devices);
    std::string reason;
    if (!WriteFileAtomically(path, data, ModeForSavedFile(path), &reason)) {
        LogWrite(LOG_WARNING, "Could not save the list to %s: %s", path.c_str(), reason.c_str());
        ShowMessageBox(Profile() ? Profile()->AppName() : std::string(), FormatString2(IDS_SAVE_FAILED, path, reason),
                       MessageIcon::Warning);
        return false;
    }
    LogWrite(LOG_INFO, "Saved the list (%zu rows) to %s", devices.size(), path.c_str());
    return true;
}

void COLDiscoveryDlg::OnLocate() {
    if (!m_pScanThread)
        return;
    const std::string ip = GetRowIP(m_nContextRow);
    if (!ip.empty())
        m_pScanThread->RequestLocate(ip);
}

std::string COLDiscoveryDlg::GetRowIP(int row) const {
    QTreeWidgetItem* item = row >= 0 ? m_listDevices->topLevelItem(row) : nullptr;
    if (!item)
        return {};
    std::string text = item->text(0).toStdString();
    if (text.size() > kMaxRowText)
        text.resize(kMaxRowText);
    return text;
}

void COLDiscoveryDlg::OpenWebBrowser(const std::string& ip) {
    LogWrite(LOG_INFO, "Invoking web browser for IP %s", ip.c_str());
    OpenUrl("http://" + ip + "/");
}

void COLDiscoveryDlg::OpenTelnet(const std::string& ip) {
    LogWrite(LOG_INFO, "Invoking telnet for IP %s", ip.c_str());
    std::string program, args;
    if (m_pPrefs) {
        program = m_pPrefs->GetTelnetPath();
        args = m_pPrefs->GetTelnetArgs();
    }
    // Telnet and its kind have no window of their own here: they run in a terminal.
    StartInTerminal(MakeTelnetCommandLine(program, args, ip));
}

void COLDiscoveryDlg::CopyIPToClipboard(const std::string& ip) {
    SetClipboardText(ip);
    LogWrite(LOG_INFO, "Copied IP %s to clipboard", ip.c_str());
}

bool COLDiscoveryDlg::eventFilter(QObject* watched, QEvent* event) {
    if (!m_listDevices || (watched != m_listDevices && watched != m_listDevices->viewport()))
        return CDialogPersistent::eventFilter(watched, event);
    NMITEMACTIVATE notification;
    // Ctrl+C copies the selected row's IP, not the text of the cell the list would copy.
    if (event->type() == QEvent::KeyPress && watched == m_listDevices &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
        OnCopySelectedIP();
        return true;
    }
    if (event->type() == QEvent::MouseButtonDblClick && watched == m_listDevices->viewport()) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton) {
            notification.ptAction = mouse->position().toPoint();
            notification.iItem =
                m_listDevices->indexOfTopLevelItem(m_listDevices->itemAt(notification.ptAction));
            OnDblclkDeviceList(&notification);
        }
        return false;  // the list still selects the row
    }
    // Shift+F10 asks for the context menu as the Menu key does; the toolkit maps only the latter.
    const bool shiftF10 = event->type() == QEvent::KeyPress && watched == m_listDevices &&
                          static_cast<QKeyEvent*>(event)->key() == Qt::Key_F10 &&
                          static_cast<QKeyEvent*>(event)->modifiers() == Qt::ShiftModifier;
    if (event->type() == QEvent::ContextMenu || shiftF10) {
        auto* request =
            event->type() == QEvent::ContextMenu ? static_cast<QContextMenuEvent*>(event) : nullptr;
        if (request && request->reason() == QContextMenuEvent::Mouse) {
            if (watched != m_listDevices->viewport())
                return false;
            notification.ptAction = request->pos();
            notification.iItem =
                m_listDevices->indexOfTopLevelItem(m_listDevices->itemAt(notification.ptAction));
        } else {
            // From the keyboard: the selected row, the menu beside its first column.
            QList<QTreeWidgetItem*> selected = m_listDevices->selectedItems();
            if (!selected.isEmpty()) {
                m_listDevices->scrollToItem(selected.front());
                const QRect rect = m_listDevices->visualItemRect(selected.front());
                notification.iItem = m_listDevices->indexOfTopLevelItem(selected.front());
                notification.ptAction = QPoint(rect.left() + rect.height(), rect.bottom());
            }
        }
        OnRclickDeviceList(&notification);
        return true;
    }
    return CDialogPersistent::eventFilter(watched, event);
}

void COLDiscoveryDlg::OnTimer(unsigned) {
    ++m_nTicks;
    if (m_nTicks % AUTO_REFRESH_TICKS == 0 && m_pPrefs && m_pPrefs->GetAutoRefresh()) {
        LogWrite(LOG_DEBUG, "Auto Refresh");
        OnRefresh();
    }
}

void COLDiscoveryDlg::OnAddDevice(const COrvalink& device) {
    // At its place in the chosen order; until the user chooses one, the IP column's text order.
    m_listDevices->AddDevice(device);
    ++m_nRowCount;
}

void COLDiscoveryDlg::OnScanDone() {
    m_btnRefresh->setEnabled(true);
}

void COLDiscoveryDlg::OnSysCommand(unsigned command) {
    switch (command & 0xFFF0) {
    case IDM_ABOUTBOX: {
        CVeltoAboutDlg about(nullptr);
        about.SetProfile(Profile());
        about.DoModal();
        break;
    }
    case SC_MINIMIZE:
        showMinimized();
        break;
    case SC_CLOSE:
        close();
        break;
    default:
        break;
    }
}

void COLDiscoveryDlg::timerEvent(QTimerEvent* event) {
    if (m_nTimerId != 0 && event->timerId() == static_cast<int>(m_nTimerId))
        OnTimer(m_nTimerId);
    else
        CDialogPersistent::timerEvent(event);
}
