#include "LoadedSynth.h"
#include "Pitch.h"
#include "platform/FluidLogCapture.h"
#include "platform/SampleClock.h"

#include <algorithm>
#include <cmath>
#include <fluidsynth.h>
#include <gtest/gtest.h>
#include <vector>

using namespace sonavel;
using fakes::Pack;

namespace {

constexpr float Quiet = 1e-6f;
constexpr int64_t Block = FluidSynthEngine::BlockFrames;
constexpr int64_t AttackFrames = 8; // a note's attack rises from zero over a few samples
constexpr int64_t Ms = 1'000'000;

float Peak(const std::vector<float>& sound, size_t from = 0) {
    float peak = 0;
    for (size_t i = from; i < sound.size(); ++i)
        peak = std::max(peak, std::fabs(sound[i]));
    return peak;
}

// The engine rendered into memory in periods of 256 frames, as an audio
// driver asks for it, from silence: tests measure where silence ends.
class Synth : public fakes::LoadedSynth {
protected:
    void SetUp() override {
        LoadedSynth::SetUp();
        Quieten();
    }

    // Until the reverb has died away.
    void Quieten() {
        engine->SoundsOff();
        for (int i = 0; i < 100 && Peak(Render(4800)) > Quiet; ++i) {
        }
    }

    // The left channel.
    std::vector<float> Render(int frames) {
        std::vector<float> left(frames), right(frames);
        for (int done = 0; done < frames; done += 256)
            engine->Render(left.data() + done, right.data() + done, std::min(256, frames - done));
        return left;
    }

    // The first frame, counted as the engine counts, that is not silent.
    static int64_t SoundStart(const std::vector<float>& sound, int64_t firstFrame) {
        const auto it =
            std::find_if(sound.begin(), sound.end(), [](float s) { return std::fabs(s) > Quiet; });
        return it == sound.end() ? -1 : firstFrame + (it - sound.begin());
    }
};

} // namespace

TEST_F(Synth, NotesSoundAtTheirPitchOnTheirChannelUntilTheirNoteOff) {
    struct Row {
        const char* name;
        int channel;
        int note;
        double hertz;
    };
    // The clarinet holds its tone until released, and FluidR3's clarinet is in
    // tune (its piano, organ and flute are detuned on purpose).
    const Row rows[] = {
        {"A4", 0, 69, 440.0},
        {"middle C on channel 16", 15, 60, 261.626},
        {"A3 on channel 5", 4, 57, 220.0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        engine->Send(Pack(0xC0 | row.channel, 71, 0));
        EXPECT_EQ(engine->Program(row.channel), 71);
        EXPECT_EQ(engine->Program(row.channel ^ 1), 0) << "other channels keep the piano";
        engine->Send(Pack(0x90 | row.channel, row.note, 100));
        const std::vector<float> sound = Render(28800);
        const double pitch = fakes::EstimatePitch(sound, 14400, 4096, engine->SampleRate());
        EXPECT_NEAR(fakes::Cents(pitch, row.hertz), 0.0, 5.0) << "heard " << pitch << " Hz";
        // The program's note off is a note on with velocity 0.
        engine->Send(Pack(0x90 | row.channel, row.note, 0));
        EXPECT_LT(Peak(Render(144000), 120000), 1e-4f) << "still sounding after the note off";
    }
}

TEST_F(Synth, ScheduledNoteSoundsFromTheFirstBlockAtOrAfterItsFrame) {
    struct Row {
        const char* name;
        int64_t ahead; // frames between the rendered end and the wanted frame
        int64_t slack; // blocks it may come later than its own
    };
    const Row rows[] = {
        {"on a block start", 4 * Block, 0},
        {"one frame after a block start", 4 * Block + 1, 0},
        {"last frame of a block", 5 * Block - 1, 0},
        {"one second ahead", 48000 + 40, 0},
        // Released before the next block is prepared, heard from the one after.
        {"already rendered: late, not lost", -3000, 1},
    };
    engine->Send(Pack(0xC0, 71, 0));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const int64_t start = engine->RenderedFrames();
        const int64_t wanted = std::max(start, start + row.ahead);
        engine->SendAt(Pack(0x90, 69, 100), start + row.ahead);
        const std::vector<float> sound =
            Render(static_cast<int>(std::max<int64_t>(row.ahead, 0)) + 4800);
        const int64_t block = (wanted + Block - 1) / Block * Block + row.slack * Block;
        const int64_t heard = SoundStart(sound, start);
        EXPECT_GE(heard, wanted);
        EXPECT_LE(heard, block + AttackFrames) << "wanted " << wanted << ", block " << block;
        engine->Send(Pack(0x90, 69, 0));
        Quieten();
    }
    engine->SendAt(Pack(0x90, 69, 100), engine->RenderedFrames() + 2400);
    engine->DropScheduled();
    EXPECT_LT(Peak(Render(9600)), Quiet) << "a dropped note still sounded";
}

