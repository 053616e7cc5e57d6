// Window messages turned into Qt events: order, thread hop, and ownership of what they carry.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QObject>
#include <QThread>

#include <memory>
#include <thread>
#include <vector>

#include "AppTestSupport.h"
#include "platform/qt/WindowMessage.h"

namespace {

std::vector<WPARAM> g_disposed;

void Dispose(unsigned, WPARAM wParam, LPARAM) {
    g_disposed.push_back(wParam);
}

class Receiver : public QObject {
public:
    explicit Receiver(bool take) : m_bTake(take) {}
    void customEvent(QEvent* event) override {
        if (event->type() != CWindowMessageEvent::EventType())
            return;
        auto* message = static_cast<CWindowMessageEvent*>(event);
        if (m_bTake)
            message->Take();
        m_seen.push_back({message->Message(), message->WParam(), message->LParam()});
        m_threads.push_back(QThread::currentThread());
    }
    bool m_bTake;
    std::vector<MSG> m_seen;
    std::vector<QThread*> m_threads;
};

class WindowMessageTest : public testing::Test {
protected:
    WindowMessageTest() { g_disposed.clear(); }
};

}  // namespace

TEST_F(WindowMessageTest, PostsFromAnotherThreadArriveInOrderOnTheReceiversThread) {
    Receiver receiver(true);
    WindowHandle window = RegisterWindow(std::make_shared<CQtMessageTarget>(&receiver, &Dispose));
    std::thread poster([&] {
        for (WPARAM i = 1; i <= 100; ++i)
            ASSERT_TRUE(PostMessage(window, 0x7E8, i, static_cast<LPARAM>(i) * 2));
    });
    poster.join();
    ASSERT_TRUE(apptest::WaitUntil([&] { return receiver.m_seen.size() == 100; }));
    for (WPARAM i = 1; i <= 100; ++i) {
        EXPECT_EQ(receiver.m_seen[i - 1].wParam, i);
        EXPECT_EQ(receiver.m_seen[i - 1].lParam, static_cast<LPARAM>(i) * 2);
    }
    EXPECT_EQ(receiver.m_threads.front(), QCoreApplication::instance()->thread());
    EXPECT_TRUE(g_disposed.empty()) << "taken messages are the handler's";
    UnregisterWindow(window);
}

TEST_F(WindowMessageTest, AMessageTheHandlerDidNotTakeIsDisposedOnce) {
    Receiver receiver(false);
    WindowHandle window = RegisterWindow(std::make_shared<CQtMessageTarget>(&receiver, &Dispose));
    ASSERT_TRUE(PostMessage(window, 0x7E8, 42, 0));
    ASSERT_TRUE(apptest::WaitUntil([&] { return receiver.m_seen.size() == 1; }));
    EXPECT_EQ(g_disposed, std::vector<WPARAM>{42});
    UnregisterWindow(window);
}

TEST_F(WindowMessageTest, MessagesPendingWhenTheReceiverGoesAreDisposed) {
    auto receiver = std::make_unique<Receiver>(true);
    WindowHandle window =
        RegisterWindow(std::make_shared<CQtMessageTarget>(receiver.get(), &Dispose));
    ASSERT_TRUE(PostMessage(window, 0x7E8, 1, 0));
    ASSERT_TRUE(PostMessage(window, 0x7E9, 2, 0));
    UnregisterWindow(window);
    EXPECT_FALSE(PostMessage(window, 0x7E8, 3, 0)) << "no post after the window is gone";
    receiver.reset();
    EXPECT_EQ(g_disposed, (std::vector<WPARAM>{1, 2}));
}
