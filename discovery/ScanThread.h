#pragma once
// Runs the discovery protocol on a worker thread of its own, driven by thread messages.
#include <memory>
#include <string>

#include "platform/SocketLayer.h"

class CWinThread;  // the worker's thread object (platform/Thread.h)

class CScanThread {
public:
    // Uses the system socket layer.
    CScanThread();
    // Uses the given socket layer (tests, tools).
    explicit CScanThread(std::shared_ptr<ISocketLayer> sockets);
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

    // ... the remaining members (OpenRawSocket, CloseRawSocket, Scan, Locate, ThreadEntry,
    // m_evStarted, m_pWorker, m_bStop, m_socket, m_pApp) are the engine's own.
};

// Internet checksum (RFC 1071) as it stands on the wire.
unsigned short IcmpChecksum(const void* data, unsigned length);
// The text after the first occurrence of key up to the next line feed; empty when either is missing.
std::string ExtractValue(const std::string& text, const std::string& key);
