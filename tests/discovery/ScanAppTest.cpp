#include <gtest/gtest.h>

#include <memory>

#include "LogCapture.h"
#include "TestWindow.h"
#include "discovery/ScanApp.h"
#include "discovery/ScanMessages.h"

using namespace std::chrono_literals;
using testsupport::TestWindow;

namespace {

void DisposeMessage(const MSG& m) {
    if (m.message == WM_ADD_DEVICE)
        delete reinterpret_cast<COrvalink*>(m.wParam);
}

COrvalink Record() {
    COrvalink r;
    r.m_strIP = "10.0.0.20";
    r.m_strMAC = "02:00:00:12:34:AB";
    r.m_strType = "OL-500";
    r.m_strBuild = "1009";
    return r;
}

class ScanAppTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_window = std::make_shared<TestWindow>(DisposeMessage);
        m_hwnd = RegisterWindow(m_window);
    }
    void TearDown() override { UnregisterWindow(m_hwnd); }

    LogCapture m_log;
    CScanApp m_app;
    std::shared_ptr<TestWindow> m_window;
    WindowHandle m_hwnd = 0;
};

TEST_F(ScanAppTest, FoundDeviceTravelsAsAHeapCopyThatTheWindowOwns) {
    m_app.m_pMainWnd = m_hwnd;
    COrvalink local = Record();
    m_app.ReportAddOrvalink(local);
    m_app.ReportScanDone();
    std::vector<MSG> got = m_window->Take();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].message, WM_ADD_DEVICE);
    EXPECT_EQ(got[0].lParam, 0);
    std::unique_ptr<COrvalink> copy(reinterpret_cast<COrvalink*>(got[0].wParam));
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy.get(), &local);
    EXPECT_EQ(copy->m_strIP, "10.0.0.20");
    EXPECT_EQ(copy->m_strMAC, "02:00:00:12:34:AB");
    EXPECT_EQ(copy->m_strType, "OL-500");
    EXPECT_EQ(copy->m_strBuild, "1009");
    EXPECT_EQ(got[1].message, WM_SCAN_DONE);
    EXPECT_EQ(got[1].wParam, 0u);
    EXPECT_EQ(got[1].lParam, 0);
}

// In each case the record must be freed by the report itself; the sanitizer build proves it.
TEST_F(ScanAppTest, UndeliverableRecordIsFreed) {
    m_app.m_pMainWnd = 0;
    m_app.ReportAddOrvalink(Record());
    m_app.ReportScanDone();

    m_app.m_pMainWnd = m_hwnd;
    m_window->Refuse(true);
    m_app.ReportAddOrvalink(Record());
    m_window->Refuse(false);

    UnregisterWindow(m_hwnd);
    m_app.ReportAddOrvalink(Record());
    m_app.ReportScanDone();
    EXPECT_TRUE(m_window->Take().empty());
    EXPECT_TRUE(m_log.Texts().empty());
}

TEST_F(ScanAppTest, LastConstructedObjectIsTheApplicationUntilItGoes) {
    EXPECT_EQ(GetScanApp(), &m_app);
    CScanApp* gone = nullptr;
    {
        auto other = std::make_unique<CScanApp>();
        EXPECT_EQ(GetScanApp(), other.get());
        gone = other.get();
        other->m_pMainWnd = m_hwnd;
    }
    EXPECT_EQ(GetScanApp(), nullptr);
    // A worker still holding the old pointer reaches nothing.
    ScanAppReportAdd(gone, Record());
    ScanAppReportDone(gone);
    EXPECT_TRUE(m_window->Take().empty());
}

TEST_F(ScanAppTest, WorkerSideReportsGoThroughTheRegisteredApplication) {
    m_app.m_pMainWnd = m_hwnd;
    ScanAppReportAdd(&m_app, Record());
    ScanAppReportDone(&m_app);
    ScanAppReportAdd(nullptr, Record());
    EXPECT_EQ(m_window->Count(WM_ADD_DEVICE), 1u);
    EXPECT_EQ(m_window->Count(WM_SCAN_DONE), 1u);
}

}  // namespace
