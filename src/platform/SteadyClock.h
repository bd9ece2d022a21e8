#pragma once

#include "platform/Clock.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace sonavel {

// The real clock: the monotonic system clock, sleeping to absolute deadlines.
// A sleep that follows the previous one closely starts at that sleep's deadline,
// so the time spent sending messages between notes is taken out of the next
// wait instead of adding up; after an idle gap (the user answering) the next
// sleep starts from now.
class SteadyClock : public Clock {
public:
    // Monotonic time in nanoseconds; a wait until an absolute time of that clock.
    using TimeSource = std::function<int64_t()>;
    using WaitUntil = std::function<void(int64_t deadlineNanos)>;

    // A gap between the end of one sleep and the start of the next above this
    // counts as idle and re-anchors the timeline at now.
    static constexpr int64_t IdleGapNanos = 50'000'000;

    // The thread that first sleeps on it asks for the real-time class (see
    // RaiseThreadPriority), so that on a busy machine it wakes when a note is
    // due, not tens of milliseconds later.
    SteadyClock();
    // For tests: time and waiting come from the caller.
    SteadyClock(TimeSource now, WaitUntil waitUntil);

    int64_t NowMicros() override;
    void SleepMs(int32_t ms) override;
    void Interrupt() override;
    void Resume() override;
    int64_t DueNanos() override;

    static int64_t MonotonicNanos();

private:
    void RaisePriorityOnce();
    // Waits on the monotonic clock until the deadline or an interruption.
    void WaitUntilMonotonic(int64_t deadlineNanos);

    // Below the stream's render thread, which must never wait for it.
    static constexpr int SenderPriority = 50;

    TimeSource m_now;
    WaitUntil m_waitUntil;
    bool m_raisePriority = false;
    int64_t m_lastDeadline = 0;
    bool m_anchored = false;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_interrupted = false; // guarded by m_mutex
};

} // namespace sonavel
