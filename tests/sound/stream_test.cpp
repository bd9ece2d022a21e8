#include "PulseServer.h"
#include "ScopedEnv.h"
#include "Sound.h"
#include "TempDir.h"
#include "platform/FluidSynthOutput.h"
#include "platform/PulseStream.h"
#include "platform/SteadyClock.h"
#include "platform/SystemMidiOutput.h"

#include <fstream>
#include <gtest/gtest.h>
#include <memory>

// The synthesizer's own audio drivers, in real time: its PulseAudio stream on a
// private server whose null sink is recorded, and FluidSynth's "file" driver.

using namespace sonavel;
using namespace sonavel::soundtest;
using namespace std::chrono_literals;
constexpr int Rate = fakes::PulseServer::Rate;

namespace {

// Each test on a server of its own, named to the program by PULSE_SERVER and
// recorded from the start.
class OnPulseServer : public ::testing::Test {
protected:
    void SetUp() override {
        if (!server.Running())
            GTEST_SKIP() << server.Why();
        recorder = std::make_unique<fakes::MonitorRecorder>(server);
        ASSERT_TRUE(recorder->WaitFlowing());
    }

    fakes::PulseServer server;
    fakes::ScopedEnv address{"PULSE_SERVER", server.Address()};
    fakes::TempDir dir{"sonavel-sound"};
    std::unique_ptr<fakes::MonitorRecorder> recorder;
};

} // namespace

