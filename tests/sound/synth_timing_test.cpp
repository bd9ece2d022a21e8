#include "LoadedSynth.h"
#include "TempDir.h"
#include "platform/SampleClock.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

using namespace sonavel;
namespace fs = std::filesystem;

using fakes::LoadedSynth;

using fakes::TempDir;

namespace {

constexpr auto Pack = &LoadedSynth::Pack;

constexpr int64_t Ms = 1'000'000;

// The engine with the system's GM SoundFont, rendered into memory in steps as
// an audio driver would ask for it.
class SynthSchedule : public fakes::LoadedSynth {
protected:
    void SetUp() override {
        LoadedSynth::SetUp();
        Silence();
    }

    // Renders until the reverb has died away: tests measure where silence ends.
    void Silence() {
        engine->SoundsOff();
        for (int i = 0; i < 100 && Peak(Render(4800)) > Quiet; ++i) {
        }
    }

    static constexpr float Quiet = 1e-6f;
    static constexpr int64_t AttackFrames = 8;

    // Left channel of frames rendered in periods of 256 frames.
    std::vector<float> Render(int frames) {
        std::vector<float> left(frames), right(frames);
        for (int done = 0; done < frames; done += 256) {
            const int n = std::min(256, frames - done);
            engine->Render(left.data() + done, right.data() + done, n);
        }
        return left;
    }

    static float Peak(const std::vector<float>& sound) {
        float peak = 0;
        for (float s : sound)
            peak = std::max(peak, std::fabs(s));
        return peak;
    }

    // The first frame, counted as the engine counts, that is not silent.
    static int64_t SoundStart(const std::vector<float>& sound, int64_t firstFrame) {
        for (size_t i = 0; i < sound.size(); ++i)
            if (std::fabs(sound[i]) > Quiet)
                return firstFrame + static_cast<int64_t>(i);
        return -1;
    }
};

} // namespace

TEST_F(SynthSchedule, ANoteSoundsFromTheFirstBlockAtOrAfterItsFrame) {
    struct Row {
        const char* name;
        int64_t ahead; // frames between the rendered end and the wanted frame
        int program;
    };
    const Row rows[] = {
        {"on a block start", 4 * 64, 71},
        {"one frame after a block start", 4 * 64 + 1, 71},
        {"last frame of a block", 5 * 64 - 1, 19},
        {"half a second ahead", 24000 + 17, 19},
        {"one second ahead", 48000 + 40, 71},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        engine->Send(Pack(0xC0, row.program, 0));
        const int64_t start = engine->RenderedFrames();
        const int64_t wanted = start + row.ahead;
        engine->SendAt(Pack(0x90, 69, 100), wanted);
        const std::vector<float> sound = Render(static_cast<int>(row.ahead) + 4800);
        const int64_t block = (wanted + FluidSynthEngine::BlockFrames - 1) /
                              FluidSynthEngine::BlockFrames * FluidSynthEngine::BlockFrames;
        const int64_t heard = SoundStart(sound, start);
        EXPECT_GE(heard, wanted);
        // The attack rises from zero over a few samples.
        EXPECT_LE(heard, block + AttackFrames) << "wanted " << wanted << ", block " << block;
        EXPECT_GT(Peak(sound), 0.01f);
        engine->Send(Pack(0x90, 69, 0));
        Silence();
    }
}

TEST_F(SynthSchedule, MessagesOfOneBlockKeepTheirMeaning) {
    // The note off of one chord and the note on of the next come together, and
    // often for the same key: the new note must sound, not be cut.
    engine->Send(Pack(0xC0, 19, 0));
    const int64_t at = engine->RenderedFrames() + 1024;
    engine->SendAt(Pack(0x90, 60, 100), at);
    engine->SendAt(Pack(0x90, 60, 0), at + 4800);
    engine->SendAt(Pack(0x90, 60, 100), at + 4800);
    // A program change and the note after it in the same block: the new program plays.
    engine->SendAt(Pack(0xC1, 40, 0), at + 100);
    engine->SendAt(Pack(0x91, 64, 100), at + 100);
    const std::vector<float> sound = Render(48000);
    EXPECT_EQ(engine->Program(1), 40);
    double tail = 0;
    for (size_t i = 40000; i < sound.size(); ++i)
        tail += double{sound[i]} * sound[i];
    EXPECT_GT(std::sqrt(tail / 8000), 0.01) << "the organ note started again still sounds";
}

TEST_F(SynthSchedule, FramesAlreadyRenderedPlayAtTheNextBlock) {
    Render(4096);
    const int64_t start = engine->RenderedFrames();
    engine->SendAt(Pack(0x90, 69, 100), start - 3000);
    const std::vector<float> sound = Render(4800);
    const int64_t heard = SoundStart(sound, start);
    EXPECT_GE(heard, start);
    // Released before the next block is prepared, heard from the one after.
    EXPECT_LE(heard, start + 2 * FluidSynthEngine::BlockFrames + AttackFrames) << "late, not lost";
}

