#pragma once

#include "platform/SampleClock.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace sonavel {

// Where each message goes in the sound of one run of an audio driver: a fixed
// delay after its arrival, on the line that SampleClock draws.
//
// A new run knows its line only after the warm-up, so messages that arrive
// sooner are held, stamped, and placed when it ends. The whole run then plays
// them as much later as the earliest of them needs to land in sound not yet
// rendered (ExtraFrames): the first chord after a wake comes a little late,
// but every message of the run keeps its distance to the others.
class StreamTimeline {
public:
    // Plays a message at a frame; a negative frame means at once.
    using Sink = std::function<void(uint32_t message, int64_t frame)>;

    StreamTimeline(double sampleRate, int64_t jitterNanos, SampleClock::Settling settling);

    // A new run of the driver, with messages delayFrames after their arrival.
    // Only while no driver runs.
    void Restart(int64_t delayFrames);
    // From the audio thread, before each render of frames from renderedFrames
    // on; plays the held messages through sink when the line becomes known.
    // When the render reaches further than a message arriving now would land
    // (a larger request, a larger buffer being filled), the line moves by as
    // much, so that no later message falls into sound already rendered.
    void Observe(int64_t nowNanos, int64_t renderedFrames, int frames, const Sink& sink);
    // Plays a message that arrived at arrivalNanos, or holds it.
    void Place(int64_t arrivalNanos, uint32_t message, const Sink& sink);
    // Plays the held messages at once, and later ones too until Restart: for a
    // driver that does not call back after all, or is going away.
    void Release(const Sink& sink);

    bool IsSettled() const { return m_clock.IsSettled(); }
    bool HasHeld() const;
    // How much later than the plain delay this run plays its messages.
    int64_t ExtraFrames() const {
        return m_extra.load(std::memory_order_acquire) + m_shifted.load(std::memory_order_acquire);
    }

    // How far beyond the rendered end a held message must land, in frames: the
    // engine releases a message in the block before the one it sounds in.
    static constexpr int64_t MarginFrames = 128;
    // How far beyond what a render reaches a message arriving then must still
    // land: the engine's block.
    static constexpr int64_t HeadroomFrames = 64;

private:
    struct Held {
        int64_t Arrival;
        uint32_t Message;
    };
    int64_t FrameFor(int64_t arrivalNanos) const;
    // The messages that follow are played frames later, keeping their
    // distances to each other.
    void Shift(int64_t frames);
    void KeepAhead(int64_t nowNanos, int64_t reach);

    SampleClock m_clock;
    int64_t m_delay = 0;
    std::atomic<int64_t> m_extra{0};
    std::atomic<int64_t> m_shifted{0};
    // Guards the hand-over from holding to placing; the audio thread takes it
    // only until the line is known.
    mutable std::mutex m_mutex;
    std::vector<Held> m_held;
    std::atomic<bool> m_placing{false};
    bool m_released = false;
};

} // namespace sonavel
