#include "engine_fixture.h"
#include "platform/SteadyClock.h"

using namespace sonavel;

namespace {

constexpr int64_t kStart = 1'000'000'000, kLate = 7'000'000;

// Records when each message was due.
struct DueRecorder : fakes::RecordingMidiOutput {
    using RecordingMidiOutput::RecordingMidiOutput;
    void ShortMsgAt(uint32_t handle, uint32_t message, int64_t dueNanos) override {
        Dues.push_back(dueNanos);
        ShortMsg(handle, message);
    }
    std::vector<int64_t> Dues;
};

} // namespace

// The real clock on a time source that wakes every sleep 7 ms late, as a busy machine may: the
// messages still carry the moment they were meant for, so the synthesizer can place them there;
// the lateness does not add up, and after an idle gap "now" is meant.
TEST(DueTime, MessagesCarryThePlannedMomentThoughTheSenderWakesLate) {
    int64_t now = kStart;
    SteadyClock clock([&] { return now; }, [&](int64_t deadline) { now = deadline + kLate; });
    DueRecorder device(&clock);
    clsErrorHandler err;
    clsSettings settings;
    settings.MyErr = &err;
    settings.SetCurrentKeyReference(2); // the I chord
    settings.SetKeyReferenceSettings(0);
    clsEngine engine(device, clock);
    engine.objSettings = &settings;
    engine.SetErrorHandler(&err);
    SeedRandomNumbers(7);

    // The moment each message was planned for, in ms from the start, -1 for "now".
    auto planned = [&](void (clsEngine::*play)()) {
        const int64_t start = now;
        device.Messages.clear();
        device.Dues.clear();
        (engine.*play)();
        std::vector<int64_t> ms;
        for (size_t i = 0; i < device.Messages.size(); ++i) {
            ms.push_back(device.Dues[i] == 0 ? -1 : (device.Dues[i] - start) / 1'000'000);
            if (device.Dues[i] != 0)
                EXPECT_EQ(device.Messages[i].TimeMs * 1'000'000, device.Dues[i] + kLate) << i;
        }
        return ms;
    };
    // Program change and chord on before any sleep, chord off after a beat, the first note after
    // the pause, its off with the second note, the second note's off.
    const std::vector<int64_t> expected{-1,  -1,  -1,   -1,   -1,   600, 600,
                                        600, 600, 1400, 2000, 2000, 2600};
    EXPECT_EQ(planned(&clsEngine::NewQuestion), expected);
    now += 2'000'000'000; // the user answering: an idle gap
    std::vector<int64_t> again = expected;
    again.insert(again.begin(), -1); // the program change back to the chords' instrument
    EXPECT_EQ(planned(&clsEngine::PlayAgain), again);
}
