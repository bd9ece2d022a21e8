#include "platform/SampleClock.h"

#include <cmath>

namespace sonavel {

SampleClock::SampleClock(double sampleRate, int64_t jitterNanos, Settling settling)
    : m_sampleRate(sampleRate), m_jitter(jitterNanos), m_settling(settling) {}

void SampleClock::Restart() {
    // Called while no driver runs, so Observe is not running either.
    m_settled.store(false, std::memory_order_release);
    m_calls = 0;
    m_lineCalls = 0;
}

void SampleClock::Observe(int64_t nowNanos, int64_t renderedFrames) {
    const int64_t origin =
        nowNanos - std::llround(static_cast<double>(renderedFrames) * 1e9 / m_sampleRate);
    const int64_t line = m_origin.load(std::memory_order_relaxed);
    if (!m_settled.load(std::memory_order_relaxed)) {
        if (m_calls == 0)
            m_firstCall = nowNanos;
        if (m_calls > 0 || !m_settling.SkipFirst) {
            if (m_lineCalls == 0 || origin < line)
                m_origin.store(origin, std::memory_order_release);
            ++m_lineCalls;
        }
        ++m_calls;
        if (m_lineCalls >= m_settling.Calls && nowNanos - m_firstCall >= m_settling.WarmUpNanos)
            m_settled.store(true, std::memory_order_release);
    } else if (origin < line - m_jitter) {
        // Early beyond the allowance: an odd call after a stall, or the sound
        // card's clock running ahead of the system's. Creep towards it, so a
        // stray call moves the notes after it by two microseconds, not by its
        // lead, while a drifting clock is still followed: up to 370 ppm at
        // FluidSynth's 256-frame periods, 1000 ppm at the stream's 96-frame
        // requests (a sound server's timer rounding each block's time can
        // drift by several hundred).
        m_origin.store(line - CreepNanos, std::memory_order_release);
    }
}

void SampleClock::Shift(int64_t frames) {
    // Unsettled, the line is still drawn from the calls, which show the shift.
    if (m_settled.load(std::memory_order_relaxed))
        m_origin.fetch_sub(std::llround(static_cast<double>(frames) * 1e9 / m_sampleRate),
                           std::memory_order_acq_rel);
}

int64_t SampleClock::FrameAt(int64_t nanos) const {
    const int64_t since = nanos - m_origin.load(std::memory_order_acquire);
    return static_cast<int64_t>(std::floor(static_cast<double>(since) * m_sampleRate / 1e9));
}

} // namespace sonavel
