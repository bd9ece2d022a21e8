#include "platform/StreamTimeline.h"

#include <algorithm>

namespace sonavel {

StreamTimeline::StreamTimeline(double sampleRate, int64_t jitterNanos,
                               SampleClock::Settling settling)
    : m_clock(sampleRate, jitterNanos, settling) {}

void StreamTimeline::Restart(int64_t delayFrames) {
    std::lock_guard lock(m_mutex);
    m_clock.Restart();
    m_delay = delayFrames;
    m_extra.store(0, std::memory_order_release);
    m_shifted.store(0, std::memory_order_release);
    m_placing.store(false, std::memory_order_release);
    m_released = false;
    m_held.clear();
}

int64_t StreamTimeline::FrameFor(int64_t arrivalNanos) const {
    return m_clock.FrameAt(arrivalNanos) + m_delay + m_extra.load(std::memory_order_acquire);
}

void StreamTimeline::KeepAhead(int64_t nowNanos, int64_t reach) {
    // With the allowance for early calls on top, so that the next request a
    // frame larger does not move the line again.
    const int64_t landing = FrameFor(nowNanos);
    if (reach + HeadroomFrames > landing)
        Shift(reach + HeadroomFrames + m_clock.JitterFrames() - landing);
}

void StreamTimeline::Observe(int64_t nowNanos, int64_t renderedFrames, int frames,
                             const Sink& sink) {
    if (m_placing.load(std::memory_order_acquire)) {
        m_clock.Observe(nowNanos, renderedFrames);
        KeepAhead(nowNanos, renderedFrames + frames);
        return;
    }
    std::lock_guard lock(m_mutex);
    if (m_released)
        return;
    m_clock.Observe(nowNanos, renderedFrames);
    if (!m_clock.IsSettled())
        return;
    KeepAhead(nowNanos, renderedFrames + frames);
    if (!m_held.empty()) {
        // The earliest held message decides, so that all of them, and all
        // that follow in this run, keep their distances.
        const int64_t earliest =
            std::min_element(m_held.begin(), m_held.end(), [](const Held& a, const Held& b) {
                return a.Arrival < b.Arrival;
            })->Arrival;
        const int64_t wanted = renderedFrames + MarginFrames;
        m_extra.store(std::max<int64_t>(0, wanted - FrameFor(earliest)), std::memory_order_release);
        for (const Held& held : m_held)
            sink(held.Message, FrameFor(held.Arrival));
        m_held.clear();
    }
    m_placing.store(true, std::memory_order_release);
}

void StreamTimeline::Shift(int64_t frames) {
    m_clock.Shift(frames);
    m_shifted.fetch_add(frames, std::memory_order_acq_rel);
}

void StreamTimeline::Place(int64_t arrivalNanos, uint32_t message, const Sink& sink) {
    if (!m_placing.load(std::memory_order_acquire)) {
        std::lock_guard lock(m_mutex);
        if (m_released) {
            sink(message, -1);
            return;
        }
        if (!m_placing.load(std::memory_order_acquire)) {
            m_held.push_back({arrivalNanos, message});
            return;
        }
    }
    sink(message, FrameFor(arrivalNanos));
}

void StreamTimeline::Release(const Sink& sink) {
    std::lock_guard lock(m_mutex);
    if (m_placing.load(std::memory_order_acquire))
        return;
    m_released = true;
    for (const Held& held : m_held)
        sink(held.Message, -1);
    m_held.clear();
}

bool StreamTimeline::HasHeld() const {
    std::lock_guard lock(m_mutex);
    return !m_held.empty();
}

} // namespace sonavel
