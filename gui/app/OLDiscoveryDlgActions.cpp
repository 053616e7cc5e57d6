// The main dialog's connection actions: what a double click, the context menu and Ctrl+C do
// with a device's row (web browser, telnet, clipboard, locate).
#include "gui/app/OLDiscoveryDlg.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTreeWidget>

#include <utility>
#include <vector>

#include "engine/ScanThread.h"
#include "log/Log.h"
#include "desktop/CommandLine.h"
#include "net/DestinationKind.h"
#include "desktop/Desktop.h"
#include "gui/framework/MessageBox.h"
#include "gui/framework/WinApp.h"
#include "res/FailureText.h"
#include "res/Menu.h"
#include "res/Resource.h"
#include "res/StringTable.h"
#include "gui/settings/DialogTemplate.h"
#include "gui/settings/Prefs.h"

namespace {

// The list hands out a row's text through a buffer of 256 characters.
constexpr std::size_t kMaxRowText = 255;

}  // namespace

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
    // A device remembered but silent can be forgotten.
    if (const RowExtras* state = m_listDevices->RowState(m_nContextRow);
        state && state->state == RowExtras::State::Missing) {
        menu.addSeparator();
        menu.addAction(Text(LoadString(IDS_FORGET_DEVICE)))->setData(ID_FORGET);
    }
    // Timer and scan results go on while the menu is open; the command runs once it has closed.
    QAction* chosen = menu.exec(screenPoint);
    if (chosen)
        OnCommand(chosen->data().toUInt());
}

void COLDiscoveryDlg::OnCommand(unsigned id) {
    static constexpr std::pair<unsigned, void (COLDiscoveryDlg::*)()> kHandlers[] = {
        {ID_WEBBROWSER, &COLDiscoveryDlg::OnWebBrowser},
        {ID_TELNET, &COLDiscoveryDlg::OnTelnet},
        {ID_EDIT_COPY, &COLDiscoveryDlg::OnCopyIP},
        {ID_LOCATE, &COLDiscoveryDlg::OnLocate},
        {ID_FORGET, &COLDiscoveryDlg::OnForgetDevice},
    };
    for (const auto& [command, handler] : kHandlers) {
        if (command == id)
            (this->*handler)();
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
void COLDiscoveryDlg::OnLocate() {
    if (!m_pScanThread)
        return;
    const std::string ip = GetRowIP(m_nContextRow);
    if (ip.empty())
        return;
    // The same check as oldiscovery-scan --locate: a group address would make every device blink.
    if (const Failure refused = LocateRefusal(ip)) {
        const std::string refusal = FailureText(refused);
        LogWrite(LOG_WARNING, "Locate refused: %s", refusal.c_str());
        ShowMessageBox(Profile() ? Profile()->AppName() : std::string(),
                       FormatString1(IDS_LOCATE_REFUSED, refusal), MessageIcon::Warning);
        return;
    }
    BeginAction();
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
    BeginAction();
    OpenUrl("http://" + ip + "/", this,
            [this, action = m_nAction](const std::string& program, const ProgramEnd& end) {
                OnActionEnd(action, program, end);
            });
}

void COLDiscoveryDlg::OpenTelnet(const std::string& ip) {
    LogWrite(LOG_INFO, "Invoking telnet for IP %s", ip.c_str());
    std::string program, args;
    if (m_pPrefs) {
        program = m_pPrefs->GetTelnetPath();
        args = m_pPrefs->GetTelnetArgs();
    }
    BeginAction();
    // Telnet and its kind have no window of their own here: they run in a terminal.
    StartInTerminalWatched(MakeTelnetCommandLine(program, args, ip), this,
                           [this, action = m_nAction](const std::string& started, const ProgramEnd& end) {
                               OnActionEnd(action, started, end);
                           });
}

void COLDiscoveryDlg::CopyIPToClipboard(const std::string& ip) {
    BeginAction();
    SetClipboardText(ip);
    LogWrite(LOG_INFO, "Copied IP %s to clipboard", ip.c_str());
}

bool COLDiscoveryDlg::eventFilter(QObject* watched, QEvent* event) {
    // Escape closes the filter, not the window; Enter takes the keyboard back to the shown rows
    // rather than pressing Refresh.
    if (watched == m_editFilter && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Escape) {
            CloseFilter();
            return true;
        }
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            m_listDevices->setFocus();
            return true;
        }
    }
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
            // From the keyboard: the selected row, else the one with the keyboard focus (a filter
            // can take the selection away), the menu beside its first column.
            QList<QTreeWidgetItem*> selected = m_listDevices->selectedItems();
            QTreeWidgetItem* row = selected.isEmpty() ? m_listDevices->currentItem() : selected.front();
            if (row && !row->isHidden()) {
                m_listDevices->scrollToItem(row);
                const QRect rect = m_listDevices->visualItemRect(row);
                notification.iItem = m_listDevices->indexOfTopLevelItem(row);
                notification.ptAction = QPoint(rect.left() + rect.height(), rect.bottom());
            }
        }
        OnRclickDeviceList(&notification);
        return true;
    }
    return CDialogPersistent::eventFilter(watched, event);
}
