#include "RecordingMidiOutput.h"
#include "engine/clsEngine.h"
#include "engine/modGeneral.h"
#include "platform/SteadyClock.h"
#include "settings/clsSettings.h"
#include "startup/clsErrorHandler.h"

#include <gtest/gtest.h>

using namespace sonavel;

namespace {

// The real clock on a time source that wakes every sleep 7 ms late, as a busy
// machine may.
struct LateClock {
    int64_t Now = 1'000'000'000;
    SteadyClock Clock{[this] { return Now; },
                      [this](int64_t deadline) { Now = deadline + 7'000'000; }};
};

// Records when each message was sent and when it was due.
struct DueRecorder : fakes::RecordingMidiOutput {
    using RecordingMidiOutput::RecordingMidiOutput;
    void ShortMsgAt(uint32_t handle, uint32_t message, int64_t dueNanos) override {
        Dues.push_back(dueNanos);
        ShortMsg(handle, message);
    }
    std::vector<int64_t> Dues;
};

} // namespace

// A sender that wakes late still names the moment each message was meant for,
// so the synthesizer can place it there; after an idle gap "now" is meant.
TEST(DueTime, MessagesCarryThePlannedMomentThoughTheSenderWakesLate) {
    LateClock late;
    DueRecorder device(&late.Clock);
    clsErrorHandler err;
    clsSettings settings;
    settings.MyErr = &err;
    settings.SetCurrentKeyReference(2); // the I chord
    settings.SetKeyReferenceSettings(0);
    settings.SetPlaybackSpeed(100);
    settings.SetCurrentNoteDuration(1);
    clsEngine engine(device, late.Clock);
    engine.objSettings = &settings;
    engine.SetErrorHandler(&err);
    SeedRandomNumbers(7);

    engine.NewQuestion();

    // Sent at: chord 0, pause, notes; each sleep 7 ms late and measured from
    // the previous deadline, so the lateness does not add up.
    const int64_t start = 1'000'000'000;
    std::vector<int64_t> plannedMs;
    for (size_t i = 0; i < device.Messages.size(); ++i) {
        const int64_t dueMs = device.Dues[i] == 0 ? -1 : (device.Dues[i] - start) / 1'000'000;
        plannedMs.push_back(dueMs);
        if (dueMs >= 0)
            EXPECT_EQ(device.Messages[i].TimeMs - start / 1'000'000, dueMs + 7) << "message " << i;
    }
    // Before the first sleep nothing was planned: the chord is due now.
    const std::vector<int64_t> expected{-1,   -1,   -1,  -1,  -1, // program change, chord on
                                        600,  600,  600, 600,     // chord off after a beat
                                        1400,                     // first note after the pause
                                        2000, 2000,               // its off, the second note
                                        2600};
    EXPECT_EQ(plannedMs, expected);

    // An idle gap (the user answering): the next question is due now again.
    late.Now += 2'000'000'000;
    device.Dues.clear();
    engine.PlayAgain();
    EXPECT_EQ(device.Dues.front(), 0);
    EXPECT_EQ(device.Dues.back(), late.Now - 7'000'000);
}
