#pragma once
// The scan worker's state and steps. CScanThread and the running worker both hold it through a
// shared_ptr: the worker may outlive the CScanThread when a Stop gives up.
#include <atomic>
#include <chrono>
#include <cstdint>
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
    // Longest wait for hardware addresses the neighbour table did not know, per scan: the
    // probes go out with each batch of replies, their answers are collected together.
    static constexpr std::chrono::seconds kResolveBudget{1};
    // Quiet time after a reply before the replies read are looked up and probed for; a batch
    // this big or this old is taken at once.
    static constexpr std::chrono::milliseconds kLull{20};
    static constexpr std::size_t kBatchMax = 1024;
    static constexpr std::chrono::milliseconds kBatchAge{100};
    // Least time left for the answers once the collection has ended.
    static constexpr std::chrono::milliseconds kProbeGrace{250};

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

    // True when the last discover or locate request was not sent; written by the worker before
    // the scan's WM_SCAN_DONE or at the end of the locate.
    bool RequestFailed() const { return m_bRequestFailed.load(); }

    CEvent m_evStarted;  // auto-reset, not signalled

private:
    // An accepted reply, kept until its hardware address is known.
    struct Reply {
        std::uint32_t source = 0;
        int ifindex = 0;
        std::string extra;  // the extra-data bytes used (at most 256)
    };

    void ReportAdd(const class COrvalink& record);
    void ReportDone();
    // Resolves the hardware addresses of a batch of replies from the neighbour table and reports
    // each one it settles; the others move to the waiting lists and to the probes to send.
    void ResolveBatch(std::vector<Reply>& batch, std::vector<Reply>& waiting,
                      std::vector<HardwareRequest>& waitingRequests, std::vector<HardwareRequest>& unasked);
    // Writes the log lines of one reply, in their order, and reports it.
    void ReportReply(const Reply& reply, const HardwareRequest& request);

    std::mutex m_workerLock;  // guards m_pWorker, m_nWorkerId, m_hWorker only
    CWinThread* m_pWorker = nullptr;
    ThreadId m_nWorkerId = 0;
    std::shared_ptr<CThreadHandle> m_hWorker;

    int m_bStop = 0;
    int m_socket = 0;
    CScanApp* m_pApp = nullptr;
    std::shared_ptr<ISocketLayer> m_sockets;
    std::atomic<bool> m_bRequestFailed{false};
};

// Bytes of a discover reply's ICMP part before its extra data.
constexpr std::size_t kReplyIcmpMinimum = 16;
// The IPv4 header length of a received packet, from its IHL field.
std::size_t ReplyHeaderLength(const std::uint8_t* packet);
// True for a discover reply: from a real source address, long enough, ICMP type 9 and the family
// marker, the ICMP part read after the header as long as its length field gives it.
bool IsDiscoverReply(const std::uint8_t* packet, const ReceivedPacket& info);
