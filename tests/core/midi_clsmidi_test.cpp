#include "RecordingMidiOutput.h"
#include "TempDir.h"
#include "midi/clsMidi.h"
#include "platform/FluidSynthOutput.h"
#include "platform/ShortMessage.h"
#include "platform/SystemMidiOutput.h"
#include "report_entry.h"
#include "startup/AppError.h"
#include "startup/clsErrorHandler.h"

#include <fstream>
#include <gtest/gtest.h>

using namespace sonavel;
using namespace sonavel::testing;
namespace fs = std::filesystem;

namespace {

std::vector<uint32_t> Sent(const fakes::RecordingMidiOutput& device) {
    std::vector<uint32_t> values;
    for (const auto& m : device.Messages)
        values.push_back(m.Packed);
    return values;
}

const std::string kCannotOpen = "Cannot open MIDI device.";

} // namespace

// The device stays open between questions; the program is sent when it changes while open,
// and by an open that finds it changed since the last open.
TEST(Midi, SendsNotesAndProgramChangesOnItsChannel) {
    fakes::RecordingMidiOutput device;
    {
        clsMidi midi(device);
        midi.SetInstrument(41);
        midi.SetChannel(3);
        midi.SetDevice(3);
        midi.PlayNote(60, 100); // sending while closed goes nowhere
        midi.OpenMIDI();
        midi.OpenMIDI();
        EXPECT_EQ(device.Opens, 1) << "an open device is only checked";
        midi.SetChannel(16);
        midi.PlayNote(60, 100);
        midi.StopNote(61, 100);
        EXPECT_EQ(Sent(device), (std::vector<uint32_t>{0x29C2, 0x29CF, 0x643C9F, 0x3D9F}));
        midi.CloseMIDI();
        midi.SetInstrument(0);
        midi.SetDevice(5);
        midi.OpenMIDI();
        EXPECT_EQ(Sent(device).back(), 0xCFu);
        EXPECT_EQ(device.OpenedDevices, (std::vector<int32_t>{3, 5}));
    }
    EXPECT_EQ(device.Closes, 2) << "closed when the object goes";
}

TEST(Midi, DeviceThatCannotOpenOrHasGoneLeavesTheObjectClosedAndSaysWhy) {
    for (const auto& [result, reported] : {std::pair{-3, -3}, std::pair{70000, 4464}}) {
        fakes::RecordingMidiOutput failing;
        failing.FailOpenWith = result;
        failing.FailReason = "No SoundFont was found.";
        clsErrorHandler err;
        clsMidi midi(failing);
        midi.MyErr = &err;
        EXPECT_THROW(midi.OpenMIDI(), AppError);
        EXPECT_FALSE(midi.IsOpen());
        EXPECT_EQ(err.ErrorDetails(), Entry("MidiOutput::Open()", reported, failing.FailReason) +
                                          kBetween +
                                          Entry("clsMidi::Initialize()", reported, kCannotOpen));
    }

    fakes::RecordingMidiOutput device;
    clsErrorHandler err;
    clsMidi midi(device);
    midi.MyErr = &err;
    midi.SetInstrument(41);
    midi.OpenMIDI();
    device.FailReconnectWith = 4;
    device.FailReason = "The MIDI port is no longer there.";
    EXPECT_THROW(midi.OpenMIDI(), AppError);
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(err.ErrorDetails(), Entry("MidiOutput::Reconnect()", 4, device.FailReason) +
                                      kBetween + Entry("clsMidi::Initialize()", 4, kCannotOpen));
    device.FailReconnectWith = 0;
    midi.OpenMIDI();
    EXPECT_EQ(device.Opens, 2);
    EXPECT_EQ(Sent(device), (std::vector<uint32_t>{0x29C0, 0x29C0}))
        << "the device opened anew is sent the program again";
}

TEST(ShortMessage, UnpacksLowByteFirstAndKnowsItsLength) {
    const std::vector<std::pair<uint32_t, int>> rows{
        {0xFF643C9F, 3}, {0x29C2, 2}, {0x10D0, 2}, {0x7F7FE0, 3}, {0xF8, 1}, {0xF0, 0}, {0x643C, 0},
    };
    for (const auto& [packed, length] : rows)
        EXPECT_EQ(ShortMessage::Unpack(packed).Length(), length) << std::hex << packed;
    const ShortMessage m = ShortMessage::Unpack(0xFF643C9F);
    EXPECT_EQ(std::tuple(m.Status, m.Data1, m.Data2, m.Kind(), m.WireChannel()),
              std::tuple(0x9F, 60, 100, 0x90, 15));
}

TEST(DefaultMidiOutput, SkipsThePassThroughPortUnlessItIsAllThereIs) {
    const std::string through = "Midi Through:Midi Through Port-0 14:0";
    EXPECT_EQ(DefaultPortIndex({}), -1) << "no ports: the built-in synthesizer";
    EXPECT_EQ(DefaultPortIndex({through, "FLUID Synth (1234):Synth input port 128:0"}), 1);
    EXPECT_EQ(DefaultPortIndex({"USB Keyboard:USB Keyboard MIDI 1 20:0", through}), 0);
    EXPECT_EQ(DefaultPortIndex({through, through}), 0);
}

// The chosen files first, then the preferred names, then any SoundFont of each folder in
// name order; each file once, under the name it was first found by.
TEST(SoundFontSearch, ChosenFileThenPreferredNamesThenAnySoundFontByName) {
    fakes::TempDir dir("sonavel-sf");
    const fs::path a = dir.Path / "a", b = dir.Path / "b";
    fs::create_directories(a);
    fs::create_directories(b);
    const std::vector<std::string> byName{"beta.sf2",  "delta.sf3", "epsilon.sf2",
                                          "gamma.sf2", "kappa.sf2", "mu.sf3"};
    for (const std::string& name : byName)
        std::ofstream(b / name) << "x";
    for (const fs::path& file : {a / "zeta.sf3", a / "alpha.SF2", a / "TimGM6mb.sf2",
                                 a / "readme.txt", b / "FluidR3_GM.sf2"})
        std::ofstream(file) << "x";
    fs::create_symlink(a / "alpha.SF2", a / "default-GM.sf2");
    fs::create_symlink(a / "removed.sf2", a / "gone.sf2");

    FluidSynthOutput::Options options;
    options.SoundFontFiles = {(a / "default-GM.sf2").string(), (a / "missing.sf2").string()};
    options.SoundFontFolders = {a.string(), b.string(), (dir.Path / "absent").string()};
    FluidSynthOutput synth(options);
    std::vector<std::string> expected{(a / "default-GM.sf2").string(),
                                      (b / "FluidR3_GM.sf2").string(),
                                      (a / "TimGM6mb.sf2").string(), (a / "zeta.sf3").string()};
    for (const std::string& name : byName)
        expected.push_back((b / name).string());
    EXPECT_EQ(synth.FindSoundFonts(), expected);
    EXPECT_EQ(synth.Name(), "Built-in synthesizer (alpha)") << "named after the linked file";

    options.SoundFontFiles = {};
    options.SoundFontFolders = {(dir.Path / "absent").string()};
    FluidSynthOutput none(options);
    EXPECT_EQ(none.Name(), "Built-in synthesizer (no SoundFont found)");
    EXPECT_FALSE(none.Load());
    EXPECT_NE(none.LastError().find(dir.Path.string() + "/absent/"), std::string::npos);
}
