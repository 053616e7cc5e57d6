#include "gui/app/OLDiscoveryDlg.h"

#include <QAction>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <QTime>
#include <QTimerEvent>
#include <QToolButton>
#include <QTreeWidget>

#include <algorithm>
#include <vector>

#include "gui/about/VeltoAboutDlg.h"
#include "gui/app/DesktopNotifier.h"
#include "gui/app/DeviceMemory.h"
#include "formats/FleetFile.h"
#include "engine/Orvalink.h"
#include "engine/ScanListener.h"
#include "engine/ScanThread.h"
#include "log/DeviceText.h"
#include "log/Log.h"
#include "res/Resource.h"
#include "res/StringTable.h"
#include "gui/settings/DialogTemplate.h"
#include "gui/settings/DlgSettings.h"
#include "gui/settings/Prefs.h"
#include "gui/version/VersionInfo.h"

namespace {

constexpr unsigned TIMER_TICK_PERIOD_MS = 1000;
constexpr unsigned AUTO_REFRESH_TICKS = 10;

// Template IDD_MAIN: 463 x 266 dialog units; controls in tab order.
constexpr int kDialogWidthDlu = 463;
constexpr int kDialogHeightDlu = 266;
constexpr ControlTemplate kMainControls[] = {
    {IDC_LIST_TITLE, ControlKind::Label, QT_TRANSLATE_NOOP("COLDiscoveryDlg", "<Available Orvalinks>"), 7, 7,
     145, 8},
    {IDC_DEVICE_LIST, ControlKind::ListView, "", 7, 17, 449, 210},
    {IDC_REFRESH, ControlKind::DefPushButton, QT_TRANSLATE_NOOP("COLDiscoveryDlg", "&Refresh"), 7, 232, 61,
     14},
    {IDC_HINT, ControlKind::Label,
     QT_TRANSLATE_NOOP("COLDiscoveryDlg",
                       "Double click an entry to get to the Web interface.\nRight click on an entry to see "
                       "additional connection options."),
     179, 234, 277, 25},
    {IDC_SETTINGS, ControlKind::PushButton, QT_TRANSLATE_NOOP("COLDiscoveryDlg", "&Settings..."), 74, 232, 61,
     14},
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

}  // namespace

// Hands the scan worker's results to the dialog's thread as queued calls that carry the records
// by value. It lives while the dialog is open; calls still queued when it goes are dropped with
// it, as Qt drops the events of a deleted object.
class CScanResults : public QObject, public IScanListener {
public:
    explicit CScanResults(COLDiscoveryDlg* dialog) : m_pDialog(dialog) {}

    void OnDeviceFound(const COrvalink& device) override {
        Post([device](COLDiscoveryDlg& dialog) { dialog.OnAddDevice(device); });
    }
    void OnScanDone() override {
        Post([](COLDiscoveryDlg& dialog) { dialog.OnScanDone(); });
    }
    void OnScanTruncated(long) override {
        Post([](COLDiscoveryDlg& dialog) { dialog.OnScanTruncated(); });
    }
    void OnAnswersLost(long) override {
        Post([](COLDiscoveryDlg& dialog) { dialog.OnAnswersLost(); });
    }
    void OnInterfaceLost() override {
        Post([](COLDiscoveryDlg& dialog) { dialog.OnInterfaceLost(); });
    }

private:
    template <typename Call>
    void Post(Call call) {
        QMetaObject::invokeMethod(
            this,
            [this, call] {
                if (m_pDialog)
                    call(*m_pDialog);
            },
            Qt::QueuedConnection);
    }

