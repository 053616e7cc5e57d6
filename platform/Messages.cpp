#include "platform/Messages.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/Thread.h"

namespace {

// ---- thread queues ----

struct ThreadQueue {
    std::mutex mutex;
    std::condition_variable cv;
    std::deque<MSG> messages;
};

// Process-lifetime registries: allocated once and never destroyed, so a thread that ends during
// static destruction still finds them.
struct QueueRegistry {
    std::mutex mutex;
    std::unordered_map<ThreadId, std::shared_ptr<ThreadQueue>> queues;
};

QueueRegistry& Queues() {
    static QueueRegistry* registry = new QueueRegistry;
    return *registry;
}

std::atomic<ThreadId> g_nextThreadId{1};

std::shared_ptr<ThreadQueue> RemoveQueue(ThreadId id) {
    QueueRegistry& reg = Queues();
    std::lock_guard lock(reg.mutex);
    auto it = reg.queues.find(id);
    if (it == reg.queues.end())
        return nullptr;
    std::shared_ptr<ThreadQueue> queue = std::move(it->second);
    reg.queues.erase(it);
    return queue;
}

// Removes the thread's queue when the thread ends, whoever created the thread.
struct QueueReaper {
    ThreadId id = 0;
    ~QueueReaper() {
        if (id != 0)
            RemoveQueue(id);
    }
};

thread_local ThreadId t_threadId = 0;
thread_local QueueReaper t_reaper;

std::shared_ptr<ThreadQueue> OwnQueue() {
    ThreadId id = GetCurrentThreadId();
    QueueRegistry& reg = Queues();
    std::lock_guard lock(reg.mutex);
    std::shared_ptr<ThreadQueue>& slot = reg.queues[id];
    if (!slot) {
        slot = std::make_shared<ThreadQueue>();
        t_reaper.id = id;
    }
    return slot;
}

bool InFilter(unsigned message, unsigned filterMin, unsigned filterMax) {
    if (filterMin == 0 && filterMax == 0)
        return true;
    return message >= filterMin && message <= filterMax;
}

// ---- windows ----

struct WindowEntry {
    // Held while delivering; re-entrant so a target may post or unregister from Deliver.
    std::recursive_mutex mutex;
    bool alive = true;
    std::shared_ptr<IMessageTarget> target;
};

struct WindowRegistry {
    std::mutex mutex;
    std::map<WindowHandle, std::shared_ptr<WindowEntry>> windows;
    WindowHandle nextHandle = 1;
};

WindowRegistry& Windows() {
    static WindowRegistry* registry = new WindowRegistry;
    return *registry;
}

std::shared_ptr<WindowEntry> FindWindow(WindowHandle window) {
    WindowRegistry& reg = Windows();
    std::lock_guard lock(reg.mutex);
    auto it = reg.windows.find(window);
    return it == reg.windows.end() ? nullptr : it->second;
}

}  // namespace

ThreadId GetCurrentThreadId() {
    if (t_threadId == 0)
        t_threadId = g_nextThreadId.fetch_add(1);
    return t_threadId;
}

bool PeekMessage(MSG* msg, unsigned filterMin, unsigned filterMax) {
    std::shared_ptr<ThreadQueue> queue = OwnQueue();
    std::lock_guard lock(queue->mutex);
    for (const MSG& m : queue->messages) {
        if (InFilter(m.message, filterMin, filterMax)) {
            if (msg)
                *msg = m;
            return true;
        }
    }
    return false;
}

bool GetMessage(MSG* msg) {
    std::shared_ptr<ThreadQueue> queue = OwnQueue();
    std::unique_lock lock(queue->mutex);
    queue->cv.wait(lock, [&] { return !queue->messages.empty(); });
    MSG m = queue->messages.front();
    queue->messages.pop_front();
    if (msg)
        *msg = m;
    return true;
}

bool PostThreadMessage(ThreadId thread, unsigned message, WPARAM wParam, LPARAM lParam) {
    // The registry lock is held while queueing so that CloseThreadQueue, which removes the queue
    // under the same lock, never misses a message posted just before it.
    QueueRegistry& reg = Queues();
    std::lock_guard regLock(reg.mutex);
    auto it = reg.queues.find(thread);
    if (it == reg.queues.end())
        return false;
    ThreadQueue& queue = *it->second;
    {
        std::lock_guard lock(queue.mutex);
        queue.messages.push_back(MSG{message, wParam, lParam});
    }
    queue.cv.notify_one();
    return true;
}

std::vector<MSG> CloseThreadQueue() {
    std::shared_ptr<ThreadQueue> queue = RemoveQueue(GetCurrentThreadId());
    t_reaper.id = 0;
    if (!queue)
        return {};
    std::lock_guard lock(queue->mutex);
    std::vector<MSG> rest(queue->messages.begin(), queue->messages.end());
    queue->messages.clear();
    return rest;
}

WindowHandle RegisterWindow(std::shared_ptr<IMessageTarget> target) {
    if (!target)
        return 0;
    auto entry = std::make_shared<WindowEntry>();
    entry->target = std::move(target);
    WindowRegistry& reg = Windows();
    std::lock_guard lock(reg.mutex);
    WindowHandle handle = reg.nextHandle++;
    reg.windows.emplace(handle, std::move(entry));
    return handle;
}

void UnregisterWindow(WindowHandle window) {
    std::shared_ptr<WindowEntry> entry;
    {
        WindowRegistry& reg = Windows();
        std::lock_guard lock(reg.mutex);
        auto it = reg.windows.find(window);
        if (it == reg.windows.end())
            return;
        entry = std::move(it->second);
        reg.windows.erase(it);
    }
    // Taking the entry's lock waits for a Deliver in flight on another thread to finish.
    std::shared_ptr<IMessageTarget> target;
    {
        std::lock_guard lock(entry->mutex);
        entry->alive = false;
        target = std::move(entry->target);
    }
}

bool IsWindow(WindowHandle window) {
    return window != 0 && FindWindow(window) != nullptr;
}

bool PostMessage(WindowHandle window, unsigned message, WPARAM wParam, LPARAM lParam) {
    if (window == 0)
        return false;
    std::shared_ptr<WindowEntry> entry = FindWindow(window);
    if (!entry)
        return false;
    std::lock_guard lock(entry->mutex);
    if (!entry->alive || !entry->target)
        return false;
    // A local reference keeps the target alive should Deliver unregister its own window.
    std::shared_ptr<IMessageTarget> target = entry->target;
    return target->Deliver(message, wParam, lParam);
}
