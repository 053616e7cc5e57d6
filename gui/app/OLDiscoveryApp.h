#pragma once
// The application object: start-up checks, the scan thread, the main dialog, shut-down.
#include <memory>
#include <string>

#include "gui/app/SystemProbe.h"
#include "net/HardwareResolver.h"
#include "net/SocketLayer.h"
#include "gui/framework/WinApp.h"
#include "gui/settings/Prefs.h"

class CScanThread;

class COLDiscoveryApp : public CWinApp {
public:
    // probe: what the start-up checks ask (CreateSystemProbe for the running system); sockets: the
    // layer the scan thread opens its socket through, the system's made from what main opened
    // (null: none, the scan thread cannot start); resolver: the scan's hardware addresses, the
    // system's from the packet socket main opened; appName null: the program file's base name.
    COLDiscoveryApp(std::shared_ptr<ISystemProbe> probe, std::shared_ptr<ISocketLayer> sockets,
                    std::shared_ptr<IHardwareResolver> resolver, const char* appName = nullptr);
    ~COLDiscoveryApp() override;

    // The whole run: checks, main dialog, save, stop. Always false.
    bool InitInstance() override;
    // The program's exit status after InitInstance: 0 after a run, 1 when the start was refused
    // (unsupported system, no right to raw sockets, no scan thread), so a launcher can tell.
    int ExitCode() const { return m_nExitCode; }

    bool CheckWindowsVersion();
    bool CheckAdminRights();
    bool CreateScanThread();
    // Stops and deletes the scan-thread object; nothing when there is none.
    void StopScanThread();

    CScanThread* m_pScanThread = nullptr;
    CPrefs m_prefs{this};

private:
    // Error line, message box; the caller goes on with the stop.
    void ReportStartupFailure(const std::string& text);

    std::shared_ptr<ISystemProbe> m_pProbe;
    std::shared_ptr<ISocketLayer> m_pSockets;
    std::shared_ptr<IHardwareResolver> m_pResolver;
    int m_nExitCode = 0;
};
