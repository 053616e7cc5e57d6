#pragma once
// What the main thread waits on: a deadline, SIGTERM and SIGINT read from a descriptor (a watch
// only), and a scan's end and devices on the collector's descriptors.
#include "base/UniqueFd.h"
#include "engine/ScanThread.h"
#include "ScanClock.h"

// What ended a wait.
enum class Wake { ScanEnd, Signal, Deadline, Failed, Found };

class CScanWait {
public:
    // Takes SIGTERM and SIGINT as events from now on; false, errno set, when they cannot be.
    bool WatchSignals();
    // The descriptor the signals are read from; -1 without WatchSignals.
    int SignalFd() const { return m_signals ? m_signals.get() : -1; }
    // Waits until deadline for a signal (when watched) and, on the descriptors given (-1: not
    // waited for), for the scan's end and a device found; a signal counts before the scan's end.
    Wake WaitUntil(Clock::time_point deadline, int doneFd = -1, int foundFd = -1) const;

private:
    UniqueFd m_signals;
};

// Ends the program at once, a scan perhaps under way: the worker is not waited for.
[[noreturn]] void QuitNow(CScanThread& scanner, bool closeLog);
