#pragma once
// The main dialog: the device list, Refresh, the automatic refresh and the window's own
// system menu.
#include <memory>
#include <string>
#include <vector>

#include "base/Error.h"
#include "gui/app/DeviceList.h"
#include "gui/settings/DialogPersistent.h"

#include <QIcon>
#include <QPoint>
#include <QRect>
#include <QSize>

class CDesktopNotifier;
class CDeviceMemory;
class CFleetWatch;
struct FleetDevice;
class COrvalink;
class CPrefs;
class CScanResults;
class CScanThread;
class IScanListener;
class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QToolButton;
struct ProgramEnd;

// Window commands of the system menu (the low four bits are the system's own).
constexpr unsigned SC_MINIMIZE = 0xF020;
constexpr unsigned SC_CLOSE = 0xF060;

// What the device list tells the dialog about a click: the row hit (-1 for none) and the point
// in the list's client coordinates.
struct NMITEMACTIVATE {
    int iItem = -1;
    QPoint ptAction;
};

// The command line that starts the telnet program for ip: "%1" in the arguments stands for the
// ip, empty arguments mean the ip alone, an empty program means "telnet". Nothing is quoted.
std::string MakeTelnetCommandLine(const std::string& program, const std::string& args, const std::string& ip);

// The formats of a saved list: those of oldiscovery-scan.
enum class ListFormat { Csv, Json };
// The format a saved file's name asks for (".csv" or ".json", any case); otherwise the one of
// the chooser's file type.
ListFormat ListFormatFor(const std::string& path, ListFormat chosenType);

class COLDiscoveryDlg : public CDialogPersistent {
    Q_OBJECT
public:
    // prefs: what the double click does, the telnet program, the automatic refresh; null means
    // the defaults. scanner: started when the dialog opens, asked for every scan and locate;
    // null means none (Refresh stays usable and does nothing). Both outlive the dialog.
    explicit COLDiscoveryDlg(CPrefs* prefs = nullptr, CScanThread* scanner = nullptr,
                             QWidget* parent = nullptr);
    ~COLDiscoveryDlg() override;

    // Before the dialog opens.
    void SetScanThread(CScanThread* scanner) { m_pScanThread = scanner; }
    // Takes the scan worker's results, from any thread, while the dialog is open; null otherwise.
    IScanListener* GetScanListener() const;

    void OnRefresh();
    void OnSettings();
    void OnTimer(unsigned timerId);
    // The scan worker's results, on the UI thread.
    void OnAddDevice(const COrvalink& device);
    void OnScanDone();
    // The scan that is ending stopped at its time limit with answers still arriving.
    void OnScanTruncated();
    // The same scan lost answers to a full receive queue.
    void OnAnswersLost();
    // An interface went away or down while it ran.
    void OnInterfaceLost();
    // Commands of the system menu; IDM_ABOUTBOX opens the About box.
    virtual void OnSysCommand(unsigned command);
    void UpdateHint();
    void LoadVersionText();

    // The device list's double click and right click (or menu key) on a row.
    void OnDblclkDeviceList(const NMITEMACTIVATE* notification);
    void OnRclickDeviceList(const NMITEMACTIVATE* notification);
    // Commands of the context menu, acting on the remembered row m_nContextRow.
    void OnWebBrowser();
    void OnTelnet();
    void OnCopyIP();
    void OnLocate();
    // Ctrl+C in the list: the selected row's IP, as "Copy IP to clipboard" copies it.
    void OnCopySelectedIP();
    // "Find..." and Ctrl+F: opens the filter field (or gives it the keyboard again).
    void OnFind();
    // Escape in the filter field: empties and closes it, and every row shows again.
    void CloseFilter();
    bool IsFilterOpen() const;
    // The status line's texts as shown: the count, the last scan, "Scanning..." (empty when no
    // scan runs) and the last action's failure (empty when none).
    QString StatusText(int part) const;
    enum { STATUS_COUNT, STATUS_LAST_SCAN, STATUS_SCANNING, STATUS_FAILURE };
    // "Save list..." and Ctrl+S: asks for a file and saves the rows there.
    void OnSaveList();
    // The rows as shown, in the order shown, written to path in one step. False, after a
    // message box naming the path and the reason, when that failed; the old file then stays.
    bool SaveList(const std::string& path, ListFormat format);
    // The header's click: the order is kept in the preferences.
    void OnOrderChosen(int column, bool descending);
    // The memory of devices, the notifications and the optional columns as the preferences say.
    void ApplyWindowSettings();
    // "Forget device" on a missing row: gone from the list and the memory.
    void OnForgetDevice();
    // A command of a menu owned by the dialog.
    void OnCommand(unsigned id);
    // The first-column text of the row; empty when there is no such row.
    std::string GetRowIP(int row) const;
    void OpenWebBrowser(const std::string& ip);
    void OpenTelnet(const std::string& ip);
    void CopyIPToClipboard(const std::string& ip);
    // The window's own system menu (opened from the icon button in the top-right corner).
    QMenu* GetSystemMenu() const { return m_pSysMenu; }