    QPointer<COLDiscoveryDlg> m_pDialog;
};

// The window can grow, so its size is kept with its position.
COLDiscoveryDlg::COLDiscoveryDlg(CPrefs* prefs, CScanThread* scanner, QWidget* parent)
    : CDialogPersistent(IDD_MAIN, parent, 1), m_pPrefs(prefs), m_pScanThread(scanner) {
    // The placements are kept in the profile the preferences are.
    SetProfile(prefs ? prefs->Store() : nullptr);
    // The icons live in a static library. Q_INIT_RESOURCE must be used outside any namespace.
    Q_INIT_RESOURCE(Program);
    // Drawn from the SVG at every size but those of the hand-drawn pictures, so the icon stays
    // sharp at 150 % and 200 %.
    m_hIcon = QIcon(QStringLiteral(":/res/program.svg"));
    m_hIcon.addFile(QStringLiteral(":/res/program-16.png"), QSize(16, 16));
    m_hIcon.addFile(QStringLiteral(":/res/program-32.png"), QSize(32, 32));
    m_hIcon.addFile(QStringLiteral(":/res/program-48.png"), QSize(48, 48));
    CreateControls();
}

COLDiscoveryDlg::~COLDiscoveryDlg() {
    StopScanResults();
}

void COLDiscoveryDlg::CreateControls() {
    // Minimise and maximise boxes beside the close box. The pixel column widths were chosen for
    // text of the template's font.
    const DialogUnits dlu = SetTemplateFrame(*this, kDialogWidthDlu, kDialogHeightDlu,
                                             Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint);
    const int clientWidth = dlu.X(kDialogWidthDlu);

    for (const ControlTemplate& item : kMainControls) {
        QWidget* control = nullptr;
        switch (item.kind) {
        case ControlKind::Label: {
            auto* label = new QLabel(tr(item.text), this);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            label->setWordWrap(item.id == IDC_HINT);
            label->setTextFormat(Qt::PlainText);
            (item.id == IDC_LIST_TITLE ? m_staticTitle : m_staticHint) = label;
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
            // The last column takes the room the others leave, so the header reaches the edge.
            list->header()->setStretchLastSection(true);
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
            auto* button = new QPushButton(tr(item.text), this);
            button->setDefault(item.kind == ControlKind::DefPushButton);
            (item.id == IDC_REFRESH ? m_btnRefresh : m_btnSettings) = button;
            control = button;
            break;
        }
        case ControlKind::Edit:
        case ControlKind::Radio:
        case ControlKind::CheckBox:
            continue;  // none in this template
        }
        PlaceControl(*control, item, dlu);
        const bool list = item.id == IDC_DEVICE_LIST, below = item.y > 17 + 210;
        m_anchored.push_back({control, control->geometry(), false, below, list || item.id == IDC_HINT, list});
    }
    m_listDevices->setAccessibleName(Text(LoadString(IDS_LIST_TITLE)));
    for (QPushButton* button : {m_btnRefresh, m_btnSettings})
        button->setAccessibleName(button->text().remove(QLatin1Char('&')));

    // A refresh the person asks for is an action of theirs: it ends what the last one said. The
    // automatic refresh keeps it, so a failure stays until someone has seen it and acted.
    connect(m_btnRefresh, &QPushButton::clicked, this, [this] {
        m_staticFailure->clear();
        OnRefresh();
    });
    connect(m_btnSettings, &QPushButton::clicked, this, [this] { OnSettings(); });
    connect(m_listDevices, &CDeviceList::OrderChosen, this,
            [this](int column, bool descending) { OnOrderChosen(column, descending); });
    connect(m_listDevices, &CDeviceList::ColumnsChosen, this, [this](unsigned mask) {
        if (m_pPrefs)
            m_pPrefs->SetColumns(mask);
    });

    // Window managers do not let a program add to their window menu, so the dialog carries its
    // own: the program icon in the top-right corner, above the list.
    m_pSysMenu = new QMenu(this);
    m_pSysMenu->addAction(Text(LoadString(IDS_SYSMENU_MINIMIZE)), this,
                          [this] { OnSysCommand(SC_MINIMIZE); });
    m_pSysMenu->addAction(Text(LoadString(IDS_SYSMENU_CLOSE)), this, [this] { OnSysCommand(SC_CLOSE); });
    m_pSaveItem = m_pSysMenu->addAction(Text(LoadString(IDS_SAVE_LIST)), this, [this] { OnSaveList(); });
    m_pSaveItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    m_pFindItem = m_pSysMenu->addAction(Text(LoadString(IDS_FIND)), this, [this] { OnFind(); });
    m_pFindItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    // The shortcuts work while the menu is closed only as actions of the window itself.
    addAction(m_pSaveItem);
    addAction(m_pFindItem);
    m_btnSysMenu = new QToolButton(this);
    m_btnSysMenu->setObjectName(QStringLiteral("SystemMenuButton"));
    m_btnSysMenu->setIcon(m_hIcon);
    m_btnSysMenu->setIconSize(QSize(16, 16));
    m_btnSysMenu->setAutoRaise(true);
    // Tab reaches it and Space opens it, so the menu's commands need no mouse.
    m_btnSysMenu->setFocusPolicy(Qt::TabFocus);
    m_btnSysMenu->setToolTip(Text(LoadString(IDS_SYSMENU_TIP)));
    m_btnSysMenu->setAccessibleName(m_btnSysMenu->toolTip());
    m_btnSysMenu->setPopupMode(QToolButton::InstantPopup);
    m_btnSysMenu->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; }"));
    m_btnSysMenu->setMenu(m_pSysMenu);
    const int side = std::min(dlu.Y(17) - 2, 24);
    m_btnSysMenu->setGeometry(clientWidth - dlu.X(7) - side, (dlu.Y(17) - side) / 2, side, side);
    m_anchored.push_back({m_btnSysMenu, m_btnSysMenu->geometry(), true, false, false, false});

