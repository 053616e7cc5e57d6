// Thread message queues and the window registry.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "TestWindow.h"
#include "platform/Messages.h"
#include "platform/Thread.h"

using namespace std::chrono_literals;
using testsupport::TestWindow;

namespace {

constexpr auto kBound = 10s;

struct Latch {
    std::mutex mutex;
    std::condition_variable cv;
    bool open = false;
    void Open() {
        {
            std::lock_guard lock(mutex);
            open = true;
        }
        cv.notify_all();
    }
    bool Wait() {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, kBound, [&] { return open; });
    }
};

TEST(MessagesTest, ThreadIdsAreDistinctAndStable) {
    ThreadId mine = GetCurrentThreadId();
    EXPECT_NE(mine, 0u);
    EXPECT_EQ(GetCurrentThreadId(), mine);
    ThreadId other = 0;
    std::thread([&] { other = GetCurrentThreadId(); }).join();
    EXPECT_NE(other, 0u);
    EXPECT_NE(other, mine);
}

TEST(MessagesTest, PostNeedsAQueueAndPeekMakesOneWithoutRemoving) {
    ThreadId id = 0;
    Latch idKnown, posted, checked, bothPosted;
    bool peekedBefore = true, peekedLow = true, peekedRange = false, peekedAgain = false;
    MSG first{}, got{};
    std::thread worker([&] {
        id = GetCurrentThreadId();
        idKnown.Open();
        posted.Wait();  // the first post went to no queue
        MSG m{};
        peekedBefore = PeekMessage(&m, 0, 0);  // creates the queue
        checked.Open();
        bothPosted.Wait();
        GetMessage(&first);
        peekedLow = PeekMessage(&m, WM_USER, WM_USER);
        peekedRange = PeekMessage(&got, WM_USER + 1, WM_USER + 9);
        peekedAgain = PeekMessage(&m, 0, 0);
    });
    ASSERT_TRUE(idKnown.Wait());
    EXPECT_FALSE(PostThreadMessage(id, WM_USER + 7, 1, 2));
    posted.Open();
    ASSERT_TRUE(checked.Wait());
    EXPECT_TRUE(PostThreadMessage(id, WM_USER + 1, 11, 12));
    EXPECT_TRUE(PostThreadMessage(id, WM_USER + 2, 21, 22));
    bothPosted.Open();
    worker.join();
    EXPECT_FALSE(peekedBefore);
    EXPECT_EQ(first.message, WM_USER + 1u);
    EXPECT_EQ(first.wParam, 11u);
    EXPECT_EQ(first.lParam, 12);
    EXPECT_FALSE(peekedLow);
    EXPECT_TRUE(peekedRange);
    EXPECT_EQ(got.message, WM_USER + 2u);
    EXPECT_TRUE(peekedAgain);  // peeking did not take it
}

TEST(MessagesTest, GetMessageReturnsPostsInOrderAcrossThreads) {
    ThreadId id = 0;
    Latch ready;
    std::vector<WPARAM> seen;
    std::thread worker([&] {
        MSG m{};
        PeekMessage(&m, 0, 0);
        id = GetCurrentThreadId();
        ready.Open();
        for (int i = 0; i < 2000; ++i) {
            GetMessage(&m);
            seen.push_back(m.wParam);
        }
    });
    ASSERT_TRUE(ready.Wait());
    std::thread second([&] {
        for (WPARAM i = 1000; i < 2000; ++i)
            PostThreadMessage(id, WM_USER, i, 0);
    });
    for (WPARAM i = 0; i < 1000; ++i)
        PostThreadMessage(id, WM_USER, i, 0);
    second.join();
    worker.join();
    ASSERT_EQ(seen.size(), 2000u);
    // Each poster's messages keep their order.
    WPARAM lastLow = 0, lastHigh = 999;
    bool anyLow = false;
    for (WPARAM v : seen) {
        if (v < 1000) {
            if (anyLow) {
                EXPECT_GT(v, lastLow);
            }
            lastLow = v;
            anyLow = true;
        } else {
            EXPECT_GT(v, lastHigh);
            lastHigh = v;
        }
    }
}

