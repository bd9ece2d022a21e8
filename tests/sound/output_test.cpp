#include "LoadedSynth.h"
#include "TempDir.h"
#include "platform/SystemMidiOutput.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <thread>
#include <vector>

// The built-in synthesizer as a device, through FluidSynth's "file" driver: a
// real audio driver that needs no sound card. Real time, a second or two.

using namespace sonavel;
using namespace std::chrono_literals;
using fakes::Pack;
using fakes::TempDir;

namespace {

template <typename Condition> bool WaitFor(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!condition() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    return condition();
}

std::vector<char> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>((std::istreambuf_iterator<char>(in)), {});
}

} // namespace

TEST(FluidSynthOutputIdle, StopsFeedingWhenSilentAndWakesWithTheFirstNoteIntact) {
    TempDir dir("sonavel-idle");
    FluidSynthOutput::Options options;
    options.AudioDrivers = {"file"};
    options.AudioFile = (dir.Path / "out.wav").string();
    options.IdleStopMs = 150;
    options.TraceFile = (dir.Path / "trace.txt").string();
    FluidSynthOutput output(options);
    ASSERT_TRUE(output.Start()) << output.LastError();

    // A held note keeps the sound going past the idle time.
    output.Send(Pack(0xC0, 71, 0));
    output.Send(Pack(0x90, 57, 100));
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(output.IsRunning()) << "stopped under a sounding note";
    output.Send(Pack(0x90, 57, 0));
    ASSERT_TRUE(WaitFor([&] { return output.IsSuspended(); })) << "never went idle";
    EXPECT_FALSE(output.IsRunning());

    // Held (a question's pause), silence does not stop it; released, it does.
    output.Send(Pack(0x90, 60, 0));
    output.Hold(true);
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(output.IsRunning()) << "stopped while held";
    output.Hold(false);
    ASSERT_TRUE(WaitFor([&] { return output.IsSuspended(); })) << "held after the release";

    // The file driver writes a new file when it starts again: the first note
    // after idle must be at its start, whole.
    std::filesystem::remove(options.AudioFile);
    output.Send(Pack(0x90, 69, 100));
    EXPECT_TRUE(output.IsRunning());
    std::this_thread::sleep_for(200ms);
    output.Send(Pack(0x90, 69, 0));
    output.Stop();
    EXPECT_FALSE(output.IsSuspended()) << "closing is not idling";

    const std::vector<char> bytes = ReadFile(options.AudioFile);
    ASSERT_GT(bytes.size(), 44u + 4 * 4800) << "the file driver played after the restart";
    size_t firstLoud = 44;
    while (firstLoud + 1 < bytes.size() &&
           std::abs(static_cast<int16_t>(
               static_cast<unsigned char>(bytes[firstLoud]) |
               (static_cast<unsigned char>(bytes[firstLoud + 1]) << 8))) <= 1000)
        firstLoud += 2;
    EXPECT_LT((firstLoud - 44) / 4, 4800u) << "the note after idle was lost or came 100 ms late";

    // Every message is in the trace, in hex after its arrival time.
    std::ifstream trace(options.TraceFile);
    std::vector<std::string> messages;
    long long nanos = 0;
    for (std::string hex; trace >> nanos >> hex && nanos > 0;)
        messages.push_back(hex);
    EXPECT_EQ(messages, (std::vector<std::string>{"0047c0", "643990", "003990", "003c90", "644590",
                                                  "004590"}));
}

TEST(SystemMidiOutput, OpensTheSynthesizerByNumberAndNothingElse) {
    TempDir dir("sonavel-midi");
    std::filesystem::create_symlink("/usr/share/sounds/sf2/FluidR3_GM.sf2", dir.Path / "gm.sf2");
    SystemMidiOutput::Options options;
    options.Synth.SoundFontFiles.clear();
    options.Synth.SoundFontFolders = {dir.Path.string()};
    options.Synth.AudioDrivers = {"no-such-driver", "file"};
    options.Synth.AudioFile = (dir.Path / "out.wav").string();
    options.UseAlsa = false;
    options.UseJack = false;
    SystemMidiOutput output(options);

    // The window preloads while the user looks; an open meanwhile waits for it.
    std::thread preload([&] { output.PreloadSynth(); });
    uint32_t handle = 0;
    ASSERT_EQ(output.Open(0, handle), 0) << output.LastError();
    preload.join();
    EXPECT_NE(handle, 0u);
    EXPECT_EQ(output.Synth().DriverName(), "file") << "the first driver that opens is kept";
    const FluidSynthEngine* engine = output.Synth().Engine();
    output.ShortMsg(handle, Pack(0xC0, 19, 0));
    output.Close(handle);
    EXPECT_FALSE(output.Synth().IsRunning());
    output.ShortMsg(handle, Pack(0xC0, 40, 0));
    EXPECT_EQ(engine->Program(0), 19) << "a message after the close was played";

    // The SoundFont stays for the next open; device -1 is the synthesizer when
    // the system has no ports.
    uint32_t again = 0;
    ASSERT_EQ(output.Open(-1, again), 0) << output.LastError();
    EXPECT_NE(again, handle);
    EXPECT_EQ(output.Synth().Engine(), engine);
    output.ShortMsg(again, Pack(0xC0, 40, 0));
    EXPECT_EQ(engine->Program(0), 40);
    output.Close(again);

    for (int32_t device : {1, -2}) {
        SCOPED_TRACE(device);
        uint32_t none = 5;
        EXPECT_EQ(output.Open(device, none), SystemMidiOutput::ResultBadDevice);
        EXPECT_EQ(none, 0u);
        EXPECT_NE(output.LastError().find(std::to_string(device)), std::string::npos);
    }
}