    QPushButton* m_btnRefresh = nullptr;
    CDeviceList* m_listDevices = nullptr;
    std::string m_strHint;
    std::string m_strListTitle;
    QIcon m_hIcon;
    int m_nRowCount = 0;
    int m_nContextRow = -1;
    std::string m_strVersion;
    CPrefs* m_pPrefs = nullptr;
    CScanThread* m_pScanThread = nullptr;
    unsigned m_nTimerId = 0;
    unsigned m_nTicks = 0;

protected:
    bool OnInitDialog() override;
    void DoDataExchange(bool saveAndValidate) override;
    void OnDestroy() override;
    void timerEvent(QTimerEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void CreateControls();
    void CreateStatusLine();
    // Puts the controls where a window of this size has them: the list takes the room beyond
    // the template's size, the buttons and the hint stay below it, the window menu and the
    // filter in the top-right corner.
    void LayoutControls();
    void UpdateStatus();
    // Every action starts with an empty failure; a failure reported later shows only while no
    // newer action has begun.
    void BeginAction();
    void OnActionEnd(unsigned action, const std::string& program, const ProgramEnd& end);
    // The scan worker's results reach the dialog only while it is open.
    void StopScanResults();
    // After a scan: the memory told (a scan that may have missed answers is not), the new rows
    // marked and the missing ones listed, the notifications sent.
    void RememberScan(bool complete);
    // What the list shows of device beyond its answer: its name and whether its build is approved.
    RowExtras ExtrasFor(const COrvalink& device) const;
    // Said in the status line once per streak of failures.
    void ShowMemoryFailure(const Failure& failure);
    // Reads the fleet file again when it changed; a fault is said once and the last good version
    // stays. True when a new version was taken.
    bool RefreshFleet();
    // The fleet file's entry of mac; null without a fleet or an entry.
    const FleetDevice* FleetEntry(const std::string& mac) const;

    std::unique_ptr<CScanResults> m_pScanResults;
    QLabel* m_staticTitle = nullptr;
    QLabel* m_staticHint = nullptr;
    QPushButton* m_btnSettings = nullptr;
    QToolButton* m_btnSysMenu = nullptr;
    QMenu* m_pSysMenu = nullptr;
    QAction* m_pAboutItem = nullptr;  // appended once, however often the dialog opens
    QAction* m_pSaveItem = nullptr;
    QAction* m_pFindItem = nullptr;
    QLineEdit* m_editFilter = nullptr;
    QStatusBar* m_statusBar = nullptr;
    QLabel* m_staticCount = nullptr;
    QLabel* m_staticLastScan = nullptr;
    QLabel* m_staticScanning = nullptr;
    QProgressBar* m_busy = nullptr;
    QLabel* m_staticFailure = nullptr;
    // Controls that follow the window's size: where the template puts them, and which edges move.
    struct Anchored {
        QWidget* control;
        QRect placed;
        bool moveX, moveY, growX, growY;
    };
    std::vector<Anchored> m_anchored;
    QSize m_templateSize;
    int m_nScansRunning = 0;
    bool m_bScanTruncated = false;  // said with the scan's end in the status line
    bool m_bAnswersLost = false;    // the same, for answers the full receive queue dropped
    bool m_bInterfaceLost = false;  // the same, for an interface gone or down during the scan
    unsigned m_nAction = 0;
    std::unique_ptr<CDeviceMemory> m_pMemory;
    std::unique_ptr<CDesktopNotifier> m_pNotifier;
    std::unique_ptr<CFleetWatch> m_pFleet;
    std::vector<COrvalink> m_scanDevices;  // the running scan's answers
    bool m_bBaseline = false;              // the next scan's devices are the start, not news
    bool m_bMemoryFailing = false;
};
