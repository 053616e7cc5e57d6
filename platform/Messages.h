#pragma once
// Thread and window messages: a small replacement for the message queues of the original
// desktop platform. Ids, parameters and the post/get/peek shapes follow that platform so the
// engine keeps its ordering and ownership rules.
#include <chrono>
#include <cstdint>
#include <memory>

constexpr unsigned WM_USER = 0x400;

using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using ThreadId = std::uint64_t;   // our own id, unique per thread for the process's life
using WindowHandle = std::uint64_t;  // 0 is "no window"

struct MSG {
    unsigned message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

// ---- thread messages ----
// The calling thread's id (assigned on first use, never reused).
ThreadId GetCurrentThreadId();
// Non-removing peek on the calling thread's queue; creates the queue when it does not exist yet,
// so that messages posted from then on wait in it. True when a message in [filterMin, filterMax]
// is waiting (0, 0 means any).
bool PeekMessage(MSG* msg, unsigned filterMin, unsigned filterMax);
// Blocks until a message is posted to the calling thread's queue (creating the queue if needed)
// and removes it. Returns true with the message.
bool GetMessage(MSG* msg);
// Posts to a thread's queue. False when that thread has no queue (never peeked, or ended).
bool PostThreadMessage(ThreadId thread, unsigned message, WPARAM wParam, LPARAM lParam);

// ---- window messages ----
// Something that receives posted window messages, on whatever thread it chooses. Deliver is
// called from the posting thread and must only queue the message; false means it was not queued.
class IMessageTarget {
public:
    virtual ~IMessageTarget() = default;
    virtual bool Deliver(unsigned message, WPARAM wParam, LPARAM lParam) = 0;
};

// Registers a window and returns its handle (never 0).
WindowHandle RegisterWindow(std::shared_ptr<IMessageTarget> target);
// After this returns, no post reaches the target any more (an in-flight Deliver has finished).
void UnregisterWindow(WindowHandle window);
bool IsWindow(WindowHandle window);
// False when the window does not exist (any more) or its target refused the message; the
// caller then still owns whatever wParam points to.
bool PostMessage(WindowHandle window, unsigned message, WPARAM wParam, LPARAM lParam);
