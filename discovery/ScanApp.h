#pragma once
// The part of the application object the scan worker talks to: it hands found devices and
// scan ends to the registered main window as posted window messages.
#include <atomic>

#include "discovery/Orvalink.h"
#include "platform/Messages.h"

class CScanApp {
public:
    // Registers this object as the program's application object (see GetScanApp).
    CScanApp();
    virtual ~CScanApp();
    CScanApp(const CScanApp&) = delete;
    CScanApp& operator=(const CScanApp&) = delete;

    // Worker thread: copies the record to the heap and posts WM_ADD_DEVICE to the main window;
    // the copy is freed when there is no main window or the post fails.
    void ReportAddOrvalink(const COrvalink& record);
    // Worker thread: posts WM_SCAN_DONE to the main window, if there is one.
    void ReportScanDone();

    // The main window; 0 when none is registered. Set on the UI thread before the worker runs.
    std::atomic<WindowHandle> m_pMainWnd{0};
};

// The program's application object, or null.
CScanApp* GetScanApp();

// Worker thread: the two reports, made only while app is still the registered application
// object (checked under the same lock its destructor takes), so a worker that outlived its
// stop handshake never calls into a destroyed application.
void ScanAppReportAdd(CScanApp* app, const COrvalink& record);
void ScanAppReportDone(CScanApp* app);
