#include "PulseServer.h"
#include "ScopedEnv.h"
#include "Sound.h"
#include "TempDir.h"
#include "platform/PulseStream.h"
#include "platform/SampleClock.h"
#include "platform/SteadyClock.h"
#include "platform/SystemMidiOutput.h"

#include <fluidsynth.h>
#include <gtest/gtest.h>
#include <memory>

// The synthesizer's own audio drivers, in real time: its PulseAudio stream on a
// private server whose null sink is recorded, and FluidSynth's "file" driver.

using namespace sonavel;
using namespace sonavel::soundtest;
using namespace std::chrono_literals;
using fakes::PulseServer;
constexpr int Rate = PulseServer::Rate;

namespace {

// Where each sound starts in a recording: the first sample above a whisper
// after at least 50 ms of silence, when a clear sound follows within 20 ms.
std::vector<size_t> Onsets(const std::vector<float>& samples) {
    std::vector<size_t> onsets;
    for (size_t i = 0, quiet = 0; i < samples.size(); ++i) {
        if (std::fabs(samples[i]) < 0.001f) {
            ++quiet;
            continue;
        }
        const auto end = samples.begin() + std::min(i + Rate / 50, samples.size());
        if (quiet >= Rate / 20 && Peak({samples.begin() + i, end}) > 0.01f)
            onsets.push_back(i);
        quiet = 0;
    }
    return onsets;
}

// Each test on a server of its own, named to the program by PULSE_SERVER and
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
    fakes::TempDir dir{"sonavel-sound"};
    std::unique_ptr<fakes::ScopedEnv> address;
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
    std::this_thread::sleep_for(1000ms);
    stream->Pause();
    EXPECT_TRUE(stream->IsPaused());
    const auto played = seen();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(seen().size(), played.size()) << "asked for sound after the pause";

    ASSERT_GE(played.size(), 10u);
    EXPECT_EQ(played[0].second, stream->BufferFrames()) << "the first request refills the buffer";
    int largest = 0;
    int64_t asked = 0; // from the second request on, what is asked is what has played
    for (size_t i = 1; i < played.size(); ++i) {
        largest = std::max(largest, played[i].second);
        asked += i + 1 < played.size() ? played[i].second : 0;
    }
    EXPECT_EQ(stream->LargestRequestFrames(), largest) << "counted the refill";
    EXPECT_NEAR(asked * 1e9 / static_cast<double>(played.back().first - played[1].first), Rate,
                Rate * 0.03);

    recorder->Stop();
    const std::vector<float> sound = recorder->Samples();
    const std::vector<size_t> onsets = Onsets(sound);
    ASSERT_EQ(onsets.size(), 1u) << "the tone was not heard once";
    EXPECT_NEAR(CentsFrom(440, sound, onsets[0] + 4800, 2048, Rate), 0, 5);
}

TEST_F(OnPulseServer, SynthStreamPlaysInTimeAtPitchAndPausesInSilence) {
    FluidSynthOutput::Options options;
    options.AudioDrivers = {FluidSynthOutput::StreamDriver};
    options.StreamIdleStopMs = 100;
    // A busy machine that holds up the server longer than its buffer moves all
    // that follows: give it 128 ms, asked for in pieces of 32 ms and more.
    options.StreamBufferFrames = 6144;
    // The arrival times the program stamped, not the test's.
    options.TraceFile = (dir.Path / "trace.txt").string();
    FluidSynthOutput output(options);
    ASSERT_TRUE(output.Prepare()) << output.LastError(); // connected, not fed until started
    // Without the effects' tails, the notes have silence between them.
    fluid_synth_reverb_on(output.Engine()->Synth(), -1, 0);
    fluid_synth_chorus_on(output.Engine()->Synth(), -1, 0);
    EXPECT_EQ(output.DriverName(), FluidSynthOutput::StreamDriver);
    EXPECT_FALSE(output.IsRunning());
    output.Send(Pack(0xC0, 71, 0));
    ASSERT_TRUE(output.Start()) << output.LastError();

    // Each run of the stream places its messages after the largest request of
    // the run before, so a first note alone; silent, the stream pauses.
    const auto play = [&] {
        output.Send(Pack(0x90, 69, 100));
        std::this_thread::sleep_for(150ms);
        output.Send(Pack(0x90, 69, 0));
    };
    play();
    ASSERT_TRUE(WaitFor([&] { return output.IsSuspended(); })) << "never paused";
    EXPECT_FALSE(output.IsRunning());
    // The next note resumes it; held (a question's pause), a second one a
    // second later must sound as far after it as it arrived, to the block.
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
    // The line from the clock to frames may creep by 2 us a request of 25 ms or more.
    const double creep = apart / (Rate / 40) * SampleClock::CreepNanos * Rate / 1e9;
    EXPECT_NEAR(static_cast<double>(onsets[2] - onsets[1]), apart,
                FluidSynthEngine::BlockFrames + 1 + creep);
    for (size_t onset : onsets)
        EXPECT_NEAR(CentsFrom(440, sound, onset + 2400, 2048, Rate), 0, 5);
}

