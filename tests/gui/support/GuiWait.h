#pragma once
// The one bounded wait of the Qt tests: the event loop keeps running while it waits, so timers,
// queued signals and window-system events are delivered.
#include <chrono>
#include <functional>

namespace guitest {

// True once condition holds; false if it still does not after bound.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds bound = std::chrono::seconds(10));

}  // namespace guitest
