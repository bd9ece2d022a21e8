#include "engine_fixture.h"
#include "platform/SteadyClock.h"

using namespace sonavel;

namespace {

constexpr int64_t kStart = 1'000'000'000, kLate = 7'000'000;

// Records when each message was due; sending one takes a millisecond.
struct DueRecorder : fakes::RecordingMidiOutput {
    DueRecorder(Clock* clock, int64_t& now) : RecordingMidiOutput(clock), Now(now) {}
    int32_t ShortMsgAt(uint32_t handle, uint32_t message, int64_t dueNanos) override {
        Dues.push_back(dueNanos);
        const int32_t result = ShortMsg(handle, message);
        Now += 1'000'000;
        return result;
    }
    int64_t& Now;
    std::vector<int64_t> Dues;
};

} // namespace

// The real clock on a time source that wakes every sleep 7 ms late and takes a millisecond a
// message, as a busy machine may: the messages still carry the moment they were meant for, so the
// synthesizer can place them there; the lateness does not add up, and after an idle gap the
// first message starts the timeline.
TEST(DueTime, MessagesCarryThePlannedMomentThoughTheSenderWakesLate) {
    int64_t now = kStart;
    SteadyClock clock([&] { return now; }, [&](int64_t deadline) { now = deadline + kLate; });
    DueRecorder device(&clock, now);
    clsErrorHandler err;
    clsSettings settings;
    settings.MyErr = &err;
    settings.SetCurrentKeyReference(2); // the I chord
    settings.SetKeyReferenceSettings(0);
    clsEngine engine(device, clock);
    engine.objSettings = &settings;
    engine.SetErrorHandler(&err);
    SeedRandomNumbers(7);

    // The moment each message was planned for, in ms from the start.
    auto planned = [&](void (clsEngine::*play)()) {
        const int64_t start = now;
        device.Dues.clear();
        (engine.*play)();
        std::vector<int64_t> ms;
        for (int64_t due : device.Dues)
            ms.push_back((due - start) / 1'000'000);
        return ms;
    };
    // Program change and chord on at once, chord off after a beat, the first note after the
    // pause, its off with the second note, the second note's off.
    const std::vector<int64_t> expected{0, 0, 0, 0, 0, 600, 600, 600, 600, 1400, 2000, 2000, 2600};
    EXPECT_EQ(planned(&clsEngine::NewQuestion), expected);
    now += 2'000'000'000; // the user answering: an idle gap
    std::vector<int64_t> again = expected;
    again.insert(again.begin(), 0); // the program change back to the chords' instrument
    EXPECT_EQ(planned(&clsEngine::PlayAgain), again);
}
