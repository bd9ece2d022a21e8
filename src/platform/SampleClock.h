#pragma once

#include <atomic>
#include <cstdint>

namespace sonavel {

// Ties the monotonic clock to the frames that an audio driver renders, so that
// a message can be placed on the frame that matches the moment it arrived.
//
// The driver calls Observe each time it asks for sound. Those calls come one
// audio period apart, mostly late by whatever the scheduler adds, seldom early,
// so the frame-to-time line is taken from the earliest of the calls of the
// warm-up and then held: later calls change nothing, and calls earlier than the
// allowance (JitterNanos) only make it creep, two microseconds a call. Messages
// placed on the line thus keep their distances.
//
// The warm-up: a sound server that has just been given a new stream settles
// its buffers over the first tens of milliseconds, and may drop or shift what
// it is sent meanwhile, so the line may be taken as known only after a while
// of calls (Settling). A stream that resumes on a live connection needs none.
// Observe runs on the audio thread, the rest on any other; all lock-free.
class SampleClock {
public:
    struct Settling {
        // How long after the first call the line is known.
        int64_t WarmUpNanos = 0;
        // How many calls draw the line, at least.
        int Calls = 2;
        // Whether the first call of a run is left out of the line: a driver
        // that fills the sound server's empty buffer at once makes it early.
        bool SkipFirst = true;
    };

    // jitterNanos: how much earlier than the line a later call may come without
    // moving it.
    SampleClock(double sampleRate, int64_t jitterNanos, Settling settling);
    SampleClock(double sampleRate, int64_t jitterNanos)
        : SampleClock(sampleRate, jitterNanos, {}) {}

    // A new run of the driver: the line is made again from its calls.
    void Restart();
    // One call of the driver at nowNanos, before it renders from renderedFrames on.
    void Observe(int64_t nowNanos, int64_t renderedFrames);
    // True once the line is known.
    bool IsSettled() const { return m_settled.load(std::memory_order_acquire); }
    // Moves the settled line so that every moment falls frames later: the
    // driver now renders that much further ahead of what is heard.
    void Shift(int64_t frames);
    // The frame that the line puts at nanos; only meaningful when settled.
    int64_t FrameAt(int64_t nanos) const;
    // The allowance for early calls, in frames.
    int64_t JitterFrames() const {
        return static_cast<int64_t>(static_cast<double>(m_jitter) * m_sampleRate / 1e9);
    }
    // The monotonic time of frame 0 on the line.
    int64_t OriginNanos() const { return m_origin.load(std::memory_order_acquire); }

    static constexpr int64_t CreepNanos = 2000;

private:
    const double m_sampleRate;
    const int64_t m_jitter;
    const Settling m_settling;
    std::atomic<bool> m_settled{false};
    int m_calls = 0;         // of this run
    int m_lineCalls = 0;     // of this run, that drew the line
    int64_t m_firstCall = 0; // monotonic nanoseconds
    std::atomic<int64_t> m_origin{0};
};

} // namespace sonavel
