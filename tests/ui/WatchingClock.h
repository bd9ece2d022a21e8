#pragma once

#include "VirtualClock.h"

#include <functional>

namespace sonavel::fakes {

// A virtual clock that lets a test look at the program at every wait of
// playback, which is where a real clock would let the window repaint.
class WatchingClock : public VirtualClock {
public:
    void SleepMs(int32_t ms) override {
        // A hook may replace or clear itself; it runs from a copy so that it
        // is not destroyed while it runs.
        if (OnSleep) {
            const std::function<void()> hook = OnSleep;
            hook();
        }
        VirtualClock::SleepMs(ms);
    }
    std::function<void()> OnSleep;
};

} // namespace sonavel::fakes
