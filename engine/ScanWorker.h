#pragma once
// The scan worker's state and steps: the socket, the resolver, the protocol and the listener the
// results go to. CScanThread holds one and runs its steps on its worker thread.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "engine/ScanEnd.h"
#include "engine/ScanListener.h"
#include "net/HardwareResolver.h"
#include "net/SocketLayer.h"

class CScanWorker {
public:
    // No packet for this long ends the collection (unless SetQuietWait chose another time).
    static constexpr std::chrono::microseconds kQuietWait = CScanEnd::kQuietWait;
    // The collection never runs longer than this after the request went out, however busy the
    // network is, so that a stop command waiting behind a scan is always reached.
    static constexpr std::chrono::seconds kScanLimit{5};
    // Datagrams taken from the socket in one receive call.
    static constexpr std::size_t kReadBatch = 64;
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
    // Longest time spent emptying the socket before a scan, so that a flood cannot hold back
    // the request.
    static constexpr std::chrono::milliseconds kDiscardLimit{100};

    using ExpectedDevice = CScanEnd::ExpectedDevice;

    // sockets: the raw ICMP socket's layer; resolver: the replies' hardware addresses (null: none
    // is known, every device is listed without one).
    CScanWorker(std::shared_ptr<ISocketLayer> sockets, std::shared_ptr<IHardwareResolver> resolver)
        : m_sockets(std::move(sockets)), m_resolver(std::move(resolver)) {}

    // The raw socket, ready for the broadcast; the subject of a failure names the call that
    // failed ("socket()", "setsockopt()"), none when there is no socket layer.
    Failure OpenRawSocket();
    // Closes the raw socket and retires the resolver: no scan of this worker follows.
    void CloseRawSocket();
    void Scan();
    void Locate(const std::string& ip);
    // Any thread. Where the results go from now on (see IScanListener); nullptr detaches. Waits
    // for a call in progress to the former listener.
    void SetListener(IScanListener* listener);
    // Only while no scan runs (before CScanThread::Start; the interfaces also between a scan's end
    // and the next RequestScan): the interfaces the request goes out on and replies are taken
    // from (empty, as by default: every suitable one), and the quiet time after the last packet
    // that ends the collection.
    void SetInterfaces(std::vector<int> ifindexes) { m_interfaces = std::move(ifindexes); }
    void SetQuietWait(std::chrono::microseconds wait) { m_end.SetQuietWait(wait); }
    // Only while no scan runs: the overall bound of the collection (kScanLimit by default).
    void SetScanLimit(std::chrono::seconds limit) { m_scanLimit = limit; }
    // Only while no scan runs: the quiet time follows the answers (see CScanEnd::QuietWait)
    // instead of being the fixed quiet wait.
    void SetAdaptiveEnd(bool adaptive) { m_end.SetAdaptive(adaptive); }
    // Only while no scan runs: the devices expected to answer (none by default). Once all of
    // them have, the adaptive end's quiet time ends the collection, however it was asked.
    void SetExpectedDevices(std::vector<ExpectedDevice> devices) {
        m_end.SetExpectedDevices(std::move(devices));
    }
    // Only while no scan runs: the quiet time runs from the last device answer (before the
    // first, from the request) instead of from the last packet of any kind, so that other ICMP
    // on the segment cannot stretch the scan (false by default).
    void SetQuietFromAnswers(bool fromAnswers) { m_quietFromAnswers = fromAnswers; }

    // True when the last discover or locate request was not sent; written by the worker before
    // the scan's OnScanDone or at the end of the locate (after CScanThread::Stop for a thread).
    bool RequestFailed() const { return m_bRequestFailed.load(); }

private:
    // An accepted reply, kept until its hardware address is known.
    struct Reply {
        std::uint32_t source = 0;
        int ifindex = 0;
        std::string extra;  // the extra-data bytes used (at most 256)
    };

