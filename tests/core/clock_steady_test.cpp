#include "platform/SteadyClock.h"

#include <gtest/gtest.h>
#include <vector>

using namespace sonavel;

namespace {

constexpr int64_t Ms = 1'000'000;

// A time source that only moves when the clock waits (waking a little late, as
// a real sleep does) or when the test says work was done.
struct FakeTime {
    int64_t Now = 1'000 * Ms;
    int64_t WakeLate = 300'000; // 0.3 ms
    std::vector<int64_t> Waits;

    SteadyClock Clock() {
        return SteadyClock([this] { return Now; },
                           [this](int64_t deadline) {
                               Waits.push_back(deadline);
                               Now = deadline + WakeLate;
                           });
    }
};

TEST(SteadyClock, ConsecutiveSleepsKeepToTheFirstStartDespiteWorkBetween) {
    FakeTime time;
    SteadyClock clock = time.Clock();
    const int64_t start = time.Now;

    for (int chord = 1; chord <= 4; ++chord) {
        clock.SleepMs(600);
        time.Now += 3 * Ms; // note offs, note ons, a repaint
    }

    EXPECT_EQ(time.Waits, (std::vector<int64_t>{start + 600 * Ms, start + 1200 * Ms,
                                                start + 1800 * Ms, start + 2400 * Ms}));
}

TEST(SteadyClock, IdleGapStartsANewTimelineAtNow) {
    struct Row {
        const char* Name;
        int64_t Gap;
        bool Anchored;
    };
    const Row rows[] = {
        {"no gap", 0, true},
        {"a slow repaint", 40 * Ms, true},
        {"exactly the idle gap", SteadyClock::IdleGapNanos, true},
        {"just beyond it", SteadyClock::IdleGapNanos + 1, false},
        {"the user answering", 5000 * Ms, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.Name);
        FakeTime time;
        time.WakeLate = 0;
        SteadyClock clock = time.Clock();
        clock.SleepMs(100);
        const int64_t firstDeadline = time.Waits.back();
        time.Now += r.Gap;
        const int64_t before = time.Now;

        clock.SleepMs(100);

        EXPECT_EQ(clock.LastDeadlineNanos(), (r.Anchored ? firstDeadline : before) + 100 * Ms);
    }
}

TEST(SteadyClock, MissedDeadlineReturnsAtOnceAndTheNextSleepCatchesUp) {
    FakeTime time;
    SteadyClock clock = time.Clock();
    const int64_t start = time.Now;
    clock.SleepMs(10);
    time.Now += 25 * Ms; // work longer than the next wait
    time.Waits.clear();

    clock.SleepMs(10);
    EXPECT_TRUE(time.Waits.empty()) << "a deadline already passed is not waited for";

    clock.SleepMs(30);
    ASSERT_EQ(time.Waits.size(), 1u);
    EXPECT_EQ(time.Waits[0], start + 50 * Ms);
}

TEST(SteadyClock, ZeroOrNegativeSleepDoesNotMoveTheTimeline) {
    FakeTime time;
    SteadyClock clock = time.Clock();
    const int64_t start = time.Now;
    clock.SleepMs(0);
    clock.SleepMs(-5);
    EXPECT_TRUE(time.Waits.empty());
    clock.SleepMs(20);
    EXPECT_EQ(time.Waits, std::vector<int64_t>{start + 20 * Ms});
    EXPECT_EQ(clock.NowMicros(), (start + 20 * Ms + time.WakeLate) / 1000);
}

// The only test on the real clock: three 2 ms sleeps, 6 ms in all. It checks
// only lower bounds, which no load on the machine can break.
TEST(SteadyClock, RealClockWaitsAtLeastUntilEachDeadline) {
    SteadyClock clock;
    const int64_t before = clock.NowMicros();
    clock.SleepMs(2);
    const int64_t firstDeadline = clock.LastDeadlineNanos();
    clock.SleepMs(2);
    clock.SleepMs(2);
    const int64_t after = clock.NowMicros();

    EXPECT_GE(firstDeadline / 1000, before + 2000);
    EXPECT_GE(after * 1000, clock.LastDeadlineNanos());
    EXPECT_GE(after - before, 6000);
    if (after - before < 50'000) { // not interrupted by an idle-length stall
        EXPECT_EQ(clock.LastDeadlineNanos() - firstDeadline, 4 * Ms);
    }
}

} // namespace
