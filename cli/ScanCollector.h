#pragma once
// The devices of one scan as the engine reports them, taken by the main thread when it ends.
#include <atomic>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "base/UniqueFd.h"
#include "engine/Orvalink.h"
#include "engine/ScanListener.h"

// Collects the devices of one scan and signals its end on an eventfd, so the main thread can
// wait for it and for a signal at once; when streaming, each device is signalled on another.
// A device (interface, IP, MAC) is one entry per scan with its last answer, however often it
// answers (another scanner's requests on the segment, a device that repeats itself).
class CScanCollector : public IScanListener {
public:
    CScanCollector();

    void OnDeviceFound(const COrvalink& device) override;
    void OnScanTruncated(long) override;
    void OnAnswersLost(long lost) override;
    void OnInterfaceLost() override;
    void OnRequestSent() override;
    void OnScanDone() override;

    int DoneFd() const { return m_done.get(); }
    // Readable once the scan's request is out or the scan has ended.
    int SentFd() const { return m_sent.get(); }
    int FoundFd() const { return m_found.get(); }
    bool Valid() const { return m_done && m_found && m_sent; }
    // Before the scan: devices are signalled as they come.
    void StreamDevices() { m_streaming = true; }

    // Takes the devices of the scan that ended and makes room for the next one; truncated with
    // the devices listed when the scan stopped at its limit, else -1.
    void TakeScan(std::vector<COrvalink>& devices, long& truncated);
    // The packets the last scan lost to a full receive queue (0: none), once.
    long TakeLost();
    // Whether a link the last scan went out on went down during it, once.
    bool TakeInterfaceLost();
    // The lines to show since the last call: new devices and repeats that changed, in the order
    // they came.
    std::vector<COrvalink> TakeNew();

private:
    std::mutex m_mutex;
    std::vector<COrvalink> m_devices;  // one per device, in the order they first answered
    std::map<std::tuple<std::string, std::string, std::string>, std::size_t> m_index;  // into m_devices
    std::vector<COrvalink> m_fresh;  // streaming: lines not yet taken by TakeNew
    bool m_truncated = false;
    long m_lost = 0;
    bool m_interfaceLost = false;
    std::atomic<bool> m_streaming{false};
    UniqueFd m_done;
    UniqueFd m_found;
    UniqueFd m_sent;
};
