#include "platform/SteadyClock.h"

#include "platform/ThreadPriority.h"

#include <chrono>
#include <time.h>
#include <utility>

namespace sonavel {

namespace {

constexpr int64_t NanosPerSecond = 1'000'000'000;

} // namespace

SteadyClock::SteadyClock()
    : m_now(&MonotonicNanos),
      m_waitUntil([this](int64_t deadline) { WaitUntilMonotonic(deadline); }),
      m_raisePriority(true) {}

SteadyClock::SteadyClock(TimeSource now, WaitUntil waitUntil)
    : m_now(std::move(now)), m_waitUntil(std::move(waitUntil)) {}

int64_t SteadyClock::NowMicros() {
    return m_now() / 1000;
}

void SteadyClock::RaisePriorityOnce() {
    // Each question plays on a thread of its own.
    thread_local bool raised = false;
    if (m_raisePriority && !std::exchange(raised, true))
        RaiseThreadPriority(SenderPriority);
}

void SteadyClock::SleepMs(int32_t ms) {
    RaisePriorityOnce();
    const int64_t now = m_now();
    const bool continues = m_anchored && now - m_lastDeadline <= IdleGapNanos;
    const int64_t start = continues ? m_lastDeadline : now;
    const int64_t deadline = start + int64_t(ms > 0 ? ms : 0) * 1'000'000;
    m_lastDeadline = deadline;
    m_anchored = true;
    {
        const std::lock_guard lock(m_mutex);
        if (m_interrupted)
            return;
    }
    // A deadline already passed (a late wakeup) returns at once; the next
    // deadline is still measured from this one, so the timeline catches up.
    if (deadline > now)
        m_waitUntil(deadline);
}

int64_t SteadyClock::DueNanos() {
    RaisePriorityOnce(); // before the first chord, which the rest is timed from
    const int64_t now = m_now();
    if (!m_anchored || now - m_lastDeadline > IdleGapNanos) {
        // The first message after a gap starts the timeline: the messages
        // sent with it are due together, and the first sleep is measured from
        // it, so a sender held up before that sleep does not move what follows.
        m_lastDeadline = now;
        m_anchored = true;
    }
    return m_lastDeadline;
}

void SteadyClock::Interrupt() {
    {
        const std::lock_guard lock(m_mutex);
        m_interrupted = true;
    }
    m_wake.notify_all();
}

void SteadyClock::Resume() {
    const std::lock_guard lock(m_mutex);
    m_interrupted = false;
}

int64_t SteadyClock::MonotonicNanos() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * NanosPerSecond + ts.tv_nsec;
}

// std::chrono::steady_clock is CLOCK_MONOTONIC here, and a timed wait on it
// wakes as closely to its deadline as clock_nanosleep does (timer slack is
// 50 us), so notes keep their time and a close is not kept waiting.
void SteadyClock::WaitUntilMonotonic(int64_t deadlineNanos) {
    const std::chrono::steady_clock::time_point deadline{std::chrono::nanoseconds(deadlineNanos)};
    std::unique_lock lock(m_mutex);
    m_wake.wait_until(lock, deadline, [this] { return m_interrupted; });
}

} // namespace sonavel
