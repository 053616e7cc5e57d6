#pragma once
// When a scan's collection ends, apart from its overall bound: the quiet time after the last
// answer, fixed or following the answers so far, and the devices expected to answer.
#include <chrono>
#include <cstdint>
#include <vector>

class CScanEnd {
public:
    // No packet for this long ends the collection (unless SetQuietWait chose another time).
    static constexpr std::chrono::microseconds kQuietWait{1000001};
    // The adaptive end: no packet for kGapFactor times the longest wait for an answer so far (the
    // first one's counted from the request) ends the collection; never sooner than kAdaptiveFloor,
    // never later than the quiet wait.
    static constexpr int kGapFactor = 4;
    static constexpr std::chrono::milliseconds kAdaptiveFloor{250};

    // A device a scan expects an answer from: its address (network byte order) and the interface
    // it answers on (0: any).
    struct ExpectedDevice {
        std::uint32_t addr = 0;
        int ifindex = 0;
    };

    // Settings, only while no scan runs.
    void SetQuietWait(std::chrono::microseconds wait) { m_quietWait = wait; }
    void SetAdaptive(bool adaptive) { m_adaptive = adaptive; }
    void SetExpectedDevices(std::vector<ExpectedDevice> devices);
    // The quiet wait asked for, whatever the answers allow.
    std::chrono::microseconds AskedWait() const { return m_quietWait; }

    // A scan whose request went out at sent begins.
    void Begin(std::chrono::steady_clock::time_point sent);
    // An accepted answer at now from addr, arrived on ifindex (0: not known).
    void NoteAnswer(std::chrono::steady_clock::time_point now, std::uint32_t addr, int ifindex);
    // The quiet time that ends the collection now: the quiet wait asked for, or shorter as the
    // adaptive end and the expected devices allow.
    std::chrono::microseconds QuietWait() const;

private:
    std::chrono::microseconds m_quietWait = kQuietWait;
    bool m_adaptive = false;
    std::vector<ExpectedDevice> m_expected;  // sorted by address

    // This scan's answers so far: how many, when the last came (the request before the first),
    // the longest wait for one, and which expected devices have not answered yet.
    long m_answers = 0;
    std::chrono::steady_clock::time_point m_last;
    std::chrono::steady_clock::duration m_longestGap{0};
    std::vector<bool> m_answered;
    std::size_t m_expectedLeft = 0;
};
