#include "platform/SteadyClock.h"

#include <cerrno>
#include <time.h>
#include <utility>

namespace sonavel {

namespace {

constexpr int64_t NanosPerSecond = 1'000'000'000;

} // namespace

SteadyClock::SteadyClock() : SteadyClock(&MonotonicNanos, &WaitUntilMonotonic) {}

SteadyClock::SteadyClock(TimeSource now, WaitUntil waitUntil)
    : m_now(std::move(now)), m_waitUntil(std::move(waitUntil)) {}

int64_t SteadyClock::NowMicros() {
    return m_now() / 1000;
}

void SteadyClock::SleepMs(int32_t ms) {
    const int64_t now = m_now();
    const bool continues = m_anchored && now - m_lastDeadline <= IdleGapNanos;
    const int64_t start = continues ? m_lastDeadline : now;
    const int64_t deadline = start + int64_t(ms > 0 ? ms : 0) * 1'000'000;
    m_lastDeadline = deadline;
    m_anchored = true;
    // A deadline already passed (a slow repaint) returns at once; the next
    // deadline is still measured from this one, so the timeline catches up.
    if (deadline > now)
        m_waitUntil(deadline);
}

int64_t SteadyClock::MonotonicNanos() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * NanosPerSecond + ts.tv_nsec;
}

// Linux wakes an absolute-time sleep well within a millisecond of its deadline
// (timer slack is 50 us), so no spinning is needed to keep notes within 2 ms.
void SteadyClock::WaitUntilMonotonic(int64_t deadlineNanos) {
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(deadlineNanos / NanosPerSecond);
    ts.tv_nsec = static_cast<long>(deadlineNanos % NanosPerSecond);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

} // namespace sonavel
