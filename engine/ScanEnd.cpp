// When a scan's collection ends, apart from its overall bound: the quiet time after the last
// packet, as the answers so far set it, and whether answers were lost on the way in.
#include <algorithm>
#include <cstdint>

#include "engine/ScanWorker.h"

std::chrono::microseconds CScanWorker::QuietWait(const Collection& scan) const {
    using std::chrono::microseconds;
    // Every device that was there last time has answered: what is left is the adaptive end's
    // grace for new ones, which follows the answers and is never shorter than its floor, so a
    // new device answering as late as the others paced is still listed. One still missing keeps
    // the end that was asked for, so that a device is never judged gone on a shortened scan.
    const bool allExpected = !m_expected.empty() && scan.expectedLeft == 0;
    // Before the first answer there is no pace to follow: the full quiet wait.
    if ((m_adaptiveEnd || allExpected) && scan.count > 0)
        return std::clamp(std::chrono::ceil<microseconds>(scan.longestGap * kGapFactor),
                          std::min<microseconds>(kAdaptiveFloor, m_quietWait), m_quietWait);
    return m_quietWait;
}

void CScanWorker::NoteAnswer(Collection& scan, const ReceivedPacket& info) {
    const auto now = m_sockets->Now();
    scan.longestGap = std::max(scan.longestGap, now - (scan.count > 1 ? scan.lastReply : scan.requestSent));
    // m_expected is sorted by address.
    auto [first, last] = std::equal_range(m_expected.begin(), m_expected.end(), ExpectedDevice{info.sourceAddr, 0},
                                          [](const ExpectedDevice& a, const ExpectedDevice& b) { return a.addr < b.addr; });
    for (auto it = first; it != last; ++it) {
        const auto i = static_cast<std::size_t>(it - m_expected.begin());
        if (!scan.answered[i] && (it->ifindex == 0 || info.ifindex == 0 || it->ifindex == info.ifindex)) {
            scan.answered[i] = true;
            --scan.expectedLeft;
        }
    }
}

void CScanWorker::SetExpectedDevices(std::vector<ExpectedDevice> devices) {
    std::sort(devices.begin(), devices.end(),
              [](const ExpectedDevice& a, const ExpectedDevice& b) { return a.addr < b.addr; });
    m_expected = std::move(devices);
}

void CScanWorker::NoteDrops(Collection& scan, const ReceivedPacket& info) {
    if (info.drops < 0)
        return;
    if (scan.dropsFirst < 0)
        scan.dropsFirst = info.drops;
    scan.dropsLast = info.drops;
}

long CScanWorker::LostAnswers(const Collection& scan) {
    // The counter read from the socket covers drops after the last datagram read too; the one
    // the datagrams carry stands in where the socket cannot be asked.
    const long now = m_sockets->ReceiveDrops(m_socket);
    const long end = now >= 0 ? now : scan.dropsLast;
    const long start = scan.dropsBefore >= 0 ? scan.dropsBefore : scan.dropsFirst;
    if (start < 0 || end < 0)
        return 0;
    // A 32-bit counter: the difference taken modulo 2^32.
    return static_cast<long>(static_cast<std::uint32_t>(end - start));
}
