#pragma once
// The scan worker's state and steps. CScanThread and the running worker both hold it through a
// shared_ptr: the worker may outlive the CScanThread when a Stop gives up.
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/SocketLayer.h"
#include "platform/Thread.h"

class CScanApp;

class CScanWorker {
public:
    // No packet for this long ends the collection.
    static constexpr std::chrono::microseconds kQuietWait{1000001};
    // The collection never runs longer than this after the request went out, however busy the
    // network is, so that a stop command waiting behind a scan is always reached.
    static constexpr std::chrono::seconds kScanLimit{5};
    static constexpr std::size_t kReceiveBuffer = 2048;
    static constexpr std::size_t kReplyMinimum = 36;
    static constexpr std::size_t kExtraDataMax = 256;
    // Replies read ahead of the kernel queue and not yet processed.
    static constexpr std::size_t kBacklogMax = 65536;

    explicit CScanWorker(std::shared_ptr<ISocketLayer> sockets);
    ~CScanWorker();
    CScanWorker(const CScanWorker&) = delete;
    CScanWorker& operator=(const CScanWorker&) = delete;

    bool OpenRawSocket();
    void CloseRawSocket();
    void Scan();
    void Locate(const std::string& ip);
    void ThreadEntry();

    // The worker's identity as CScanThread sees it; m_pWorker is null while no worker runs.
    struct WorkerRef {
        CWinThread* pWorker = nullptr;
        ThreadId id = 0;
        std::shared_ptr<CThreadHandle> handle;
    };
    WorkerRef GetWorker();
    void SetWorker(CWinThread* worker);
    void ClearWorker();

    CEvent m_evStarted;  // auto-reset, not signalled

private:
    struct Packet {
        std::vector<std::uint8_t> bytes;
        ReceivedPacket info;
    };

    void ReportAdd(const class COrvalink& record);
    void ReportDone();
    // Handles one accepted reply: its log lines, the read-ahead, the hardware address, the report.
    void AcceptReply(const std::uint8_t* data, const ReceivedPacket& info,
                     std::chrono::steady_clock::time_point deadline);
    // Copies every reply already waiting in the socket into m_backlog, so the kernel queue does
    // not overflow while an address resolution blocks.
    void ReadAhead(std::chrono::steady_clock::time_point deadline);

    std::mutex m_workerLock;  // guards m_pWorker, m_nWorkerId, m_hWorker only
    CWinThread* m_pWorker = nullptr;
    ThreadId m_nWorkerId = 0;
    std::shared_ptr<CThreadHandle> m_hWorker;

    int m_bStop = 0;
    int m_socket = 0;
    CScanApp* m_pApp = nullptr;
    std::shared_ptr<ISocketLayer> m_sockets;

    // Replies read ahead; what a scan's time limit leaves over is taken first by the next scan.
    std::deque<Packet> m_backlog;
    bool m_bReadAheadFailed = false;
    int m_nReadAheadError = 0;
};

// Bytes of a discover reply's ICMP part before its extra data.
constexpr std::size_t kReplyIcmpMinimum = 16;
// The IPv4 header length of a received packet, from its IHL field.
std::size_t ReplyHeaderLength(const std::uint8_t* packet);
// True for a discover reply: from a real source address, long enough, ICMP type 9 and the family
// marker, the ICMP part read after the header as long as its length field gives it.
bool IsDiscoverReply(const std::uint8_t* packet, const ReceivedPacket& info);
