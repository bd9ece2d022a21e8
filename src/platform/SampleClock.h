#pragma once

#include <atomic>
#include <cstdint>

namespace sonavel {

// Ties the monotonic clock to the frames that an audio driver renders, so that
// a message can be placed on the frame that matches the moment it arrived.
//
// The driver calls Observe each time it asks for sound. Those calls come one
// audio period apart, mostly late by whatever the scheduler adds, seldom early,
// so the frame-to-time line is taken from the earliest of the first steady
// calls and then held: later calls change nothing, and calls earlier than the
// allowance (JitterNanos) only make it creep, a microsecond a call. Messages
// placed on the line thus keep their distances.
// Observe runs on the audio thread, the rest on any other; all lock-free.
class SampleClock {
public:
    // jitterNanos: how much earlier than the first steady call a later call may
    // come without moving the line.
    SampleClock(double sampleRate, int64_t jitterNanos);

    // A new run of the driver: the line is made again from its calls.
    void Restart();
    // One call of the driver at nowNanos, before it renders from renderedFrames on.
    void Observe(int64_t nowNanos, int64_t renderedFrames);
    // True once the line is known. The driver's first call of a run is not
    // steady (it fills the sound server's empty buffer); the next ones are.
    bool IsSettled() const { return m_calls.load(std::memory_order_acquire) >= SettlingCalls; }
    // The frame that the line puts at nanos; only meaningful when settled.
    int64_t FrameAt(int64_t nanos) const;
    // The monotonic time of frame 0 on the line.
    int64_t OriginNanos() const { return m_origin.load(std::memory_order_acquire); }

    static constexpr int SettlingCalls = 3;
    static constexpr int64_t CreepNanos = 1000;

private:
    const double m_sampleRate;
    const int64_t m_jitter;
    std::atomic<int> m_calls{0};
    std::atomic<int64_t> m_origin{0};
};

} // namespace sonavel
