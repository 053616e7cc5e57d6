#include "discovery/ScanApp.h"

#include <mutex>
#include <new>

#include "discovery/ScanMessages.h"
#include "log/Log.h"

namespace {

// Guards the registration; reports hold it so the object cannot be destroyed under them.
// Re-entrant: a window target that reports from Deliver must not deadlock.
std::recursive_mutex& AppLock() {
    static std::recursive_mutex* lock = new std::recursive_mutex;
    return *lock;
}

CScanApp* g_pApp = nullptr;

}  // namespace

CScanApp::CScanApp() {
    std::lock_guard lock(AppLock());
    g_pApp = this;
}

CScanApp::~CScanApp() {
    std::lock_guard lock(AppLock());
    if (g_pApp == this)
        g_pApp = nullptr;
}

CScanApp* GetScanApp() {
    std::lock_guard lock(AppLock());
    return g_pApp;
}

void CScanApp::ReportAddOrvalink(const COrvalink& record) {
    COrvalink* copy = new (std::nothrow) COrvalink;
    if (!copy) {
        LogWrite(LOG_ERROR, "ReportAddOrvalink() failed to allocate memory");
        return;
    }
    *copy = record;
    WindowHandle window = m_pMainWnd.load();
    if (window == 0 || !IsWindow(window) ||
        !PostMessage(window, WM_ADD_DEVICE, reinterpret_cast<WPARAM>(copy), 0)) {
        delete copy;
    }
}

void CScanApp::ReportScanDone() {
    WindowHandle window = m_pMainWnd.load();
    if (window == 0 || !IsWindow(window))
        return;
    PostMessage(window, WM_SCAN_DONE, 0, 0);
}

void ScanAppReportAdd(CScanApp* app, const COrvalink& record) {
    std::lock_guard lock(AppLock());
    if (app && app == g_pApp)
        app->ReportAddOrvalink(record);
}

void ScanAppReportDone(CScanApp* app) {
    std::lock_guard lock(AppLock());
    if (app && app == g_pApp)
        app->ReportScanDone();
}
