#include "platform/StreamTimeline.h"

#include <cmath>
#include <gtest/gtest.h>
#include <utility>
#include <vector>

using namespace sonavel;

namespace {

constexpr int64_t Ms = 1'000'000;
constexpr double Rate = 48000;

int64_t Nanos(int64_t frames) {
    return std::llround(static_cast<double>(frames) * 1e9 / Rate);
}

// Feeds a timeline as a driver does: a call a period of 256 frames apart, each rendering one
// period, and keeps what it plays.
struct Driver {
    StreamTimeline Timeline{Rate, 2 * Ms, {40 * Ms}};
    std::vector<std::pair<uint32_t, int64_t>> Played;
    StreamTimeline::Sink Sink = [this](uint32_t message, int64_t frame) {
        Played.emplace_back(message, frame);
    };
    int64_t Start = 1000 * Ms, Rendered = 0;
    // The driver's next call, lateNanos after the line it keeps.
    void Call(int64_t lateNanos = 0) {
        Timeline.Observe(Start + Nanos(Rendered) + lateNanos, Rendered, 256, Sink);
        Rendered += 256;
    }
};

} // namespace

TEST(StreamTimeline, HoldsMessagesUntilTheWarmUpEndsThenKeepsTheirDistances) {
    Driver driver;
    driver.Timeline.Restart(416);
    driver.Call();
    // A chord sent while the stream has only just started.
    for (const auto& [at, message] : {std::pair{Ms / 10, 0x0000C0u}, {Ms / 5, 0x7F3C90u}})
        driver.Timeline.Place(1000 * Ms + at, message, driver.Sink);
    driver.Timeline.Place(1000 * Ms + Ms / 5 + 2000, 0x7F4090, driver.Sink);
    while (driver.Start + Nanos(driver.Rendered) < 1040 * Ms) {
        driver.Call(Ms / 2);
        EXPECT_TRUE(driver.Played.empty()) << "played before the warm-up ended";
    }
    driver.Call(Ms / 2);
    ASSERT_EQ(driver.Played.size(), 3u);
    // Into sound not yet rendered, with nothing to spare beyond the margin.
    EXPECT_EQ(driver.Played[0].second, driver.Rendered - 256 + StreamTimeline::MarginFrames);
    EXPECT_NEAR(static_cast<double>(driver.Played[1].second - driver.Played[0].second), 4.8, 1);
    EXPECT_EQ(driver.Played[2].first, 0x7F4090u);

    // The next chord, 600 ms after the first, is 600 ms of frames after it, however late the
    // driver's calls come meanwhile.
    while (driver.Rendered < 28000)
        driver.Call(driver.Rendered % 1024 == 0 ? 3 * Ms : 0);
    driver.Timeline.Place(1000 * Ms + Ms / 5 + 600 * Ms, 0x7F3590, driver.Sink);
    ASSERT_EQ(driver.Played.size(), 4u);
    EXPECT_NEAR(static_cast<double>(driver.Played[3].second - driver.Played[1].second), 28800, 1);
    EXPECT_GT(driver.Played[3].second, driver.Rendered);

    // A call that renders 8192 frames at once, as a larger request or a growing buffer does: a
    // message arriving with it lands beyond them, and one due 100 ms later keeps its distance.
    const int64_t now = driver.Start + Nanos(driver.Rendered);
    driver.Timeline.Observe(now, driver.Rendered, 8192, driver.Sink);
    driver.Timeline.Place(now, 0x7F3590, driver.Sink);
    driver.Timeline.Place(now + 100 * Ms, 0x7F3590, driver.Sink);
    ASSERT_EQ(driver.Played.size(), 6u);
    EXPECT_GE(driver.Played[4].second, driver.Rendered + 8192 + StreamTimeline::HeadroomFrames);
    EXPECT_NEAR(static_cast<double>(driver.Played[5].second - driver.Played[4].second), 4800, 1);
}
