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
#include <vector>

#include "platform/SocketLayer.h"

class CScanWorker;  // the worker's state and protocol steps (discovery/ScanWorker.h)
class IScanListener;

class CScanThread {
public:
    // Uses the system socket layer.
    CScanThread();
    // Uses the given socket layer (tests, tools).
    explicit CScanThread(std::shared_ptr<ISocketLayer> sockets);
    // As above with other bounds for the start and stop handshakes (5000 ms and 10000 ms in the
    // program).
    CScanThread(std::shared_ptr<ISocketLayer> sockets, std::chrono::milliseconds startTimeout,
                std::chrono::milliseconds stopTimeout);
    // A worker still running is told to end and waited for; a scan under way ends first.
    virtual ~CScanThread();
    CScanThread(const CScanThread&) = delete;
    CScanThread& operator=(const CScanThread&) = delete;

    // Any thread. Where the results go from now on (see IScanListener); nullptr detaches.
    void SetListener(IScanListener* listener);

    // Before Start. Only these interfaces (indexes) send the request and count replies; empty,
    // as by default, means every suitable interface.
    void SetInterfaces(std::vector<int> ifindexes);
    // Before Start. The quiet time after the last packet that ends a scan (1000001 us by default).
    void SetQuietWait(std::chrono::microseconds wait);

    // UI thread. True once the worker is ready (its queue open, its socket open), false after
    // 5000 ms; true at once while a worker runs.
    bool Start();
    // UI thread. True when the scan command was queued.
    bool RequestScan();
    // UI thread. Queues a locate command; nothing when no worker takes commands.
    void RequestLocate(const std::string& ip);
    // UI thread. True when the worker has ended (within 10000 ms) or none ran.
    bool Stop();

    // The worker's steps, callable on any one thread while no worker of this object runs
    // (tools, tests).
    bool OpenRawSocket();
    void CloseRawSocket();
    void Scan();
    void Locate(const std::string& ip);
    // True when the last discover or locate request the worker handled was not sent. Read it
    // after that scan's OnScanDone, or after Stop for a locate.
    bool RequestFailed() const;

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

    std::unique_ptr<CScanWorker> m_worker;
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
