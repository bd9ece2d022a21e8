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
};

} // namespace sonavel
