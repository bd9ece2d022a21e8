#include "platform/SteadyClock.h"

#include <gtest/gtest.h>
#include <vector>

using namespace sonavel;

constexpr int64_t Ms = 1'000'000;

// Work between sleeps (note offs, a repaint) is taken out of the next wait, a deadline already
// passed returns at once, and a wait after an idle gap starts a new timeline at now. The time
// source moves only when the clock waits, waking a little late as a real sleep does.
TEST(SteadyClock, SleepsKeepToOneTimelineUntilAnIdleGap) {
    int64_t now = 1'000 * Ms, wakeLate = 300'000;
    std::vector<int64_t> waits;
    SteadyClock clock([&] { return now; },
                      [&](int64_t deadline) {
                          waits.push_back(deadline);
                          now = deadline + wakeLate;
                      });
    const int64_t start = now;
    clock.SleepMs(600);
    now += 3 * Ms;
    clock.SleepMs(600);
    now += 25 * Ms; // longer than the next wait
    clock.SleepMs(10);
    clock.SleepMs(-5);
    clock.SleepMs(30);
    EXPECT_EQ(waits,
              (std::vector<int64_t>{start + 600 * Ms, start + 1200 * Ms, start + 1240 * Ms}));
    EXPECT_EQ(clock.NowMicros(), (start + 1240 * Ms + wakeLate) / 1000);

    wakeLate = 0;
    clock.SleepMs(100);
    for (const int64_t gap : {SteadyClock::IdleGapNanos, SteadyClock::IdleGapNanos + 1}) {
        const int64_t lastDeadline = clock.LastDeadlineNanos();
        now += gap;
        const int64_t before = now;
        clock.SleepMs(100);
        EXPECT_EQ(clock.LastDeadlineNanos(),
                  (gap == SteadyClock::IdleGapNanos ? lastDeadline : before) + 100 * Ms);
    }
}
