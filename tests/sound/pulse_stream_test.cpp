#include "LoadedSynth.h"
#include "Pitch.h"
#include "PulseServer.h"
#include "ScopedEnv.h"
#include "TempDir.h"
#include "platform/PulseStream.h"
#include "platform/SampleClock.h"
#include "platform/SteadyClock.h"

#include <chrono>
#include <cmath>
#include <fluidsynth.h>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// The program's own PulseAudio stream, against a private server whose null
// sink is recorded. Real time, a few seconds in all.

using namespace sonavel;
using namespace std::chrono_literals;
using fakes::Pack;
using fakes::PulseServer;
constexpr int Rate = PulseServer::Rate;

namespace {

template <typename Condition> bool WaitFor(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!condition() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    return condition();
}

// Where each sound starts in a recording: the first sample above a whisper
// after at least 50 ms of silence, when a clear sound follows within 20 ms.
std::vector<size_t> Onsets(const std::vector<float>& samples) {
    std::vector<size_t> onsets;
    size_t quiet = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        if (std::fabs(samples[i]) < 0.001f) {
            ++quiet;
            continue;
        }
        if (quiet >= Rate / 20)
            for (size_t j = i; j < std::min(i + Rate / 50, samples.size()); ++j)
                if (std::fabs(samples[j]) > 0.01f) {
                    onsets.push_back(i);
                    break;
                }
        quiet = 0;
    }
    return onsets;
}

double CentsFromA4(const std::vector<float>& sound, size_t from) {
    return fakes::Cents(fakes::EstimatePitch(sound, from, 2048, Rate), 440);
}

// Each test on a server of its own, which PULSE_SERVER names to the program,
// recorded from the start.
class OnPulseServer : public ::testing::Test {
protected:
    void SetUp() override {
        if (!server.Running())
            GTEST_SKIP() << server.Why();
        address = std::make_unique<fakes::ScopedEnv>("PULSE_SERVER", server.Address());
        recorder = std::make_unique<fakes::MonitorRecorder>(server);
        ASSERT_TRUE(recorder->WaitFlowing());
    }

    PulseServer server;
    std::unique_ptr<fakes::ScopedEnv> address;
    std::unique_ptr<fakes::MonitorRecorder> recorder;
};

using PulseStreamOnServer = OnPulseServer;
using SynthStreamOnServer = OnPulseServer;

} // namespace

TEST_F(PulseStreamOnServer, PausedAsksForNothingAndResumesWithARefillThenAtThePaceOfTheSound) {
    struct Call {
        int64_t Nanos;
        int Frames;
    };
    std::mutex mutex;
    std::vector<Call> calls;
    double phase = 0;
    std::string error;
    PulseStream::Options options;
    // Ample for a busy machine: a server that runs dry asks for less than played.
    options.BufferFrames = 2048;
    std::unique_ptr<PulseStream> stream = PulseStream::Open(
        options,
        [&](float* out, int frames) {
            std::lock_guard lock(mutex);
            calls.push_back({SteadyClock::MonotonicNanos(), frames});
            for (int i = 0; i < frames; ++i, phase += 2 * M_PI * 440 / Rate)
                out[2 * i] = out[2 * i + 1] = 0.3f * static_cast<float>(std::sin(phase));
        },
        error);
    ASSERT_TRUE(stream) << error;
    EXPECT_TRUE(stream->IsPaused());
    // Small requests, so that what is rendered is heard soon after.
    EXPECT_EQ(stream->RequestFrames(), options.BufferFrames / 4);
    const auto seen = [&] {
        std::lock_guard lock(mutex);
        return calls;
    };

    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(seen().size(), 0u) << "asked for sound while paused";
    stream->Resume();
    EXPECT_FALSE(stream->IsPaused());
    std::this_thread::sleep_for(1000ms);
    stream->Pause();
    const std::vector<Call> played = seen();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(seen().size(), played.size()) << "asked for sound after the pause";

    ASSERT_GE(played.size(), 10u);
    EXPECT_EQ(played[0].Frames, stream->BufferFrames()) << "the first request refills the buffer";
    int largest = 0;
    int64_t asked = 0; // from the second request on, what is asked is what has played
    for (size_t i = 1; i < played.size(); ++i) {
        largest = std::max(largest, played[i].Frames);
        asked += i + 1 < played.size() ? played[i].Frames : 0;
    }
    EXPECT_EQ(stream->LargestRequestFrames(), largest) << "counted the refill";
    const double seconds = static_cast<double>(played.back().Nanos - played[1].Nanos) / 1e9;
    EXPECT_NEAR(static_cast<double>(asked) / seconds, Rate, Rate * 0.03);

    recorder->Stop();
    const std::vector<float> sound = recorder->Samples();
    const std::vector<size_t> onsets = Onsets(sound);
    ASSERT_EQ(onsets.size(), 1u) << "the tone was not heard once";
    EXPECT_NEAR(CentsFromA4(sound, onsets[0] + 4800), 0, 5);
}