    // The filter opens in the title's row, left of the window menu, so the list stays in place.
    m_editFilter = new QLineEdit(this);
    m_editFilter->setObjectName(QStringLiteral("Filter"));
    m_editFilter->setAccessibleName(Text(LoadString(IDS_FILTER_NAME)));
    m_editFilter->setPlaceholderText(Text(LoadString(IDS_FILTER_HINT)));
    m_editFilter->setClearButtonEnabled(true);
    // The clear button is named by its action.
    if (auto* clear = m_editFilter->findChild<QAction*>(QStringLiteral("_q_qlineeditclearaction")))
        clear->setText(tr("Clear filter"));
    const int filterHeight = std::min(dlu.Y(17) - 2, m_editFilter->sizeHint().height());
    const int filterWidth = dlu.X(150);
    m_editFilter->setGeometry(m_btnSysMenu->x() - dlu.X(4) - filterWidth, (dlu.Y(17) - filterHeight) / 2,
                              filterWidth, filterHeight);
    m_editFilter->hide();
    m_editFilter->installEventFilter(this);
    connect(m_editFilter, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_listDevices->SetFilter(text);
        UpdateStatus();
    });
    m_anchored.push_back({m_editFilter, m_editFilter->geometry(), true, false, false, false});

    CreateStatusLine();
    // The status line is the one addition: the window grows by its height, and may grow further.
    m_templateSize = QSize(clientWidth, dlu.Y(kDialogHeightDlu));
    const QSize start(clientWidth, m_templateSize.height() + m_statusBar->height());
    setMinimumSize(start);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    resize(start);
    LayoutControls();
}

void COLDiscoveryDlg::LayoutControls() {
    if (!m_statusBar)
        return;
    const int statusHeight = m_statusBar->height();
    const int dx = std::max(0, width() - m_templateSize.width());
    const int dy = std::max(0, height() - statusHeight - m_templateSize.height());
    for (const Anchored& item : m_anchored) {
        item.control->setGeometry(
            item.placed.x() + (item.moveX ? dx : 0), item.placed.y() + (item.moveY ? dy : 0),
            item.placed.width() + (item.growX ? dx : 0), item.placed.height() + (item.growY ? dy : 0));
    }
    m_statusBar->setGeometry(0, height() - statusHeight, width(), statusHeight);
}

void COLDiscoveryDlg::resizeEvent(QResizeEvent* event) {
    CDialogPersistent::resizeEvent(event);
    LayoutControls();
}

void COLDiscoveryDlg::OnFind() {
    m_editFilter->show();
    m_editFilter->setFocus(Qt::ShortcutFocusReason);
    m_editFilter->selectAll();
}

bool COLDiscoveryDlg::IsFilterOpen() const {
    return m_editFilter->isVisible();
}