    // The reporting step of each found device and of each scan's end.
    void ReportAddOrvalink(const COrvalink& record);
    void ReportScanDone();
    void ReportScanTruncated(long listed);
    void ReportAnswersLost(long lost);
    void ReportInterfaceLost();
    // The replies of one scan on their way to being reported.
    struct Collection {
        std::chrono::steady_clock::time_point deadline;  // the overall bound of the collection
        long count = 0;
        std::chrono::steady_clock::time_point lastReply;  // when the last accepted reply was read
        bool limitReached = false;
        std::vector<Reply> batch;    // read, not looked up yet
        std::vector<Reply> waiting;  // looked up, waiting for a probe's answer
        std::vector<HardwareRequest> waitingRequests;
        std::chrono::steady_clock::time_point lastProbe;
        std::chrono::steady_clock::time_point lastAnswers;  // when the probes' answers were last taken
        std::chrono::steady_clock::time_point batchStart;
        // Arrival interfaces by index, each asked of the kernel once per scan, not once per reply.
        std::map<int, std::string> interfaceNames;
        // This host's subnets as the scan started, for the source check.
        std::vector<iftable::LocalSubnet> subnets;
        std::chrono::steady_clock::time_point requestSent;
        // The socket's count of datagrams dropped to a full queue: before the request, and the
        // first and the last one a datagram of this scan carried (-1: not known).
        long dropsBefore = -1, dropsFirst = -1, dropsLast = -1;
    };
    // False, with a Debug line, for a reply whose source names no one device.
    static bool FromOneHost(const Collection& scan, std::uint32_t source);
    // Reads and drops what arrived since the last scan: a late answer to an earlier request
    // would otherwise be listed by this scan, even for a device that has gone meanwhile.
    void DiscardQueued(std::uint8_t* buffer);
    // The wait policy: true when a packet can be read; false, with its reason logged, when the
    // collection ends (the quiet wait passed, the overall bound reached, the wait failed).
    bool AwaitReplies(Collection& scan);
    // Reads every packet that has arrived, until until, into the batch.
    Failure ReadReplies(Collection& scan, std::uint8_t* buffers, std::chrono::steady_clock::time_point until);
    // Takes one received datagram into the batch when it is an accepted reply.
    void TakeReply(Collection& scan, const std::uint8_t* packet, const ReceivedPacket& info);
    // True when the limit ended a scan whose answers had not stopped: a device's answer came
    // within the quiet wait before the end, or one was still waiting in the socket (then read
    // into the scan, with buffers as ReadReplies uses them).
    bool StoppedShort(Collection& scan, std::uint8_t* buffers);
    // Takes note of the drop count a datagram carries.
    static void NoteDrops(Collection& scan, const ReceivedPacket& info);
    // Answers of this scan the kernel dropped from the full receive queue; 0 when none or not known.
    long LostAnswers(const Collection& scan);
    // Resolves the hardware addresses of the batch from the neighbour table and reports each one
    // it settles; the others wait, and their probes go out.
    void SettleBatch(Collection& scan);
    // Reports the waiting replies whose probes have been answered by now; the others wait on.
    void ReportAnswered(Collection& scan);
    // Settles the waiting replies once the collection has ended, within the probe budget.
    void ResolveWaiting(Collection& scan);
    // Writes the log lines of one reply, in their order, and reports it.
    void ReportReply(Collection& scan, const Reply& reply, const HardwareRequest& request);

    IcmpSocket m_socket;
    std::shared_ptr<ISocketLayer> m_sockets;
    std::shared_ptr<IHardwareResolver> m_resolver;
    std::mutex m_listenerLock;  // held across every call to the listener
    IScanListener* m_pListener = nullptr;
    std::atomic<bool> m_bRequestFailed{false};
    std::vector<int> m_interfaces;
    std::chrono::seconds m_scanLimit = kScanLimit;
    bool m_quietFromAnswers = false;
    CScanEnd m_end;
};

// Bytes of a discover reply's ICMP part before its extra data.
constexpr std::size_t kReplyIcmpMinimum = 16;
// The IPv4 header length of a received packet, from its IHL field.
std::size_t ReplyHeaderLength(const std::uint8_t* packet);
// True for a discover reply: from a real source address, long enough, ICMP type 9 and the family
// marker, the ICMP part read after the header as long as its length field gives it.
bool IsDiscoverReply(const std::uint8_t* packet, const ReceivedPacket& info);
