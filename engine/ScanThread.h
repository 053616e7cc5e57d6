#pragma once
// Runs the discovery protocol on a worker thread of its own, driven by a queue of commands.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

#include "engine/ScanWorker.h"
#include "net/SocketLayer.h"

// The worker it holds runs its steps on the thread; they can also be called on any one thread
// while no worker of this object runs (tools, tests).
class CScanThread {
public:
    // The bounds of the start and stop handshakes in the program.
    static constexpr std::chrono::milliseconds kStartTimeout{5000};
    static constexpr std::chrono::milliseconds kStopTimeout{10000};

    // The worker opens its socket through sockets and resolves hardware addresses with resolver:
    // the system's, made from what main opened, or a test's.
    CScanThread(std::shared_ptr<ISocketLayer> sockets, std::shared_ptr<IHardwareResolver> resolver,
                std::chrono::milliseconds startTimeout = kStartTimeout,
                std::chrono::milliseconds stopTimeout = kStopTimeout);
    // A worker still running is told to end and waited for; a scan under way ends first.
    virtual ~CScanThread();

    // UI thread. True once the worker is ready (its queue open, its socket open), false after
    // the start timeout; true at once while a worker runs.
    bool Start();
    // UI thread. True when the scan command was queued.
    bool RequestScan();
    // UI thread. Queues a locate command; nothing when no worker takes commands.
    void RequestLocate(const std::string& ip);
    // UI thread. True when the worker has ended (within the stop timeout) or none ran.
    bool Stop();

    // The worker: its settings only while no scan runs (before Start).
    CScanWorker& Worker() { return m_worker; }
    const CScanWorker& Worker() const { return m_worker; }
    // Any thread: where the results go from now on (CScanWorker::SetListener).
    void SetListener(IScanListener* listener) { m_worker.SetListener(listener); }
    // Whether the last request was not sent (CScanWorker::RequestFailed).
    bool RequestFailed() const { return m_worker.RequestFailed(); }

private:
    enum class Command { Stop, Scan, Locate };
    struct QueuedCommand {
        Command command;
        std::string ip;  // Locate only
    };

    // The worker's whole life: open the queue and the socket, run the commands, close.
    void ThreadEntry(std::stop_token stop);
    // False when no worker takes commands.
    bool Post(Command command, std::string ip = {});

    CScanWorker m_worker;
    std::chrono::milliseconds m_startTimeout;
    std::chrono::milliseconds m_stopTimeout;

    std::mutex m_mutex;  // guards the queue and the three flags
    std::condition_variable_any m_cv;
    std::deque<QueuedCommand> m_commands;
    bool m_bAccepting = false;  // the worker takes commands
    bool m_bReady = false;      // the worker's socket is open
    bool m_bRunning = false;    // a worker was started and has not ended

    // Declared last: destroyed (stopped and joined) before anything the worker uses.
    std::jthread m_thread;
};

// Internet checksum (RFC 1071) over 16-bit words in memory order: copied into the packet as is
// (memcpy), its two bytes are the wire bytes.
unsigned short IcmpChecksum(const void* data, unsigned length);
// The text after the first occurrence of key up to the next line feed; empty when either is missing.
std::string ExtractValue(const std::string& text, const std::string& key);
