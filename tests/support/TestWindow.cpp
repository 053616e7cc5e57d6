#include "TestWindow.h"

#include <algorithm>

namespace testsupport {

TestWindow::TestWindow(std::function<void(const MSG&)> dispose) : m_dispose(std::move(dispose)) {}

TestWindow::~TestWindow() {
    if (m_dispose)
        for (const MSG& m : m_messages)
            m_dispose(m);
}

bool TestWindow::Deliver(unsigned message, WPARAM wParam, LPARAM lParam) {
    {
        std::lock_guard lock(m_mutex);
        if (m_bRefuse)
            return false;
        m_messages.push_back(MSG{message, wParam, lParam});
    }
    m_cv.notify_all();
    return true;
}

void TestWindow::Refuse(bool refuse) {
    std::lock_guard lock(m_mutex);
    m_bRefuse = refuse;
}

bool TestWindow::WaitFor(unsigned message, std::size_t count, std::chrono::milliseconds bound) {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, bound, [&] {
        return static_cast<std::size_t>(std::count_if(m_messages.begin(), m_messages.end(),
                                                      [&](const MSG& m) {
                                                          return m.message == message;
                                                      })) >= count;
    });
}

std::vector<MSG> TestWindow::Take() {
    std::lock_guard lock(m_mutex);
    std::vector<MSG> taken;
    taken.swap(m_messages);
    return taken;
}

std::size_t TestWindow::Count(unsigned message) {
    std::lock_guard lock(m_mutex);
    return static_cast<std::size_t>(std::count_if(
        m_messages.begin(), m_messages.end(), [&](const MSG& m) { return m.message == message; }));
}

}  // namespace testsupport
