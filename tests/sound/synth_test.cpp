#include "Sound.h"
#include "platform/FluidLogCapture.h"
#include "platform/FluidSynthOutput.h"
#include "platform/SampleClock.h"

#include <fluidsynth.h>
#include <gtest/gtest.h>
#include <memory>

// The built-in synthesizer rendered into memory in periods of 256 frames, as an
// audio driver asks for it; pitch and note offs are heard in the stream tests.

using namespace sonavel;
using namespace sonavel::soundtest;

namespace {

constexpr float Quiet = 1e-6f;
constexpr int64_t Block = FluidSynthEngine::BlockFrames;

class Synth : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_output = std::make_unique<FluidSynthOutput>(); }
    static void TearDownTestSuite() { s_output.reset(); }

    // Every test from a reset synthesizer and silence: tests measure where it ends.
    void SetUp() override {
        ASSERT_TRUE(s_output->Load()) << s_output->LastError();
        engine = s_output->Engine();
        engine->DropScheduled();
        engine->Send(0xFF);
        Quieten();
    }
    void Quieten() { // until the reverb has died away
        engine->SoundsOff();
        for (int i = 0; i < 100 && Peak(Render(4800)) > Quiet; ++i) {
        }
    }
    std::vector<float> Render(int64_t frames) { // the left channel
        std::vector<float> left(frames), right(frames);
        for (int64_t done = 0; done < frames; done += 256)
            engine->Render(&left[done], &right[done],
                           static_cast<int>(std::min<int64_t>(256, frames - done)));
        return left;
    }

    static inline std::unique_ptr<FluidSynthOutput> s_output;
    FluidSynthEngine* engine = nullptr;
};

} // namespace

TEST_F(Synth, ScheduledMessagesSoundFromTheFirstBlockAtOrAfterTheirFrame) {
    // Frames between the rendered end and the wanted one; a message already
    // rendered past is late, not lost: heard from the block after the next.
    const int64_t rows[] = {4 * Block, 4 * Block + 1, 5 * Block - 1, -3000};
    engine->Send(Pack(0xC0, 71, 0));
    for (int64_t ahead : rows) {
        SCOPED_TRACE(ahead);
        const int64_t start = engine->RenderedFrames(), wanted = std::max(start, start + ahead);
        engine->SendAt(Pack(0x90, 69, 100), start + ahead);
        const std::vector<float> sound = Render(std::max<int64_t>(ahead, 0) + 4800);
        const int64_t heard = start + (std::find_if(sound.begin(), sound.end(),
                                                    [](float s) { return std::fabs(s) > Quiet; }) -
                                       sound.begin());
        const int64_t block = (wanted + Block - 1) / Block * Block + (ahead < 0 ? Block : 0);
        EXPECT_GE(heard, wanted);
        EXPECT_LE(heard, block + 8) << "wanted " << wanted; // the attack rises over a few samples
        engine->Send(Pack(0x90, 69, 0));
        Quieten();
    }
}

TEST_F(Synth, DrumChannelLoadsItsKitOnlyWhenAsked) {
    // A fresh SoundFont leaves channel 10 silent until its program change.
    FluidSynthEngine fresh;
    std::string error;
    ASSERT_TRUE(fresh.LoadSoundFont(engine->SoundFontPath(), error)) << error;
    std::vector<float> left(9600), right(9600);
    const auto play = [&](int channel) {
        fresh.Send(Pack(0x90 | channel, 38, 100));
        fresh.Render(left.data(), right.data(), 9600);
        return Peak(left);
    };
    EXPECT_LT(play(9), Quiet);
    fresh.Send(Pack(0xC9, 0, 0));
    EXPECT_GT(play(9), 0.01f);
    EXPECT_GT(play(0), 0.01f) << "the other channels keep the piano";
}

TEST(FluidLogCapture, CollectsEachReasonOnceAndForgetsWhatWasTaken) {
    FluidLogCapture log;
    fluid_log(FLUID_ERR, "Failed to connect to server");
    fluid_log(FLUID_INFO, "Trying the next driver");
    fluid_log(FLUID_ERR, "Failed to connect to server");
    fluid_log(FLUID_WARN, "Using the default period");
    EXPECT_EQ(log.Take(), "Failed to connect to server; Using the default period");
    fluid_log(FLUID_ERR, "Failed to connect to server");
    EXPECT_EQ(log.Take(), "Failed to connect to server");
}

// The line from the monotonic clock to frames, fed as a driver feeds it every
// 256 frames at 48 kHz from a line at 1 s, with a jitter allowance of 2 ms.
TEST(SampleClock, TakesTheLineFromTheFirstSteadyCallsAndHoldsIt) {
    constexpr int64_t Ms = 1'000'000, Line = 1000 * Ms, Creep = SampleClock::CreepNanos;
    const auto at = [](int64_t origin, int64_t frames) { return origin + frames * 1'000'000 / 48; };
    SampleClock clock(48000, 2 * Ms);
    // The first call fills the empty buffer at once and says nothing of the
    // pace; the earliest of the next ones gives the line. A later call leaves
    // it, and so does an earlier one within the jitter; beyond, it creeps.
    const struct {
        int64_t lateness;
        bool settled;
        int64_t origin;
    } rows[] = {{4 * Ms, false, 0},
                {Ms, false, 0},
                {0, true, Line},
                {3 * Ms, true, Line},
                {-2 * Ms + 1000, true, Line},
                {-3 * Ms, true, Line - Creep},
                {-5 * Ms, true, Line - 2 * Creep}};
    for (int64_t i = 0; i < static_cast<int64_t>(std::size(rows)); ++i) {
        SCOPED_TRACE(i);
        clock.Observe(at(Line, 256 * i) + rows[i].lateness, 256 * i);
        ASSERT_EQ(clock.IsSettled(), rows[i].settled);
        if (rows[i].settled) {
            EXPECT_NEAR(static_cast<double>(clock.OriginNanos() - rows[i].origin), 0.0, 1.0);
        }
    }
    EXPECT_EQ(clock.FrameAt(Line + 100 * Ms), 4800);
}
