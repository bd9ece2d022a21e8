#include "LoadedSynth.h"
#include "Pitch.h"
#include "PulseServer.h"
#include "ScopedEnv.h"
#include "TempDir.h"
#include "platform/PulseStream.h"
#include "platform/SteadyClock.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fluidsynth.h>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// The program's own PulseAudio stream, against a private server whose null
// sink is recorded. Real time, a few seconds in all.

using namespace sonavel;
using fakes::Cents;
using fakes::EstimatePitch;
using fakes::MonitorRecorder;
using fakes::PulseServer;
using fakes::ScopedEnv;
using fakes::TempDir;
using namespace std::chrono_literals;

namespace {

constexpr auto Pack = &fakes::LoadedSynth::Pack;

template <typename Condition> bool WaitFor(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!condition() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    return condition();
}

// Where each sound starts in a recording: the first sample above a whisper
// after at least 50 ms of silence, when a clear sound follows within 20 ms.
std::vector<size_t> Onsets(const std::vector<float>& samples) {
    constexpr size_t Quiet = PulseServer::Rate / 20;
    constexpr size_t Rise = PulseServer::Rate / 50;
    std::vector<size_t> onsets;
    size_t quiet = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        if (std::fabs(samples[i]) < 0.001f) {
            ++quiet;
            continue;
        }
        if (quiet >= Quiet)
            for (size_t j = i; j < std::min(i + Rise, samples.size()); ++j)
                if (std::fabs(samples[j]) > 0.01f) {
                    onsets.push_back(i);
                    break;
                }
        quiet = 0;
    }
    return onsets;
}

// Each test on a server of its own, which PULSE_SERVER names to the program.
class OnPulseServer : public ::testing::Test {
protected:
    void SetUp() override {
        if (!server.Running())
            GTEST_SKIP() << server.Why();
        address = std::make_unique<ScopedEnv>("PULSE_SERVER", server.Address());
    }

    PulseServer server;
    std::unique_ptr<ScopedEnv> address;
};

class PulseStreamOnServer : public OnPulseServer {};
class SynthStreamOnServer : public OnPulseServer {};

} // namespace

TEST_F(PulseStreamOnServer, PausedAsksForNothingAndResumesWithARefillThenAtThePaceOfTheSound) {
    MonitorRecorder recorder(server);
    ASSERT_TRUE(recorder.WaitFlowing());

    struct Call {
        int64_t Nanos;
        int Frames;
    };
    std::mutex mutex;
    std::vector<Call> calls;
    double phase = 0;
    std::string error;
    std::unique_ptr<PulseStream> stream = PulseStream::Open(
        {},
        [&](float* out, int frames) {
            std::lock_guard lock(mutex);
            calls.push_back({SteadyClock::MonotonicNanos(), frames});
            for (int i = 0; i < frames; ++i, phase += 2 * M_PI * 440 / PulseServer::Rate)
                out[2 * i] = out[2 * i + 1] = 0.3f * static_cast<float>(std::sin(phase));
        },
        error);
    ASSERT_TRUE(stream) << error;
    EXPECT_TRUE(stream->IsPaused());
    EXPECT_GT(stream->RequestFrames(), 0);
    EXPECT_LT(stream->RequestFrames(), stream->BufferFrames());
    const auto callCount = [&] {
        std::lock_guard lock(mutex);
        return calls.size();
    };

    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(callCount(), 0u) << "asked for sound while paused";
    EXPECT_EQ(stream->LargestRequestFrames(), 0);

    stream->Resume();
    EXPECT_FALSE(stream->IsPaused());
    std::this_thread::sleep_for(500ms);
    stream->Pause();
    const size_t paused = callCount();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(callCount(), paused) << "asked for sound after the pause";

    std::vector<Call> seen;
    {
        std::lock_guard lock(mutex);
        seen = calls;
    }
    ASSERT_GE(seen.size(), 20u);
    EXPECT_EQ(seen[0].Frames, stream->BufferFrames()) << "the first request refills the buffer";
    int largest = 0;
    for (size_t i = 1; i < seen.size(); ++i)
        largest = std::max(largest, seen[i].Frames);
    EXPECT_EQ(stream->LargestRequestFrames(), largest) << "counted the refill";
    // From the second request on, what is asked is what has played.
    int64_t asked = 0;
    for (size_t i = 1; i + 1 < seen.size(); ++i)
        asked += seen[i].Frames;
    const double seconds = static_cast<double>(seen.back().Nanos - seen[1].Nanos) / 1e9;
    EXPECT_NEAR(static_cast<double>(asked) / seconds, PulseServer::Rate, PulseServer::Rate * 0.03);

    recorder.Stop();
    const std::vector<float> sound = recorder.Samples();
    const std::vector<size_t> onsets = Onsets(sound);
    ASSERT_EQ(onsets.size(), 1u) << "the tone was not heard once";
    EXPECT_NEAR(Cents(EstimatePitch(sound, onsets[0] + 4800, 4096, PulseServer::Rate), 440), 0, 5);
}

