#include "TempDir.h"
#include "platform/FluidSynthOutput.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace sonavel;
namespace fs = std::filesystem;

using fakes::TempDir;

namespace {

void Touch(const fs::path& path) {
    std::ofstream(path) << "x";
}

} // namespace

TEST(SoundFontSearch, ChosenFileThenPreferredNamesThenAnySoundFontByName) {
    TempDir dir("sonavel-sf");
    const fs::path a = dir.Path / "a";
    const fs::path b = dir.Path / "b";
    fs::create_directories(a);
    fs::create_directories(b);
    for (const char* name : {"alpha.SF2", "TimGM6mb.sf2", "zeta.sf3", "readme.txt"})
        Touch(a / name);
    for (const char* name : {"FluidR3_GM.sf2", "beta.sf2"})
        Touch(b / name);
    fs::create_symlink(a / "alpha.SF2", a / "default-GM.sf2");
    fs::create_symlink(a / "removed.sf2", a / "gone.sf2"); // dangling

    FluidSynthOutput::Options options;
    options.SoundFontFiles = {(a / "default-GM.sf2").string(), (a / "missing.sf2").string()};
    options.SoundFontFolders = {a.string(), b.string(), (dir.Path / "absent").string()};
    FluidSynthOutput synth(options);

    // Each file once, under the name it was first found by.
    const std::vector<std::string> expected{
        (a / "default-GM.sf2").string(), (b / "FluidR3_GM.sf2").string(),
        (a / "TimGM6mb.sf2").string(),   (a / "zeta.sf3").string(),
        (b / "beta.sf2").string(),
    };
    EXPECT_EQ(synth.FindSoundFonts(), expected);
    EXPECT_EQ(synth.Name(), "Built-in synthesizer (alpha)") << "named after the linked file";
    EXPECT_FALSE(synth.IsLoaded()) << "naming the device loads nothing";
}

TEST(SoundFontSearch, NothingFoundNamesTheDeviceSo) {
    TempDir dir("sonavel-sf");
    FluidSynthOutput::Options options;
    options.SoundFontFiles = {(dir.Path / "default-GM.sf2").string()};
    options.SoundFontFolders = {dir.Path.string()};
    FluidSynthOutput synth(options);
    EXPECT_TRUE(synth.FindSoundFonts().empty());
    EXPECT_EQ(synth.Name(), "Built-in synthesizer (no SoundFont found)");
    EXPECT_FALSE(synth.Load());
    EXPECT_NE(synth.LastError().find(dir.Path.string() + "/"), std::string::npos)
        << synth.LastError();
}