TEST_F(OnPulseServer, SynthTurnsToTheNextOutputWhenTheServerGoesAway) {
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
    std::string error;
    EXPECT_FALSE(PulseStream::Open(
        {}, [](float*, int) {}, error));
    EXPECT_FALSE(error.empty()) << "a new stream without a server says why";
}

// The built-in synthesizer is device 0, and -1 when the system has no ports.
// Silent and not held, it stops feeding its driver; the first note after wakes
// it whole. FluidSynth's "file" driver writes a new file when it starts again.
TEST(SystemMidiOutput, SharesOneSynthesizerThatIdlesWhenSilent) {
    fakes::TempDir dir("sonavel-midi");
    std::filesystem::create_symlink("/usr/share/sounds/sf2/FluidR3_GM.sf2", dir.Path / "gm.sf2");
    SystemMidiOutput::Options options;
    options.Synth.SoundFontFiles.clear();
    options.Synth.SoundFontFolders = {dir.Path.string()};
    options.Synth.AudioDrivers = {"no-such-driver", "file"};
    options.Synth.AudioFile = (dir.Path / "out.wav").string();
    options.Synth.IdleStopMs = 150;
    options.UseAlsa = options.UseJack = false;
    SystemMidiOutput output(options);
    FluidSynthOutput& synth = output.Synth();

    // The window preloads while the user looks; an open meanwhile waits for it.
    std::thread preload([&] { output.PreloadSynth(); });
    uint32_t first = 0, second = 0;
    ASSERT_EQ(output.Open(0, first), 0) << output.LastError();
    preload.join();
    EXPECT_EQ(synth.DriverName(), "file") << "the first driver that opens is kept";
    const FluidSynthEngine* engine = synth.Engine();
    ASSERT_EQ(output.Open(-1, second), 0) << output.LastError();
    EXPECT_NE(first, second);

    // The organ: a note of one voice, which holds its level while its key is down.
    output.ShortMsg(first, Pack(0xC0, 19, 0));
    output.ShortMsg(first, Pack(0x90, 57, 100));
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(synth.IsRunning()) << "stopped under a sounding note";
    output.ShortMsg(first, Pack(0x90, 57, 0));
    ASSERT_TRUE(WaitFor([&] { return synth.IsSuspended(); })) << "never went idle";
    output.ShortMsg(first, Pack(0x90, 60, 0));
    output.Hold(first, true); // a question's pause
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(synth.IsRunning()) << "stopped while held";
    output.Hold(first, false);
    ASSERT_TRUE(WaitFor([&] { return synth.IsSuspended(); })) << "held after the release";

    std::filesystem::remove(options.Synth.AudioFile);
    output.ShortMsg(second, Pack(0x90, 69, 100));
    std::this_thread::sleep_for(200ms);
    output.Close(first);
    EXPECT_TRUE(synth.IsRunning()) << "stopped for the other user";
    output.ShortMsg(first, Pack(0xC0, 40, 0));
    EXPECT_EQ(engine->Program(0), 19) << "a message after the close was played";
    output.Close(second);
    EXPECT_FALSE(synth.IsRunning());
    EXPECT_FALSE(synth.IsSuspended()) << "closing is not idling";
    EXPECT_EQ(synth.Engine(), engine) << "the SoundFont stays for the next open";
    std::ifstream in(options.Synth.AudioFile, std::ios::binary);
    std::vector<int16_t> wav(2 * 4800); // 100 ms, stereo
    in.ignore(44).read(reinterpret_cast<char*>(wav.data()), wav.size() * 2);
    EXPECT_TRUE(std::any_of(wav.begin(), wav.end(), [](int16_t s) { return std::abs(s) > 1000; }))
        << "the note after idle was lost or came late";
}
