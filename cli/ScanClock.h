#pragma once
// The clocks of oldiscovery-scan: steady for waits, whole milliseconds of wall time for a scan's end.
#include <chrono>

using Clock = std::chrono::steady_clock;
using WallTime = std::chrono::time_point<std::chrono::system_clock, std::chrono::milliseconds>;

// A scan's end as the state and the metrics both record it: whole milliseconds, so the time read
// back from the state file is the same number.
inline WallTime ScanEndTime() {
    return std::chrono::floor<std::chrono::milliseconds>(std::chrono::system_clock::now());
}
// As the watch counts it, from the clock's own units.
inline double EpochSeconds(WallTime time) {
    return std::chrono::duration<double>(std::chrono::system_clock::time_point(time).time_since_epoch())
        .count();
}