TEST(PulseStream, WithoutAServerOpenFailsAndSaysWhy) {
    TempDir dir("sonavel-pulse");
    ScopedEnv address("PULSE_SERVER", "unix:" + (dir.Path / "none").string());
    std::string error;
    EXPECT_FALSE(PulseStream::Open(
        {}, [](float*, int) {}, error));
    EXPECT_FALSE(error.empty());
}

TEST_F(SynthStreamOnServer, PlaysInTimeAtPitchAndPausesInSilence) {
    MonitorRecorder recorder(server);
    ASSERT_TRUE(recorder.WaitFlowing());
    FluidSynthOutput::Options options;
    options.AudioDrivers = {FluidSynthOutput::StreamDriver};
    options.StreamIdleStopMs = 100;
    options.TraceFile.clear();
    FluidSynthOutput output(options);

    // Connected beforehand, but not fed until started.
    ASSERT_TRUE(output.Prepare()) << output.LastError();
    // Without the effects' tails, the notes have silence between them.
    fluid_synth_reverb_on(output.Engine()->Synth(), -1, 0);
    fluid_synth_chorus_on(output.Engine()->Synth(), -1, 0);
    EXPECT_EQ(output.DriverName(), FluidSynthOutput::StreamDriver);
    EXPECT_FALSE(output.IsRunning());
    ASSERT_TRUE(output.Start()) << output.LastError();
    EXPECT_TRUE(output.IsRunning());

    // The same organ note twice, held apart long enough for the first to die
    // away (as a question holds the output through its pauses): the two
    // sounds must lie as far apart as the messages did when they arrived, to
    // the synthesizer's block.
    const auto play = [&](int64_t& arrival) {
        arrival = SteadyClock::MonotonicNanos();
        output.Send(Pack(0x90, 69, 100));
        std::this_thread::sleep_for(150ms);
        output.Send(Pack(0x90, 69, 0));
    };
    output.Send(Pack(0xC0, 19, 0));
    int64_t first = 0;
    int64_t second = 0;
    output.Hold(true);
    play(first);
    std::this_thread::sleep_for(2200ms);
    play(second);
    output.Hold(false);

    // Silent, it pauses; the next note resumes it and is heard.
    ASSERT_TRUE(WaitFor([&] { return output.IsSuspended(); })) << "never paused";
    EXPECT_FALSE(output.IsRunning());
    std::this_thread::sleep_for(200ms);
    int64_t third = 0;
    play(third);
    EXPECT_TRUE(output.IsRunning());
    ASSERT_TRUE(WaitFor([&] { return output.IsSuspended(); }));
    std::this_thread::sleep_for(100ms);
    recorder.Stop();

    const std::vector<float> sound = recorder.Samples();
    const std::vector<size_t> onsets = Onsets(sound);
    ASSERT_EQ(onsets.size(), 3u);
    const double apart = static_cast<double>(second - first) * PulseServer::Rate / 1e9;
    EXPECT_NEAR(static_cast<double>(onsets[1] - onsets[0]), apart,
                FluidSynthEngine::BlockFrames + 1);
    for (size_t onset : onsets)
        EXPECT_NEAR(Cents(EstimatePitch(sound, onset + 2400, 2048, PulseServer::Rate), 440), 0, 10);
    output.Stop();
}

TEST_F(SynthStreamOnServer, TurnsToTheNextOutputWhenTheServerGoesAway) {
    TempDir dir("sonavel-pulse");
    FluidSynthOutput::Options options;
    options.AudioDrivers = {FluidSynthOutput::StreamDriver, "file"};
    options.AudioFile = (dir.Path / "out.wav").string();
    options.TraceFile.clear();
    FluidSynthOutput output(options);
    ASSERT_TRUE(output.Start()) << output.LastError();
    ASSERT_EQ(output.DriverName(), FluidSynthOutput::StreamDriver);

    server.Kill();
    // The stream learns of it from its connection; the next message after that
    // finds the server gone and opens the next output.
    EXPECT_TRUE(WaitFor([&] {
        output.Send(Pack(0x90, 69, 0));
        return output.DriverName() == "file";
    })) << output.DriverName();
    EXPECT_TRUE(output.IsRunning());
    output.Stop();
}