TEST_F(SynthStreamOnServer, PlaysInTimeAtPitchAndPausesInSilence) {
    fakes::TempDir dir("sonavel-pulse");
    FluidSynthOutput::Options options;
    options.AudioDrivers = {FluidSynthOutput::StreamDriver};
    options.StreamIdleStopMs = 100;
    // A busy machine that holds up the server longer than its buffer leaves
    // the sink without sound and moves all that follows: give it 128 ms. The
    // requests then come in pieces of 32 ms and more, against which a
    // message played at once would be late by up to a piece.
    options.StreamBufferFrames = 6144;
    // The arrival times the program stamped, not the test's, which a busy
    // machine may take a millisecond before or after.
    options.TraceFile = (dir.Path / "trace.txt").string();
    FluidSynthOutput output(options);

    // Connected beforehand, but not fed until started.
    ASSERT_TRUE(output.Prepare()) << output.LastError();
    // Without the effects' tails, the notes have silence between them.
    fluid_synth_reverb_on(output.Engine()->Synth(), -1, 0);
    fluid_synth_chorus_on(output.Engine()->Synth(), -1, 0);
    EXPECT_EQ(output.DriverName(), FluidSynthOutput::StreamDriver);
    EXPECT_FALSE(output.IsRunning());
    output.Send(Pack(0xC0, 71, 0));
    ASSERT_TRUE(output.Start()) << output.LastError();

    // Each run of the stream places its messages after the largest request
    // of the run before: a server may ask for more than it granted, and
    // sound already rendered when a message arrives can only take it late.
    // A first note, then, alone; silent, the stream pauses.
    const auto play = [&] {
        output.Send(Pack(0x90, 69, 100));
        std::this_thread::sleep_for(150ms);
        output.Send(Pack(0x90, 69, 0));
    };
    play();
    ASSERT_TRUE(WaitFor([&] { return output.IsSuspended(); })) << "never paused";
    EXPECT_FALSE(output.IsRunning());

    // The next note resumes it. The same note again, held apart long enough
    // for the first to die away (as a question holds the output through its
    // pauses): the two sounds must lie as far apart as the messages did when
    // they arrived, to the synthesizer's block.
    output.Hold(true);
    play();
    EXPECT_TRUE(output.IsRunning());
    std::this_thread::sleep_for(1000ms);
    play();
    output.Hold(false);
    ASSERT_TRUE(WaitFor([&] { return output.IsSuspended(); }));
    recorder->Stop();
    output.Stop();

    std::vector<int64_t> arrivals;
    std::ifstream trace(options.TraceFile);
    int64_t nanos = 0;
    for (std::string hex; trace >> nanos >> hex;)
        if (hex == "644590")
            arrivals.push_back(nanos);
    ASSERT_EQ(arrivals.size(), 3u);
    const std::vector<float> sound = recorder->Samples();
    const std::vector<size_t> onsets = Onsets(sound);
    ASSERT_EQ(onsets.size(), 3u);
    const double apart = static_cast<double>(arrivals[2] - arrivals[1]) * Rate / 1e9;
    // Each note lands on the first block at or after its frame. The line from
    // the clock to frames may creep by 2 us a request, of 25 ms or more.
    const double creep = apart / (Rate / 40) * SampleClock::CreepNanos * Rate / 1e9;
    EXPECT_NEAR(static_cast<double>(onsets[2] - onsets[1]), apart,
                FluidSynthEngine::BlockFrames + 1 + creep);
    for (size_t onset : onsets)
        EXPECT_NEAR(CentsFromA4(sound, onset + 2400), 0, 5);
}

TEST_F(SynthStreamOnServer, TurnsToTheNextOutputWhenTheServerGoesAway) {
    fakes::TempDir dir("sonavel-pulse");
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

    // A new stream without a server fails at once and says why.
    std::string error;
    EXPECT_FALSE(PulseStream::Open(
        {}, [](float*, int) {}, error));
    EXPECT_FALSE(error.empty());
}
