#pragma once
// The main dialog: the device list, Refresh, the automatic refresh and the window's own
// system menu.
#include <string>

#include "platform/Messages.h"
#include "platform/qt/WindowMessage.h"
#include "settings/DialogPersistent.h"

#include <QIcon>
#include <QPoint>

class CPrefs;
class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QToolButton;
class QTreeWidget;

// Window commands of the system menu (the low four bits are the system's own).
constexpr unsigned SC_MINIMIZE = 0xF020;
constexpr unsigned SC_CLOSE = 0xF060;

// What the device list tells the dialog about a click: the row hit (-1 for none) and the point
// in the list's client coordinates.
struct NMITEMACTIVATE {
    int iItem = -1;
    int iSubItem = 0;
    QPoint ptAction;
};

// The command line that starts the telnet program for ip: "%1" in the arguments stands for the
// ip, empty arguments mean the ip alone, an empty program means "telnet". Nothing is quoted.
std::string MakeTelnetCommandLine(const std::string& program, const std::string& args,
                                  const std::string& ip);

class COLDiscoveryDlg : public CDialogPersistent {
    Q_OBJECT
public:
    explicit COLDiscoveryDlg(QWidget* parent = nullptr);
    ~COLDiscoveryDlg() override;

    // The handle the scan worker posts to; 0 once the window is gone.
    WindowHandle GetSafeHwnd() const { return m_hWnd; }
    // The control with the given template id, or null.
    QWidget* GetDlgItem(int id) const;

    void OnRefresh();
    void OnSettings();
    void OnTimer(unsigned timerId);
    LRESULT OnAddDevice(WPARAM wParam, LPARAM lParam);
    LRESULT OnScanDone(WPARAM wParam, LPARAM lParam);
    // Commands of the system menu; IDM_ABOUTBOX opens the About box.
    virtual void OnSysCommand(unsigned command, LPARAM param);
    void UpdateHint();
    void LoadVersionText();

    // The device list's double click and right click (or menu key) on a row.
    void OnDblclkDeviceList(const NMITEMACTIVATE* notification, LRESULT* result);
    void OnRclickDeviceList(const NMITEMACTIVATE* notification, LRESULT* result);
    // Commands of the context menu, acting on the remembered row m_nContextRow.
    void OnWebBrowser();
    void OnTelnet();
    void OnCopyIP();
    void OnLocate();
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
    QTreeWidget* m_listDevices = nullptr;
    std::string m_strHint;
    std::string m_strListTitle;
    QIcon m_hIcon;
    int m_nRowCount = 0;
    int m_nContextRow = -1;
    std::string m_strVersion;
    CPrefs* m_pPrefs = nullptr;
    unsigned m_nTimerId = 0;
    unsigned m_nTicks = 0;

protected:
    bool OnInitDialog() override;
    void DoDataExchange(bool saveAndValidate) override;
    void OnDestroy() override;
    void customEvent(QEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

    LRESULT WindowProc(unsigned message, WPARAM wParam, LPARAM lParam);

private:
    void CreateControls();
    void RegisterMainWindow();
    void UnregisterMainWindow();

    WindowHandle m_hWnd = 0;
    QLabel* m_staticTitle = nullptr;
    QLabel* m_staticHint = nullptr;
    QPushButton* m_btnSettings = nullptr;
    QToolButton* m_btnSysMenu = nullptr;
    QMenu* m_pSysMenu = nullptr;
    QAction* m_pAboutItem = nullptr;  // appended once, however often the dialog opens
};
