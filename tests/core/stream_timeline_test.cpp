#include "platform/StreamTimeline.h"

#include <cmath>
#include <gtest/gtest.h>
#include <utility>
#include <vector>

using namespace sonavel;

namespace {

constexpr int64_t Ms = 1'000'000;
constexpr double Rate = 48000;
constexpr int64_t Period = 256;
constexpr int64_t Delay = 416;

int64_t Nanos(int64_t frames) {
    return std::llround(static_cast<double>(frames) * 1e9 / Rate);
}

// Feeds a timeline as a driver does: a call a period apart, each rendering
// one period, and keeps what it plays.
struct Driver {
    StreamTimeline Timeline{Rate, 2 * Ms, {40 * Ms}};
    std::vector<std::pair<uint32_t, int64_t>> Played;
    StreamTimeline::Sink Sink = [this](uint32_t message, int64_t frame) {
        Played.emplace_back(message, frame);
    };
    int64_t Start = 0;
    int64_t Rendered = 0;

    void Restart(int64_t at) {
        Timeline.Restart(Delay);
        Start = at;
    }
    // The driver's next call, lateNanos after the line it keeps.
    void Call(int64_t lateNanos = 0) {
        Timeline.Observe(Start + Nanos(Rendered) + lateNanos, Rendered, Sink);
        Rendered += Period;
    }
    void Place(int64_t at, uint32_t message) { Timeline.Place(at, message, Sink); }
};

} // namespace

TEST(StreamTimeline, HoldsMessagesUntilTheWarmUpEndsThenKeepsTheirDistances) {
    Driver driver;
    driver.Restart(1000 * Ms);
    driver.Call();
    // A chord sent while the stream has only just started.
    driver.Place(1000 * Ms + Ms / 10, 0x0000C0);
    driver.Place(1000 * Ms + Ms / 5, 0x7F3C90);
    driver.Place(1000 * Ms + Ms / 5 + 2000, 0x7F4090);
    while (driver.Start + Nanos(driver.Rendered) < 1000 * Ms + 40 * Ms) {
        driver.Call(Ms / 2);
        EXPECT_TRUE(driver.Played.empty()) << "played before the warm-up ended";
    }
    const int64_t renderedAtSettle = driver.Rendered;
    driver.Call(Ms / 2);
    ASSERT_TRUE(driver.Timeline.IsSettled());
    ASSERT_EQ(driver.Played.size(), 3u);
    // Into sound not yet rendered, with nothing to spare beyond the margin.
    EXPECT_EQ(driver.Played[0].second, renderedAtSettle + StreamTimeline::MarginFrames);
    EXPECT_NEAR(static_cast<double>(driver.Played[1].second - driver.Played[0].second), 4.8, 1);
    EXPECT_EQ(driver.Played[2].first, 0x7F4090u);
    EXPECT_GT(driver.Timeline.ExtraFrames(), 0);

    // The next chord, 600 ms after the first, is 600 ms of frames after it,
    // however late the driver's calls come meanwhile.
    while (driver.Rendered < 28000)
        driver.Call(driver.Rendered % 1024 == 0 ? 3 * Ms : 0);
    driver.Place(1000 * Ms + Ms / 5 + 600 * Ms, 0x7F3590);
    ASSERT_EQ(driver.Played.size(), 4u);
    EXPECT_NEAR(static_cast<double>(driver.Played[3].second - driver.Played[1].second), 28800, 1);
    EXPECT_GT(driver.Played[3].second, driver.Rendered);
}

TEST(StreamTimeline, AStreamStartedAheadOfItsMessagesAddsNothing) {
    Driver driver;
    driver.Restart(2000 * Ms);
    for (int i = 0; i < 20; ++i)
        driver.Call(Ms);
    ASSERT_TRUE(driver.Timeline.IsSettled());
    EXPECT_EQ(driver.Timeline.ExtraFrames(), 0);
    const int64_t arrival = driver.Start + Nanos(driver.Rendered);
    driver.Place(arrival, 0x7F3C90);
    ASSERT_EQ(driver.Played.size(), 1u);
    // The line is the earliest call, 1 ms late: a message lands the delay
    // after where the line puts its arrival.
    EXPECT_EQ(driver.Played[0].second, driver.Rendered - 48 + Delay);
}

TEST(StreamTimeline, ReleasePlaysHeldAndLaterMessagesAtOnceUntilTheNextRun) {
    Driver driver;
    driver.Restart(0);
    driver.Call();
    driver.Place(Ms, 0x7F3C90);
    EXPECT_TRUE(driver.Timeline.HasHeld());
    driver.Timeline.Release(driver.Sink);
    driver.Place(2 * Ms, 0x003C90);
    for (int i = 0; i < 20; ++i)
        driver.Call();
    EXPECT_FALSE(driver.Timeline.HasHeld());
    ASSERT_EQ(driver.Played.size(), 2u);
    EXPECT_EQ(driver.Played[0], std::make_pair(0x7F3C90u, int64_t{-1}));
    EXPECT_EQ(driver.Played[1], std::make_pair(0x003C90u, int64_t{-1}));

    // A new run places messages again.
    driver.Restart(5000 * Ms);
    driver.Place(5000 * Ms, 0x7F4090);
    for (int i = 0; i < 20; ++i)
        driver.Call();
    ASSERT_EQ(driver.Played.size(), 3u);
    EXPECT_GE(driver.Played[2].second, 0);
}

// A stream resumed on a live connection: the server's first request refills
// its whole buffer at once, and the ones after it come at the pace of the
// sound. The line is drawn from the second, so a message that woke the stream
// plays the plain delay after it arrived, and later ones keep their distance.
TEST(StreamTimeline, AResumedStreamDrawsItsLineFromTheRequestAfterTheRefill) {
    constexpr int64_t Refill = 288;
    constexpr int64_t Request = 96;
    constexpr int64_t StreamDelay = 208;
    StreamTimeline timeline{Rate, 1 * Ms, {0, 1, true}};
    std::vector<std::pair<uint32_t, int64_t>> played;
    const StreamTimeline::Sink sink = [&](uint32_t message, int64_t frame) {
        played.emplace_back(message, frame);
    };
    timeline.Restart(StreamDelay);

    const int64_t arrival = 3000 * Ms;
    timeline.Place(arrival, 0x7F3C90, sink);
    timeline.Observe(arrival + Ms / 5, 0, sink); // the refill
    EXPECT_TRUE(played.empty()) << "placed on the refill's line";
    const int64_t start = arrival + Ms / 5 + Ms / 10; // of the steady requests
    int64_t rendered = Refill;
    timeline.Observe(start, rendered, sink);
    ASSERT_EQ(played.size(), 1u);
    EXPECT_EQ(timeline.ExtraFrames(), 0);
    const int64_t line = start - Nanos(Refill); // when frame 0 is due on the line
    EXPECT_NEAR(static_cast<double>(played[0].second),
                static_cast<double>(Refill - 48 * 3 / 10 + StreamDelay), 1);
    EXPECT_GT(played[0].second, rendered + Request);

    // Steady requests, some late; a message a second later lands a second of
    // frames later, beyond what has been rendered.
    for (rendered += Request; rendered < 48000 + Refill; rendered += Request)
        timeline.Observe(line + Nanos(rendered) + (rendered % 480 == 0 ? Ms / 2 : 0), rendered,
                         sink);
    timeline.Place(arrival + 1000 * Ms, 0x7F4090, sink);
    ASSERT_EQ(played.size(), 2u);
    EXPECT_NEAR(static_cast<double>(played[1].second - played[0].second), 48000, 1);
    EXPECT_GT(played[1].second, rendered);
}
