#pragma once

#include "platform/Clock.h"

#include <vector>

namespace sonavel::fakes {

// A clock that only moves when the program sleeps. Every sleep is recorded.
class VirtualClock : public Clock {
public:
    int64_t NowMicros() override { return m_now; }
    void SleepMs(int32_t ms) override {
        Sleeps.push_back(ms);
        m_now += int64_t(ms) * 1000;
    }
    int64_t NowMs() const { return m_now / 1000; }

    std::vector<int32_t> Sleeps;

private:
    int64_t m_now = 0;
};

} // namespace sonavel::fakes
