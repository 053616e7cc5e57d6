#pragma once
// A stand-in for the main window: it queues the window messages posted to it and lets a test
// wait for them with a bound. Register it with RegisterWindow (platform/Messages.h).
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/Messages.h"

namespace testsupport {

class TestWindow : public IMessageTarget {
public:
    // dispose frees whatever a message still queued at destruction carries (e.g. a heap record).
    explicit TestWindow(std::function<void(const MSG&)> dispose = {});
    ~TestWindow() override;

    bool Deliver(unsigned message, WPARAM wParam, LPARAM lParam) override;

    // While refusing, Deliver returns false and queues nothing.
    void Refuse(bool refuse);
    // True once at least count messages with this id have arrived (within the bound).
    bool WaitFor(unsigned message, std::size_t count, std::chrono::milliseconds bound);
    // Takes every queued message, in arrival order.
    std::vector<MSG> Take();
    std::size_t Count(unsigned message);

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<MSG> m_messages;
    bool m_bRefuse = false;
    std::function<void(const MSG&)> m_dispose;
};

}  // namespace testsupport
