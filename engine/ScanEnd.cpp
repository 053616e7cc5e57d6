// When a scan's collection ends, apart from its overall bound: the quiet time after the last
// answer, as the answers so far set it.
#include "engine/ScanEnd.h"

#include <algorithm>

namespace {

bool ByAddress(const CScanEnd::ExpectedDevice& a, const CScanEnd::ExpectedDevice& b) {
    return a.addr < b.addr;
}

}  // namespace

void CScanEnd::SetExpectedDevices(std::vector<ExpectedDevice> devices) {
    std::sort(devices.begin(), devices.end(), ByAddress);
    m_expected = std::move(devices);
}

void CScanEnd::Begin(std::chrono::steady_clock::time_point sent) {
    m_answers = 0;
    m_last = sent;
    m_longestGap = {};
    m_answered.assign(m_expected.size(), false);
    m_expectedLeft = m_expected.size();
}

void CScanEnd::NoteAnswer(std::chrono::steady_clock::time_point now, std::uint32_t addr, int ifindex) {
    ++m_answers;
    m_longestGap = std::max(m_longestGap, now - m_last);
    m_last = now;
    auto [first, last] =
        std::equal_range(m_expected.begin(), m_expected.end(), ExpectedDevice{addr, 0}, ByAddress);
    for (auto it = first; it != last; ++it) {
        const auto i = static_cast<std::size_t>(it - m_expected.begin());
        if (!m_answered[i] && (it->ifindex == 0 || ifindex == 0 || it->ifindex == ifindex)) {
            m_answered[i] = true;
            --m_expectedLeft;
        }
    }
}

std::chrono::microseconds CScanEnd::QuietWait() const {
    using std::chrono::microseconds;
    // Every device that was there last time has answered: what is left is the adaptive end's
    // grace for new ones, which follows the answers and is never shorter than its floor, so a
    // new device answering as late as the others paced is still listed. One still missing keeps
    // the end that was asked for, so that a device is never judged gone on a shortened scan.
    const bool allExpected = !m_expected.empty() && m_expectedLeft == 0;
    // Before the first answer there is no pace to follow: the full quiet wait.
    if ((m_adaptive || allExpected) && m_answers > 0)
        return std::clamp(std::chrono::ceil<microseconds>(m_longestGap * kGapFactor),
                          std::min<microseconds>(kAdaptiveFloor, m_quietWait), m_quietWait);
    return m_quietWait;
}