TEST_F(OnPulseServer, PausedStreamAsksForNothingAndResumesWithARefillThenAtThePaceOfTheSound) {
    std::mutex mutex;
    std::vector<std::pair<int64_t, int>> calls; // when, how many frames
    double phase = 0;
    std::string error;
    PulseStream::Options options;
    options.BufferFrames = 2048; // ample for a busy machine, which would ask for less than played
    std::unique_ptr<PulseStream> stream = PulseStream::Open(
        options,
        [&](float* out, int frames) {
            std::lock_guard lock(mutex);
            calls.emplace_back(SteadyClock::MonotonicNanos(), frames);
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
    std::this_thread::sleep_for(1200ms);
    stream->Pause();
    EXPECT_TRUE(stream->IsPaused());
    const auto played = seen();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(seen().size(), played.size()) << "asked for sound after the pause";

    ASSERT_GE(played.size(), 10u);
    EXPECT_EQ(played[0].second, stream->BufferFrames()) << "the first request refills the buffer";
    // What is asked is what has played, judged from 200 ms after the refill on,
    // as a busy machine may be slow to answer the first requests.
    size_t first = 1;
    while (played[first].first < played[1].first + 200'000'000)
        ++first;
    int64_t asked = 0;
    for (size_t i = first; i + 1 < played.size(); ++i)
        asked += played[i].second;
    EXPECT_NEAR(asked * 1e9 / static_cast<double>(played.back().first - played[first].first), Rate,
                Rate * 0.03);

    recorder->Stop();
    // One tone, in tune, with no silence inside: a resume plays no old silence.
    const std::vector<float> sound = recorder->Samples();
    const auto loud = [](float s) { return std::fabs(s) > 0.01f; };
    const size_t onset = std::find_if(sound.begin(), sound.end(), loud) - sound.begin();
    ASSERT_LT(onset + 4800, sound.size()) << "the tone was not heard";
    EXPECT_NEAR(CentsFrom(440, sound, onset + 4800, 2048, Rate), 0, 5);
    const size_t end = sound.rend() - std::find_if(sound.rbegin(), sound.rend(), loud);
    for (size_t i = onset; i + Rate / 40 < end; i += Rate / 40) // 25 ms
        ASSERT_GT(Peak({sound.begin() + i, sound.begin() + i + Rate / 40}), 0.01f) << i;
}

TEST_F(OnPulseServer, SynthRefusesMessagesWhenTheServerGoesAwayAndStartTurnsToTheNextOutput) {
    FluidSynthOutput::Options options;
    options.AudioDrivers = {FluidSynthOutput::StreamDriver, "file"};
    options.AudioFile = (dir.Path / "out.wav").string();
    options.TraceFile.clear();
    FluidSynthOutput output(options);
    ASSERT_TRUE(output.Start()) << output.LastError();
    ASSERT_EQ(output.DriverName(), FluidSynthOutput::StreamDriver);

    server.Kill();
    // From then on each message is refused with the cause; only Start tries the outputs again.
    EXPECT_TRUE(WaitFor([&] { return !output.Send(Pack(0x90, 69, 0)); }));
    EXPECT_NE(output.LastError().find("the sound server closed the connection"), std::string::npos)
        << output.LastError();
    EXPECT_EQ(output.DriverName(), FluidSynthOutput::StreamDriver);
    ASSERT_TRUE(output.Start()) << output.LastError();
    EXPECT_EQ(output.DriverName(), "file");
    EXPECT_TRUE(output.IsRunning());
}

// A render thread held up once, as on a busy machine: the stream runs dry, asks for a larger
// buffer, and two woodblock strokes sent after it, the second a little late, still sound exactly as
// far apart as planned.
TEST_F(OnPulseServer, StreamThatRanDryGrowsItsBufferAndKeepsTheNotesApart) {
    std::atomic<bool> stall{false};
    FluidSynthOutput::Options options;
    options.AudioDrivers = {FluidSynthOutput::StreamDriver};
    options.StreamIdleStopMs = 0; // a pause would start a new run, with the buffer as it is
    options.Busy = [](std::string&) { return false; }; // else it starts with the largest buffer
    options.TraceFile = (dir.Path / "trace").string();
    options.BeforeRender = [&] {
        if (stall.exchange(false))
            std::this_thread::sleep_for(60ms);
    };
    FluidSynthOutput output(options);
    ASSERT_TRUE(output.Start()) << output.LastError();
    const auto trace = [&] {
        std::ifstream in(options.TraceFile);
        return std::string{std::istreambuf_iterator<char>(in), {}};
    };
    std::this_thread::sleep_for(300ms);
    stall = true;
    // The trace says why the buffer grew, and what the render thread got.
    ASSERT_TRUE(WaitFor([&] {
        return trace().find(" frames after an underrun\n") != std::string::npos;
    })) << "the buffer did not grow: "
        << trace();
    EXPECT_NE(trace().find("# render thread: "), std::string::npos) << trace();
    std::this_thread::sleep_for(300ms);

    constexpr int64_t Apart = 400'000'000;
    output.Send(Pack(0xC0, 115, 0)); // the woodblock
    const int64_t first = SteadyClock::MonotonicNanos();
    output.Send(Pack(0x90, 76, 127), first);
    std::this_thread::sleep_until(
        std::chrono::steady_clock::time_point(std::chrono::nanoseconds(first + Apart + 3'000'000)));
    output.Send(Pack(0x90, 76, 127), first + Apart);
    std::this_thread::sleep_for(600ms);
    recorder->Stop();

    // Each stroke's first loud sample after a silence.
    const std::vector<float> sound = recorder->Samples();
    std::vector<size_t> onsets;
    for (size_t i = 0, quiet = Rate; i < sound.size(); ++i) {
        if (std::fabs(sound[i]) < 0.02f) {
            ++quiet;
        } else {
            if (quiet > Rate / 10)
                onsets.push_back(i);
            quiet = 0;
        }
    }
    ASSERT_EQ(onsets.size(), 2u) << "strokes heard";
    EXPECT_NEAR(static_cast<double>(onsets[1] - onsets[0]), Apart * 1e-9 * Rate, Rate / 1000.0);
}

// Device 0 and -1 (no system ports) share the built-in synthesizer; silent and
// not held, it stops feeding its driver, and a close stops it only for the last user.
TEST(SystemMidiOutput, SharesOneSynthesizerThatIdlesWhenSilent) {
    fakes::TempDir dir("sonavel-midi");
    SystemMidiOutput::Options options;
    options.Synth.AudioDrivers = {"file"};
    options.Synth.AudioFile = (dir.Path / "out.wav").string();
    options.Synth.IdleStopMs = 150;
    options.UseAlsa = options.UseJack = false;
    SystemMidiOutput output(options);
    FluidSynthOutput& synth = output.Synth();
    uint32_t first = 0, second = 0;
    ASSERT_EQ(output.Open(0, first), 0) << output.LastError();
    ASSERT_EQ(output.Open(-1, second), 0) << output.LastError();

    // The organ: a note of one voice, which holds its level while its key is down.
    output.ShortMsg(first, Pack(0xC0, 19, 0));
    output.ShortMsg(first, Pack(0x90, 57, 100));
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(synth.IsRunning()) << "stopped under a sounding note";
    output.ShortMsg(first, Pack(0x90, 57, 0));
    ASSERT_TRUE(WaitFor([&] { return synth.IsSuspended(); })) << "never went idle";
    output.ShortMsg(second, Pack(0x90, 69, 100));
    output.Close(first);
    EXPECT_TRUE(synth.IsRunning()) << "stopped for the other user";
    output.Close(second);
    EXPECT_FALSE(synth.IsRunning());
    EXPECT_FALSE(synth.IsSuspended()) << "closing is not idling";
}
