#pragma once

#include "VirtualClock.h"

#include <functional>

namespace sonavel::fakes {

// A virtual clock that lets a test look at the program at every wait of
// playback, which is where a real clock would let the window repaint.
class WatchingClock : public VirtualClock {
public:
    void SleepMs(int32_t ms) override {
        if (OnSleep)
            OnSleep();
        VirtualClock::SleepMs(ms);
    }
    std::function<void()> OnSleep;
};

} // namespace sonavel::fakes
