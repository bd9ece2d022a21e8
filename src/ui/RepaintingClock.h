#pragma once

#include "platform/Clock.h"

#include <cstdint>

namespace sonavel {

// Wraps the playback clock so that the window keeps painting while a note
// sounds: a sleep is cut into short slices and pending events other than user
// input are processed before each one. Timing stays that of the wrapped clock,
// which measures consecutive sleeps from the end of the previous one, so the
// time spent painting is taken out of the wait rather than added to it.
class RepaintingClock : public Clock {
public:
    static constexpr int32_t SliceMs = 15;

    explicit RepaintingClock(Clock& inner) : m_inner(inner) {}

    int64_t NowMicros() override { return m_inner.NowMicros(); }
    void SleepMs(int32_t ms) override;

    // Lets the next sleep process every pending event once, user input
    // included, before its first slice. The window's feedback hands its event
    // processing over to here, so that it runs while the next notes already
    // sound instead of holding them back.
    void ProcessAllEventsAtNextSleep() { m_allEventsPending = true; }

private:
    Clock& m_inner;
    bool m_allEventsPending = false;
};

} // namespace sonavel
