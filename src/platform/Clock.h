#pragma once

#include <cstdint>

namespace sonavel {

// Time for playback. Sleeping goes through here so that tests can run a whole
// question on a virtual clock in no time.
class Clock {
public:
    virtual ~Clock() = default;
    // Monotonic time in microseconds since an arbitrary start.
    virtual int64_t NowMicros() = 0;
    // Waits ms milliseconds. Consecutive sleeps are measured from the end of
    // the previous one rather than from now, so small delays between them
    // (sending messages, repainting) do not add up over a question.
    virtual void SleepMs(int32_t ms) = 0;
    // Ends the sleep in progress at once, and makes every later one return at
    // once, until Resume. Safe from any thread: a question playing on its own
    // thread is stopped this way when the window closes.
    virtual void Interrupt() {}
    virtual void Resume() {}
    // When the messages sent now are due, in CLOCK_MONOTONIC nanoseconds: the
    // deadline of the last sleep while the sleeps follow each other closely,
    // so a sender that woke late still names the moment it meant; after a gap,
    // now, which the next sleep then counts from. 0 for "when sent".
    virtual int64_t DueNanos() { return 0; }
};

} // namespace sonavel
