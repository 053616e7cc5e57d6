#include "ScanWait.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "log/Log.h"

bool CScanWait::WatchSignals() {
    // Blocked in every thread (the worker inherits the mask) and read from a descriptor,
    // so a signal is an event the main thread waits for, whatever the scan is doing.
    // A shell starts background commands with SIGINT ignored; a watch ends on it all the same.
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGINT, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    m_signals.reset(::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
    return static_cast<bool>(m_signals);
}

Wake CScanWait::WaitUntil(Clock::time_point deadline, int doneFd, int foundFd) const {
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return Wake::Deadline;
        // poll passes over a negative descriptor: what is not waited for is -1.
        pollfd fds[3] = {{doneFd, POLLIN, 0}, {SignalFd(), POLLIN, 0}, {foundFd, POLLIN, 0}};
        const int ready = ::poll(fds, 3, static_cast<int>(left));
        if (ready < 0 && errno != EINTR)
            return Wake::Failed;
        if (ready > 0 && fds[1].revents)
            return Wake::Signal;
        if (ready > 0 && fds[2].revents)
            return Wake::Found;
        if (ready > 0 && fds[0].revents)
            return Wake::ScanEnd;
    }
}

void QuitNow(CScanThread& scanner, bool closeLog) {
    scanner.SetListener(nullptr);
    std::fflush(stdout);
    if (closeLog)
        LogClose();
    std::_Exit(0);
}
