#pragma once

#include "platform/Clock.h"

namespace sonavel::fakes {

// A clock that only moves when the program sleeps.
class VirtualClock : public Clock {
public:
    int64_t NowMicros() override { return m_now; }
    void SleepMs(int32_t ms) override { m_now += int64_t(ms) * 1000; }
    int64_t NowMs() const { return m_now / 1000; }

private:
    int64_t m_now = 0;
};

} // namespace sonavel::fakes
