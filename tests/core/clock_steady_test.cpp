#include "platform/SteadyClock.h"

#include <gtest/gtest.h>
#include <vector>

using namespace sonavel;

namespace {

constexpr int64_t Ms = 1'000'000;

// A time source that only moves when the clock waits (waking a little late, as a real sleep
// does) or when the test says work was done.
struct FakeTime {
    int64_t Now = 1'000 * Ms;
    int64_t WakeLate = 300'000;
    std::vector<int64_t> Waits;

    SteadyClock Clock() {
        return SteadyClock([this] { return Now; },
                           [this](int64_t deadline) {
                               Waits.push_back(deadline);
                               Now = deadline + WakeLate;
                           });
    }
};

// Work between sleeps (note offs, note ons, a repaint) is taken out of the next wait; a
// deadline already passed returns at once and the next one catches up.
TEST(SteadyClock, SleepsKeepToOneTimelineDespiteWorkBetween) {
    FakeTime time;
    SteadyClock clock = time.Clock();
    const int64_t start = time.Now;
    clock.SleepMs(600);
    time.Now += 3 * Ms;
    clock.SleepMs(600);
    time.Now += 25 * Ms; // longer than the next wait
    clock.SleepMs(10);
    clock.SleepMs(0);
    clock.SleepMs(-5);
    clock.SleepMs(30);
    EXPECT_EQ(time.Waits,
              (std::vector<int64_t>{start + 600 * Ms, start + 1200 * Ms, start + 1240 * Ms}));
    EXPECT_EQ(clock.NowMicros(), (start + 1240 * Ms + time.WakeLate) / 1000);
}

TEST(SteadyClock, IdleGapStartsANewTimelineAtNow) {
    for (const int64_t gap : {SteadyClock::IdleGapNanos, SteadyClock::IdleGapNanos + 1}) {
        FakeTime time;
        time.WakeLate = 0;
        SteadyClock clock = time.Clock();
        clock.SleepMs(100);
        const int64_t firstDeadline = time.Waits.back();
        time.Now += gap;
        const int64_t before = time.Now;
        clock.SleepMs(100);
        EXPECT_EQ(clock.LastDeadlineNanos(),
                  (gap == SteadyClock::IdleGapNanos ? firstDeadline : before) + 100 * Ms);
    }
}

} // namespace
