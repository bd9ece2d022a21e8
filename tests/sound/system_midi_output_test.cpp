#include "TempDir.h"
#include "midi/clsMidi.h"
#include "platform/SystemMidiOutput.h"
#include "startup/AppError.h"
#include "startup/clsErrorHandler.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <thread>
#include <vector>

using namespace sonavel;
namespace fs = std::filesystem;

using fakes::TempDir;

namespace {

const char* const GmSoundFont = "/usr/share/sounds/sf2/FluidR3_GM.sf2";

// Finds nothing but what the test puts there, and plays through FluidSynth's
// "file" driver: a real audio driver that needs no sound card.
SystemMidiOutput::Options Isolated(const fs::path& soundFonts, const fs::path& audioFile) {
    SystemMidiOutput::Options options;
    options.Synth.SoundFontFiles.clear();
    options.Synth.SoundFontFolders = {soundFonts.string()};
    options.Synth.AudioDrivers = {"no-such-driver", "file"};
    options.Synth.AudioFile = audioFile.string();
    options.UseAlsa = false;
    options.UseJack = false;
    return options;
}

// The samples of a 16-bit PCM WAV file, all channels interleaved.
std::vector<int16_t> ReadWav(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    std::vector<int16_t> samples;
    for (size_t pos = 12; pos + 8 <= bytes.size();) {
        const std::string id(&bytes[pos], 4);
        uint32_t size = 0;
        for (int i = 3; i >= 0; --i)
            size = (size << 8) | static_cast<unsigned char>(bytes[pos + 4 + i]);
        if (id == "data") {
            for (size_t i = pos + 8; i + 1 < pos + 8 + size && i + 1 < bytes.size(); i += 2)
                samples.push_back(
                    static_cast<int16_t>(static_cast<unsigned char>(bytes[i]) |
                                         (static_cast<unsigned char>(bytes[i + 1]) << 8)));
            break;
        }
        pos += 8 + size + (size & 1);
    }
    return samples;
}

} // namespace

TEST(SystemMidiOutput, ListsDefaultThenSynthesizerNamedAfterItsSoundFont) {
    TempDir dir("sonavel-midi");
    // The system's default is a link; the name is that of the file it leads to.
    fs::create_symlink(GmSoundFont, dir.Path / "default-GM.sf2");
    SystemMidiOutput::Options options = Isolated(dir.Path / "none", dir.Path / "out.wav");
    options.Synth.SoundFontFiles = {(dir.Path / "default-GM.sf2").string()};
    SystemMidiOutput output(options);
    const std::vector<MidiDeviceInfo> devices = output.Devices();
    ASSERT_EQ(devices.size(), 2u) << "no system ports asked for";
    EXPECT_EQ(devices[0].Number, -1);
    EXPECT_EQ(devices[0].Name, "Default MIDI output");
    EXPECT_EQ(devices[1].Number, 0);
    EXPECT_EQ(devices[1].Name, "Built-in synthesizer (FluidR3_GM)");

    TempDir empty;
    SystemMidiOutput nothing(Isolated(empty.Path, empty.Path / "out.wav"));
    EXPECT_EQ(nothing.Devices()[1].Name, "Built-in synthesizer (no SoundFont found)");
}

