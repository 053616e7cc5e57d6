#pragma once
// Runs the discovery protocol on a worker thread of its own, driven by thread messages.
#include <chrono>
#include <memory>
#include <string>

#include "platform/SocketLayer.h"

class CWinThread;  // the worker's thread object (platform/Thread.h)
class CScanWorker;  // the worker's shared state (discovery/ScanWorker.h)

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
    virtual ~CScanThread();
    CScanThread(const CScanThread&) = delete;
    CScanThread& operator=(const CScanThread&) = delete;

    // UI thread. The worker once it is ready (queue made, socket open), or null after 5000 ms.
    CWinThread* Start();
    // UI thread. True when SCANCMD_SCAN was posted.
    bool RequestScan();
    // UI thread. Posts SCANCMD_LOCATE with a heap copy of ip; frees the copy when not posted.
    void RequestLocate(const std::string& ip);
    // UI thread. True when the worker has ended (within 10000 ms) or none ran.
    bool Stop();

    // Worker side. ThreadEntry is the worker's whole life; the others are its steps, callable on
    // any one thread that is not running a worker of this object (tools, tests).
    bool OpenRawSocket();
    void CloseRawSocket();
    void Scan();
    void Locate(const std::string& ip);
    void ThreadEntry();
    // True when the last discover or locate request the worker handled was not sent. Read it
    // after that scan's WM_SCAN_DONE, or after Stop for a locate.
    bool RequestFailed() const;

private:
    // Everything the worker touches (m_evStarted, m_pWorker, m_bStop, m_socket, m_pApp, the
    // socket layer) lives in a state object that the worker co-owns, so a worker that outlives
    // a Stop that gave up never reaches freed memory.
    std::shared_ptr<CScanWorker> m_state;
    std::chrono::milliseconds m_startTimeout;
    std::chrono::milliseconds m_stopTimeout;
};

// The worker's thread procedure; param is a heap std::shared_ptr<CScanWorker> that it takes over.
unsigned ScanThreadProc(void* param);

// Internet checksum (RFC 1071) over 16-bit words in memory order: copied into the packet as is
// (memcpy), its two bytes are the wire bytes.
unsigned short IcmpChecksum(const void* data, unsigned length);
// The text after the first occurrence of key up to the next line feed; empty when either is missing.
std::string ExtractValue(const std::string& text, const std::string& key);