TEST_F(Synth, MessagesOfOneBlockKeepTheirMeaning) {
    // The note off of one chord and the note on of the next come together, and
    // often for the same key: in either order, the new note must sound, not
    // be cut.
    engine->Send(Pack(0xC0, 19, 0));
    const int64_t at = engine->RenderedFrames() + 1024;
    engine->SendAt(Pack(0x90, 60, 100), at);
    engine->SendAt(Pack(0x90, 60, 100), at + 4800);
    engine->SendAt(Pack(0x90, 60, 0), at + 4800);
    // A program change and the note after it in the same block: the new program plays.
    engine->SendAt(Pack(0xC1, 40, 0), at + 100);
    engine->SendAt(Pack(0x91, 64, 100), at + 100);
    const std::vector<float> sound = Render(48000);
    EXPECT_EQ(engine->Program(1), 40);
    // The organ holds its level while a key is down; released, it dies away.
    EXPECT_GT(Peak(sound, 40000), 0.5f * Peak(sound)) << "the organ note started again was cut";
}

TEST_F(Synth, DrumChannelLoadsItsKitOnlyWhenAsked) {
    // A fresh SoundFont load leaves channel 10 without a preset: its notes are
    // silent until the program change that comes before them brings the kit.
    FluidSynthEngine fresh;
    std::string error;
    ASSERT_TRUE(fresh.LoadSoundFont(engine->SoundFontPath(), error)) << error;
    std::vector<float> left(9600), right(9600);
    const auto play = [&](uint32_t note) {
        fresh.Send(note);
        fresh.Render(left.data(), right.data(), 9600);
        fresh.Send(note & 0xFFFF);
        return Peak(left);
    };
    EXPECT_LT(play(Pack(0x99, 38, 100)), Quiet);
    fresh.Send(Pack(0xC9, 0, 0));
    EXPECT_GT(play(Pack(0x99, 38, 100)), 0.01f);
    EXPECT_GT(play(Pack(0x90, 60, 100)), 0.01f) << "the other channels keep the piano";
}

TEST(FluidLogCapture, CollectsEachReasonOnceAndForgetsWhatWasTaken) {
    FluidLogCapture log;
    fluid_log(FLUID_ERR, "Failed to connect to server");
    fluid_log(FLUID_INFO, "Trying the next driver");
    fluid_log(FLUID_ERR, "Failed to connect to server");
    fluid_log(FLUID_WARN, "Using the default period");
    EXPECT_EQ(log.Take(), "Failed to connect to server; Using the default period");
    EXPECT_EQ(log.Take(), "");
    fluid_log(FLUID_ERR, "Failed to connect to server");
    EXPECT_EQ(log.Take(), "Failed to connect to server");
}

// The line from the monotonic clock to frames, fed as a driver feeds it.
TEST(SampleClock, TakesTheLineFromTheFirstSteadyCallsAndHoldsIt) {
    const double rate = 48000;
    const int64_t period = 256;
    const auto at = [&](int64_t origin, int64_t frames) {
        return origin + static_cast<int64_t>(std::llround(frames * 1e9 / rate));
    };
    const int64_t line = 1'000 * Ms;
    SampleClock clock(rate, 2 * Ms);

    // The first call fills the empty buffer at once; it says nothing about the
    // pace. The earliest of the next ones gives the line.
    clock.Observe(line + 4 * Ms, 0);
    clock.Observe(at(line, period) + 1 * Ms, period);
    EXPECT_FALSE(clock.IsSettled());
    clock.Observe(at(line, 2 * period), 2 * period);
    ASSERT_TRUE(clock.IsSettled());
    EXPECT_NEAR(static_cast<double>(clock.OriginNanos()), static_cast<double>(line), 1.0);
    EXPECT_EQ(clock.FrameAt(line + 100 * Ms), 4800);

    struct Row {
        const char* name;
        int64_t lateness; // of the call against the line, nanoseconds
        int64_t shift;    // of the line afterwards
    };
    const Row rows[] = {
        {"on time", 0, 0},
        {"late by 3 ms", 3 * Ms, 0},
        {"early within the allowance", -(2 * Ms) + 1000, 0},
        {"early by 3 ms: the line creeps", -3 * Ms, -SampleClock::CreepNanos},
        {"early by 5 ms: creeps the same", -5 * Ms, -SampleClock::CreepNanos},
    };
    int64_t frames = 2 * period;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const int64_t before = clock.OriginNanos();
        frames += period;
        clock.Observe(at(line, frames) + row.lateness, frames);
        EXPECT_NEAR(static_cast<double>(clock.OriginNanos() - before),
                    static_cast<double>(row.shift), 1.0);
    }

    // A new run of the driver makes the line again.
    clock.Restart();
    EXPECT_FALSE(clock.IsSettled());
    const int64_t next = line + 5000 * Ms;
    for (int i = 0; i < 3; ++i) // the first, left out, and two that draw the line
        clock.Observe(at(next, frames + i * period), frames + i * period);
    EXPECT_TRUE(clock.IsSettled());
    EXPECT_NEAR(static_cast<double>(clock.FrameAt(next + 10 * Ms)), 480.0, 1.0);
}
