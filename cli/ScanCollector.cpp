#include "ScanCollector.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <utility>

namespace {

void Signal(const UniqueFd& fd) {
    const std::uint64_t one = 1;
    while (::write(fd.get(), &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void Drain(const UniqueFd& fd) {
    std::uint64_t count;
    while (::read(fd.get(), &count, sizeof count) < 0 && errno == EINTR) {
    }
}

}  // namespace

CScanCollector::CScanCollector()
    : m_done(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      m_found(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      m_sent(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

void CScanCollector::OnDeviceFound(const COrvalink& device) {
    bool fresh = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto [at, added] =
            m_index.try_emplace({device.m_strInterface, device.m_strIP, device.m_strMAC}, m_devices.size());
        if (added) {
            m_devices.push_back(device);
            fresh = true;
        } else {
            COrvalink& kept = m_devices[at->second];
            // A repeat is shown again only when it says something new.
            fresh = kept.m_strType != device.m_strType || kept.m_strBuild != device.m_strBuild;
            kept = device;
        }
        if (fresh && m_streaming)
            m_fresh.push_back(device);
    }
    if (fresh && m_streaming)
        Signal(m_found);
}

void CScanCollector::OnScanTruncated(long) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_truncated = true;
}

void CScanCollector::OnAnswersLost(long lost) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lost = lost;
}

void CScanCollector::OnInterfaceLost() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_interfaceLost = true;
}

void CScanCollector::OnRequestSent() {
    Signal(m_sent);
}

void CScanCollector::OnScanDone() {
    Signal(m_sent);
    Signal(m_done);
}

void CScanCollector::TakeScan(std::vector<COrvalink>& devices, long& truncated) {
    Drain(m_done);
    Drain(m_sent);
    std::lock_guard<std::mutex> lock(m_mutex);
    devices.swap(m_devices);
    m_devices.clear();
    m_index.clear();
    m_fresh.clear();
    truncated = m_truncated ? static_cast<long>(devices.size()) : -1;
    m_truncated = false;
}

long CScanCollector::TakeLost() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::exchange(m_lost, 0);
}

bool CScanCollector::TakeInterfaceLost() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::exchange(m_interfaceLost, false);
}

std::vector<COrvalink> CScanCollector::TakeNew() {
    Drain(m_found);
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<COrvalink> fresh;
    fresh.swap(m_fresh);
    return fresh;
}
