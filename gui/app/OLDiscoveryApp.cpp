#include "gui/app/OLDiscoveryApp.h"

#include <new>

#include "gui/app/OLDiscoveryDlg.h"
#include "gui/app/SignalClose.h"
#include "engine/ScanThread.h"
#include "log/Log.h"
#include "base/ProgramFile.h"
#include "gui/framework/MessageBox.h"
#include "res/Resource.h"
#include "res/StringTable.h"
#include "gui/version/VersionInfo.h"

namespace {

constexpr char kCompanyKey[] = "Quarrin-Velto Networks";

// Everything the discovery engine needs of the kernel (raw ICMP with IP_PKTINFO, rtnetlink
// neighbour queries, file capabilities) is there from this release on.
constexpr unsigned kMinKernelMajor = 3;
constexpr unsigned kMinKernelMinor = 10;

}  // namespace

COLDiscoveryApp::COLDiscoveryApp(std::shared_ptr<ISystemProbe> probe, std::shared_ptr<ISocketLayer> sockets,
                                 std::shared_ptr<IHardwareResolver> resolver, const char* appName)
    : CWinApp(appName),
      m_pProbe(std::move(probe)),
      m_pSockets(std::move(sockets)),
      m_pResolver(std::move(resolver)) {}

COLDiscoveryApp::~COLDiscoveryApp() {
    StopScanThread();
    LogWrite(LOG_DEBUG, "Orvalink Discovery Tool closed.");
    LogClose();
}

bool COLDiscoveryApp::InitInstance() {
    // From here a termination signal closes the windows as Cancel and lets the run end below.
    CSignalClose signalClose;
    COLDiscoveryDlg dlg(&m_prefs);

    LoadVersionStrings();
    SetRegistryKey(kCompanyKey);
    m_prefs.Load();
    // A settings file the preferences could not be read from was met before the log existed.
    const std::string profileWarning = ProfileWarning();

    LogOpen("debug.log");
    LogSetLevel(LOG_WARNING);
    LogWrite(LOG_DEBUG, "************************************************************");
    LogWrite(LOG_DEBUG, "Orvalink Discovery Tool (V%s, Build %s, %s) starting.", g_strVersion.c_str(),
             g_strBuild.c_str(), g_strSpecialBuild.c_str());
    if (!profileWarning.empty())
        LogWrite(LOG_WARNING, "%s", profileWarning.c_str());

    if (!CheckWindowsVersion()) {
        ReportStartupFailure(LoadString(IDS_NEED_LINUX));
    } else if (!CheckAdminRights()) {
        const Result<std::string> program = GetProgramFilePath();
        ReportStartupFailure(FormatString1(IDS_NEED_ADMIN, ShellQuoted(program ? *program : AppName())));
    } else if (!CreateScanThread()) {
        ReportStartupFailure(LoadString(IDS_NO_SCAN_THREAD));
    } else {
        dlg.SetScanThread(m_pScanThread);
        dlg.DoModal();
        m_prefs.Save();
    }

    StopScanThread();
    return false;
}

bool COLDiscoveryApp::CheckWindowsVersion() {
    LogWrite(LOG_DEBUG, "Checking version of Windows");
    unsigned major = 0, minor = 0;
    if (!m_pProbe->GetSystemVersion(&major, &minor))
        return false;
    if (major < kMinKernelMajor || (major == kMinKernelMajor && minor < kMinKernelMinor))
        return false;
    LogWrite(LOG_DEBUG, "  Windows is Win2k or newer");
    return true;
}

bool COLDiscoveryApp::CheckAdminRights() {
    LogWrite(LOG_DEBUG, "Checking whether current user has administrative rights");
    bool admin = m_pProbe->HasRawSocketRights();
    LogWrite(LOG_DEBUG,
             admin ? "  User has administrative rights" : "  User does not have administrative rights");
    return admin;
}

bool COLDiscoveryApp::CreateScanThread() {
    m_pScanThread = new (std::nothrow) CScanThread(m_pSockets, m_pResolver);
    if (!m_pScanThread) {
        LogWrite(LOG_ERROR, "Can't create worker thread object");
        return false;
    }
    return true;
}

void COLDiscoveryApp::StopScanThread() {
    if (!m_pScanThread)
        return;
    m_pScanThread->Stop();
    delete m_pScanThread;
    m_pScanThread = nullptr;
}

void COLDiscoveryApp::ReportStartupFailure(const std::string& text) {
    m_nExitCode = 1;
    // The text is the message, never a format: it may carry a '%'.
    LogWrite(LOG_ERROR, "%s", text.c_str());
    ShowMessageBox(AppName(), text, MessageIcon::Warning);
}