TEST(MessagesTest, QueueGoesAwayWithItsThread) {
    ThreadId id = 0;
    std::thread([&] {
        MSG m{};
        PeekMessage(&m, 0, 0);
        id = GetCurrentThreadId();
    }).join();
    EXPECT_FALSE(PostThreadMessage(id, WM_USER, 0, 0));
}

TEST(MessagesTest, ClosingTheQueueHandsBackWhatWasStillInIt) {
    MSG m{};
    PeekMessage(&m, 0, 0);
    ThreadId me = GetCurrentThreadId();
    ASSERT_TRUE(PostThreadMessage(me, WM_USER + 1, 5, 0));
    ASSERT_TRUE(PostThreadMessage(me, WM_USER + 2, 6, 0));
    std::vector<MSG> rest = CloseThreadQueue();
    ASSERT_EQ(rest.size(), 2u);
    EXPECT_EQ(rest[0].wParam, 5u);
    EXPECT_EQ(rest[1].wParam, 6u);
    EXPECT_FALSE(PostThreadMessage(me, WM_USER, 0, 0));
    EXPECT_TRUE(CloseThreadQueue().empty());
}

TEST(MessagesTest, WindowsReceiveUntilUnregistered) {
    auto target = std::make_shared<TestWindow>();
    WindowHandle hwnd = RegisterWindow(target);
    ASSERT_NE(hwnd, 0u);
    EXPECT_TRUE(IsWindow(hwnd));
    EXPECT_FALSE(IsWindow(0));
    EXPECT_FALSE(PostMessage(0, WM_USER, 0, 0));
    EXPECT_TRUE(PostMessage(hwnd, WM_USER + 1000, 42, 0));
    target->Refuse(true);
    EXPECT_FALSE(PostMessage(hwnd, WM_USER + 1001, 0, 0));
    target->Refuse(false);
    UnregisterWindow(hwnd);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_FALSE(PostMessage(hwnd, WM_USER + 1001, 0, 0));
    UnregisterWindow(hwnd);  // twice is harmless
    std::vector<MSG> got = target->Take();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].wParam, 42u);
    // Handles are not reused.
    WindowHandle next = RegisterWindow(target);
    EXPECT_NE(next, hwnd);
    UnregisterWindow(next);
    EXPECT_EQ(RegisterWindow(nullptr), 0u);
}

// A target that blocks in Deliver until released.
class SlowTarget : public IMessageTarget {
public:
    bool Deliver(unsigned, WPARAM, LPARAM) override {
        inside.Open();
        release.Wait();
        finished = true;
        return true;
    }
    Latch inside, release;
    std::atomic<bool> finished{false};
};

TEST(MessagesTest, UnregisterWaitsForADeliveryInFlight) {
    auto target = std::make_shared<SlowTarget>();
    WindowHandle hwnd = RegisterWindow(target);
    std::thread poster([&] { PostMessage(hwnd, WM_USER, 0, 0); });
    ASSERT_TRUE(target->inside.Wait());
    std::atomic<bool> finishedWhenUnregistered{false};
    std::thread closer([&] {
        UnregisterWindow(hwnd);
        finishedWhenUnregistered = target->finished.load();
    });
    target->release.Open();
    closer.join();
    poster.join();
    EXPECT_TRUE(finishedWhenUnregistered);
}

// Deliver may unregister its own window without deadlock or use after free.
class SelfClosingTarget : public IMessageTarget {
public:
    bool Deliver(unsigned, WPARAM, LPARAM) override {
        UnregisterWindow(hwnd);
        ++count;
        return true;
    }
    WindowHandle hwnd = 0;
    int count = 0;
};

TEST(MessagesTest, TargetMayUnregisterItselfWhileDelivering) {
    auto target = std::make_shared<SelfClosingTarget>();
    std::weak_ptr<SelfClosingTarget> watch = target;
    target->hwnd = RegisterWindow(target);
    WindowHandle hwnd = target->hwnd;
    target.reset();  // the registry holds the only reference now
    EXPECT_TRUE(PostMessage(hwnd, WM_USER, 0, 0));
    EXPECT_TRUE(watch.expired());
    EXPECT_FALSE(PostMessage(hwnd, WM_USER, 0, 0));
}

}  // namespace
