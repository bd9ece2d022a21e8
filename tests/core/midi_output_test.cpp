#include "TempDir.h"
#include "platform/FluidSynthOutput.h"
#include "platform/ShortMessage.h"
#include "platform/SystemMidiOutput.h"

#include <fstream>
#include <gtest/gtest.h>

using namespace sonavel;
namespace fs = std::filesystem;

// A channel pressure has one data byte, as a program change has.
TEST(ShortMessage, KnowsItsLength) {
    for (const auto& [packed, length] :
         std::vector<std::pair<uint32_t, int>>{{0x643C9F, 3}, {0x29C2, 2}, {0x10D0, 2}})
        EXPECT_EQ(ShortMessage::Unpack(packed).Length(), length) << std::hex << packed;
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
    for (const fs::path& file :
         {a / "zeta.sf3", a / "alpha.SF2", a / "TimGM6mb.sf2", a / "readme.txt",
          b / "FluidR3_GM.sf2", b / "delta.sf3", b / "beta.sf2"})
        std::ofstream(file) << "x";
    fs::create_symlink(a / "alpha.SF2", a / "default-GM.sf2");

    FluidSynthOutput::Options options;
    options.SoundFontFiles = {(a / "default-GM.sf2").string(), (a / "missing.sf2").string()};
    options.SoundFontFolders = {a.string(), b.string(), (dir.Path / "absent").string()};
    FluidSynthOutput synth(options);
    EXPECT_EQ(
        synth.FindSoundFonts(),
        (std::vector<std::string>{(a / "default-GM.sf2").string(), (b / "FluidR3_GM.sf2").string(),
                                  (a / "TimGM6mb.sf2").string(), (a / "zeta.sf3").string(),
                                  (b / "beta.sf2").string(), (b / "delta.sf3").string()}));
    EXPECT_EQ(synth.Name(), "Built-in synthesizer (alpha)") << "named after the linked file";
}
