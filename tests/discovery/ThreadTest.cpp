// Worker threads, events and bounded waits.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/Messages.h"
#include "platform/Thread.h"

using namespace std::chrono_literals;

namespace {

TEST(EventTest, AutoResetEventReleasesOneWaitPerSignal) {
    CEvent ev;
    EXPECT_EQ(WaitForSingleObject(&ev, 0), WAIT_TIMEOUT);
    ev.SetEvent();
    EXPECT_EQ(WaitForSingleObject(&ev, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(&ev, 0), WAIT_TIMEOUT);
    ev.SetEvent();
    ev.ResetEvent();
    EXPECT_EQ(WaitForSingleObject(&ev, 0), WAIT_TIMEOUT);
}

TEST(EventTest, ManualResetEventStaysSignalled) {
    CEvent ev(true, true);
    EXPECT_EQ(WaitForSingleObject(&ev, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(&ev, 0), WAIT_OBJECT_0);
    ev.ResetEvent();
    EXPECT_EQ(WaitForSingleObject(&ev, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(static_cast<CSyncObject*>(nullptr), 0), WAIT_FAILED);
}

TEST(EventTest, SignalFromAnotherThreadWakesTheWaiter) {
    CEvent ev;
    std::thread setter([&] { ev.SetEvent(); });
    EXPECT_EQ(WaitForSingleObject(&ev, INFINITE), WAIT_OBJECT_0);
    setter.join();
}

struct ProcState {
    std::atomic<int> runs{0};
    CEvent queueReady;
    std::atomic<WPARAM> received{0};
};

unsigned EchoProc(void* param) {
    auto* state = static_cast<ProcState*>(param);
    ++state->runs;
    MSG m{};
    PeekMessage(&m, WM_USER, WM_USER);
    state->queueReady.SetEvent();
    GetMessage(&m);
    state->received = m.wParam;
    return 0;
}

TEST(WinThreadTest, ThreadRunsItsProcedureAndTakesPostsById) {
    ProcState state;
    CWinThread* thread = AfxBeginThread(EchoProc, &state);
    ASSERT_NE(thread, nullptr);
    ThreadId id = thread->m_nThreadID;
    std::shared_ptr<CThreadHandle> handle = thread->m_hThread;  // the object deletes itself
    EXPECT_NE(id, 0u);
    EXPECT_NE(id, GetCurrentThreadId());
    ASSERT_EQ(WaitForSingleObject(&state.queueReady, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(handle, 0), WAIT_TIMEOUT);
    ASSERT_TRUE(PostThreadMessage(id, WM_USER + 5, 77, 0));
    ASSERT_EQ(WaitForSingleObject(handle, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(state.received.load(), 77u);
    EXPECT_EQ(state.runs.load(), 1);
    // Its queue went with it.
    EXPECT_FALSE(PostThreadMessage(id, WM_USER, 0, 0));
    EXPECT_TRUE(handle->HasEnded());
}

unsigned CountProc(void* param) {
    ++*static_cast<std::atomic<int>*>(param);
    return 0;
}

TEST(WinThreadTest, SuspendedThreadWaitsForResume) {
    std::atomic<int> runs{0};
    CWinThread* thread = AfxBeginThread(CountProc, &runs, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
    ASSERT_NE(thread, nullptr);
    std::shared_ptr<CThreadHandle> handle = thread->m_hThread;
    // Still suspended: the handle cannot become signalled.
    EXPECT_EQ(WaitForSingleObject(handle, 0), WAIT_TIMEOUT);
    EXPECT_EQ(runs.load(), 0);
    EXPECT_TRUE(thread->ResumeThread());
    ASSERT_EQ(WaitForSingleObject(handle, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(runs.load(), 1);
}

TEST(WinThreadTest, NullProcedureMakesNoThread) {
    EXPECT_EQ(AfxBeginThread(nullptr, nullptr), nullptr);
}

}  // namespace