TEST_F(SynthSchedule, DropScheduledForgetsWhatIsStillToPlay) {
    engine->SendAt(Pack(0x90, 69, 100), engine->RenderedFrames() + 2400);
    engine->DropScheduled();
    EXPECT_LT(Peak(Render(9600)), Quiet);
}

TEST_F(SynthSchedule, DrumChannelLoadsItsKitOnlyWhenAsked) {
    // A fresh SoundFont load leaves channel 10 without a preset: its notes are
    // silent until the program change that comes before them brings the kit.
    FluidSynthEngine fresh;
    std::string error;
    ASSERT_TRUE(fresh.LoadSoundFont(engine->SoundFontPath(), error)) << error;
    std::vector<float> left(9600), right(9600);
    const auto snare = [&] {
        fresh.Send(Pack(0x99, 38, 100));
        fresh.Render(left.data(), right.data(), 9600);
        fresh.Send(Pack(0x99, 38, 0));
        return Peak(left);
    };
    EXPECT_LT(snare(), Quiet);
    fresh.Send(Pack(0xC9, 0, 0));
    EXPECT_GT(snare(), 0.01f);
    // The other channels keep the piano of the load.
    fresh.Send(Pack(0x90, 60, 100));
    fresh.Render(left.data(), right.data(), 9600);
    EXPECT_GT(Peak(left), 0.01f);
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
    EXPECT_FALSE(clock.IsSettled());

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
        {"on time again", 0, 0},
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
    EXPECT_NEAR(static_cast<double>(clock.FrameAt(next + 10 * Ms)), static_cast<double>(480), 1.0);
}

// Idle stop and restart through FluidSynth's file driver, a real audio driver
// that needs no sound card. Real time, but a fraction of a second.
TEST(FluidSynthOutputIdle, StopsFeedingWhenSilentAndWakesWithTheFirstNoteIntact) {
    TempDir dir("sonavel-timing");
    FluidSynthOutput::Options options;
    options.AudioDrivers = {"file"};
    options.AudioFile = (dir.Path / "out.wav").string();
    options.IdleStopMs = 150;
    options.TraceFile = (dir.Path / "trace.txt").string();
    FluidSynthOutput output(options);
    ASSERT_TRUE(output.Start()) << output.LastError();

    const auto waitFor = [](auto condition) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!condition() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return condition();
    };

    // A held note keeps the sound going past the idle time.
    output.Send(Pack(0xC0, 19, 0));
    output.Send(Pack(0x90, 57, 100));
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_TRUE(output.IsRunning()) << "stopped under a sounding note";
    output.Send(Pack(0x90, 57, 0));
    ASSERT_TRUE(waitFor([&] { return output.IsSuspended(); })) << "never went idle";
    EXPECT_FALSE(output.IsRunning());

    // Held (a question's pause), silence does not stop it; released, it does.
    output.Send(Pack(0x90, 60, 0));
    output.Hold(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_TRUE(output.IsRunning()) << "stopped while held";
    output.Hold(false);
    ASSERT_TRUE(waitFor([&] { return output.IsSuspended(); })) << "held after the release";

    // The file driver writes a new file when it starts again: the first note
    // after idle must be at its start, whole.
    fs::remove(options.AudioFile);
    output.Send(Pack(0x90, 69, 100));
    EXPECT_TRUE(output.IsRunning());
    EXPECT_FALSE(output.IsSuspended());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    output.Send(Pack(0x90, 69, 0));
    ASSERT_TRUE(waitFor([&] { return output.IsSuspended(); }));
    output.Stop();
    EXPECT_FALSE(output.IsSuspended()) << "closing is not idling";

    std::ifstream in(options.AudioFile, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    ASSERT_GT(bytes.size(), 44u + 4 * 4800) << "the file driver played after the restart";
    int firstLoud = -1;
    for (size_t i = 44; i + 1 < bytes.size(); i += 2) {
        const auto sample = static_cast<int16_t>(static_cast<unsigned char>(bytes[i]) |
                                                 (static_cast<unsigned char>(bytes[i + 1]) << 8));
        if (std::abs(int{sample}) > 1000) {
            firstLoud = static_cast<int>((i - 44) / 4); // stereo frames
            break;
        }
    }
    EXPECT_GE(firstLoud, 0) << "the note after idle was lost";
    EXPECT_LT(firstLoud, 4800) << "the note after idle came more than 100 ms late";

    // Every message is in the trace, stamped and in hex.
    std::ifstream trace(options.TraceFile);
    std::vector<std::string> messages;
    for (std::string line; std::getline(trace, line);) {
        std::istringstream fields(line);
        long long nanos = 0;
        std::string hex;
        fields >> nanos >> hex;
        EXPECT_GT(nanos, 0);
        messages.push_back(hex);
    }
    const std::vector<std::string> sent{"0013c0", "643990", "003990", "003c90", "644590", "004590"};
    EXPECT_EQ(messages, sent);
}