void COLDiscoveryDlg::CloseFilter() {
    m_editFilter->clear();
    m_editFilter->hide();
    m_listDevices->setFocus();
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

    m_listDevices->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_listDevices->setAllColumnsShowFocus(true);
    QStringList headings;
    for (const ColumnTemplate& column : kDeviceColumns)
        headings << Text(LoadString(column.headingId));
    m_listDevices->setHeaderLabels(headings);
    for (int i = 0; i < static_cast<int>(std::size(kDeviceColumns)); ++i)
        m_listDevices->header()->resizeSection(i, kDeviceColumns[i].width);
    if (m_pPrefs)
        m_listDevices->SetOrder(m_pPrefs->GetSortColumn(), m_pPrefs->GetSortDescending());
    ApplyWindowSettings();

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
    const int action = m_pPrefs ? m_pPrefs->GetDoubleClickAction() : ACTION_BROWSER;
    m_strHint = LoadString(action == ACTION_TELNET   ? IDS_HINT_TELNET
                           : action == ACTION_COPYIP ? IDS_HINT_COPYIP
                                                     : IDS_HINT_BROWSER);
    UpdateData(false);
}

void COLDiscoveryDlg::LoadVersionText() {
    m_strVersion = "0.99";
    std::string build;  // the caption shows none
    ParseFileVersion(CVersionInfo().GetFileVersion(), m_strVersion, build);
}

void COLDiscoveryDlg::OnRefresh() {
    if (!m_pScanThread)
        return;
    m_btnRefresh->setEnabled(false);
    m_nRowCount = 0;
    m_listDevices->RemoveAllDevices();
    m_scanDevices.clear();
    RefreshFleet();
    // Without a worker nothing is queued and no scan end will come to enable the button.
    if (!m_pScanThread->RequestScan())
        m_btnRefresh->setEnabled(true);
    else
        ++m_nScansRunning;
    UpdateStatus();
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
    dlg.m_bRememberDevices = m_pPrefs->GetRememberDevices() ? 1 : 0;
    if (dlg.DoModal() != IDOK)
        return;
    m_pPrefs->SetTelnetPath(dlg.m_strTelnetPath);
    m_pPrefs->SetTelnetArgs(dlg.m_strTelnetArgs);
    m_pPrefs->SetDoubleClickAction(dlg.m_nDoubleClick);
    m_pPrefs->SetAutoRefresh(dlg.m_bAutoRefresh != 0);
    m_pPrefs->SetRememberDevices(dlg.m_bRememberDevices != 0);
    UpdateHint();
    ApplyWindowSettings();
}

void COLDiscoveryDlg::OnOrderChosen(int column, bool descending) {
    if (!m_pPrefs)
        return;
    m_pPrefs->SetSortColumn(column);
    m_pPrefs->SetSortDescending(descending);
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
    m_listDevices->AddDevice(device, ExtrasFor(device));
    m_scanDevices.push_back(device);
    ++m_nRowCount;
    UpdateStatus();
}

void COLDiscoveryDlg::OnScanDone() {
    m_btnRefresh->setEnabled(true);
    m_nScansRunning = std::max(0, m_nScansRunning - 1);
    // A scan that lost answers, stopped short or saw an interface go tells nothing of who is
    // missing: it is listed, not remembered.
    RememberScan(!m_bAnswersLost && !m_bScanTruncated && !m_bInterfaceLost);
    const unsigned said = m_bInterfaceLost ? IDS_LAST_SCAN_INTERFACE_LOST
                          : m_bAnswersLost ? IDS_LAST_SCAN_LOST
                          : m_bScanTruncated ? IDS_LAST_SCAN_INCOMPLETE
                                             : IDS_LAST_SCAN;
    m_staticLastScan->setText(
        Text(FormatString1(said, QTime::currentTime().toString(QStringLiteral("HH:mm:ss")).toStdString())));
    m_bScanTruncated = m_bAnswersLost = m_bInterfaceLost = false;
    UpdateStatus();
}

void COLDiscoveryDlg::OnScanTruncated() {
    m_bScanTruncated = true;
}

void COLDiscoveryDlg::OnAnswersLost() {
    m_bAnswersLost = true;
}

void COLDiscoveryDlg::OnInterfaceLost() {
    m_bInterfaceLost = true;
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