TEST(SystemMidiOutput, MissingSoundFontIsAClearErrorThroughClsMidi) {
    struct Row {
        const char* name;
        const char* junkFile; // put in the folder, or null
        const char* reason;
    };
    const Row rows[] = {
        {"empty folder", nullptr, "No SoundFont was found"},
        {"a file that is no SoundFont", "broken.sf2", "No SoundFont could be loaded"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir("sonavel-midi");
        if (row.junkFile)
            std::ofstream(dir.Path / row.junkFile) << "not a SoundFont";
        SystemMidiOutput output(Isolated(dir.Path, dir.Path / "out.wav"));
        clsErrorHandler err;
        clsMidi midi(output);
        midi.MyErr = &err;
        midi.SetDevice(0);
        EXPECT_THROW(midi.OpenMIDI(), AppError);
        EXPECT_FALSE(midi.IsOpen());
        const std::string details = err.ErrorDetails();
        EXPECT_NE(details.find("Source: clsMidi::Initialize()\r\nCode  : 3\r\nString: Cannot open "
                               "MIDI device."),
                  std::string::npos)
            << details;
        EXPECT_NE(details.find(row.reason), std::string::npos) << details;
        EXPECT_NE(details.find(dir.Path.string()), std::string::npos)
            << "the reason names where it looked: " << details;
        EXPECT_FALSE(output.Synth().IsRunning());
        midi.PlayNote(60, 100); // dropped, not a crash
    }
}

TEST(SystemMidiOutput, NoAudioOutputIsAClearErrorAndKeepsTheSoundFont) {
    TempDir dir("sonavel-midi");
    fs::create_symlink(GmSoundFont, dir.Path / "gm.sf2");
    SystemMidiOutput::Options options = Isolated(dir.Path, dir.Path / "out.wav");
    options.Synth.AudioDrivers = {"no-such-driver", "another-missing-one"};
    SystemMidiOutput output(options);
    uint32_t handle = 77;
    EXPECT_EQ(output.Open(0, handle), SystemMidiOutput::ResultNoAudio);
    EXPECT_EQ(handle, 0u);
    EXPECT_NE(output.LastError().find("no-such-driver"), std::string::npos) << output.LastError();
    EXPECT_NE(output.LastError().find("another-missing-one"), std::string::npos);
    EXPECT_TRUE(output.Synth().IsLoaded());
}

TEST(SystemMidiOutput, SynthesizerPlaysThroughAnAudioDriverAndStopsOnClose) {
    TempDir dir("sonavel-midi");
    fs::create_symlink(GmSoundFont, dir.Path / "gm.sf2");
    const fs::path wav = dir.Path / "out.wav";
    SystemMidiOutput output(Isolated(dir.Path, wav));

    // The window preloads while the user looks; an open meanwhile waits for it.
    std::thread preload([&] { output.PreloadSynth(); });
    uint32_t handle = 0;
    ASSERT_EQ(output.Open(0, handle), 0) << output.LastError();
    preload.join();
    EXPECT_NE(handle, 0u);
    EXPECT_EQ(output.Synth().DriverName(), "file") << "the first driver that opens is kept";
    const FluidSynthEngine* engine = output.Synth().Engine();

    output.ShortMsg(handle, 0x000013C0); // organ
    output.ShortMsg(handle, 0x00644590); // A4
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    output.ShortMsg(handle, 0x00004590);
    output.Close(handle);
    EXPECT_FALSE(output.Synth().IsRunning());
    EXPECT_EQ(engine->Program(0), 19);

    const std::vector<int16_t> samples = ReadWav(wav);
    ASSERT_GT(samples.size(), 2u * 48000 / 10) << "at least a tenth of a second was played";
    int peak = 0;
    for (int16_t s : samples)
        peak = std::max(peak, std::abs(int{s}));
    EXPECT_GT(peak, 1000) << "the note was heard";

    output.ShortMsg(handle, 0x000028C0); // after close: dropped
    EXPECT_EQ(engine->Program(0), 19);

    // The SoundFont stays for the next open; device -1 is the synthesizer when
    // the system has no ports.
    uint32_t again = 0;
    ASSERT_EQ(output.Open(-1, again), 0) << output.LastError();
    EXPECT_NE(again, handle);
    EXPECT_EQ(output.Synth().Engine(), engine);
    output.ShortMsg(again, 0x000028C0);
    EXPECT_EQ(engine->Program(0), 40);
    output.Close(again);
}

TEST(SystemMidiOutput, UnknownDeviceNumbersFailToOpen) {
    TempDir dir("sonavel-midi");
    SystemMidiOutput output(Isolated(dir.Path, dir.Path / "out.wav"));
    for (int32_t device : {1, 57, -2}) {
        SCOPED_TRACE(device);
        uint32_t handle = 5;
        EXPECT_EQ(output.Open(device, handle), SystemMidiOutput::ResultBadDevice);
        EXPECT_EQ(handle, 0u);
        EXPECT_NE(output.LastError().find(std::to_string(device)), std::string::npos)
            << output.LastError();
    }
    output.ShortMsg(5, 0x00643C90); // never opened: ignored
    output.Close(5);
}
