#include "TempDir.h"
#include "settings/clsSettings.h"
#include "startup/clsErrorHandler.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace sonavel;
namespace fs = std::filesystem;

namespace {

const std::string kLoad = "clsSettings::LoadFromDisk()";

// One report entry as clsErrorHandler writes it; entries are joined by an empty line.
std::string Entry(const std::string& src, int code, const std::string& text) {
    return "Source: " + src + "\r\nCode  : " + std::to_string(code) + "\r\nString: " + text;
}

const std::string kFixture = fakes::ReadFile(fs::path(SONAVEL_FIXTURES) / "settings/default.dat");

// Default settings loaded from a file holding `bytes`; Saved() is what they write back.
struct Loaded {
    fakes::TempDir Dir;
    fs::path Path = Dir.Path / "snv2_settings.dat";
    clsSettings Settings;
    clsErrorHandler Err;
    bool Raised = false;

    explicit Loaded(const std::string& bytes) {
        std::ofstream(Path, std::ios::binary) << bytes;
        Settings.MyErr = &Err;
        try {
            Settings.LoadFromDisk(Path.string());
        } catch (const AppError& e) {
            Raised = e.Code() == 9999 && e.Text() == "Internal Error";
            EXPECT_TRUE(Raised) << e.Code() << " " << e.Text();
        }
    }
    std::string Saved() {
        Settings.SaveToDisk((Dir.Path / "saved.dat").string());
        return fakes::ReadFile(Dir.Path / "saved.dat");
    }
};

// A selection element that is no 16-bit number is a failure: it ends the reading at once.
enum Verdict { Accepted, BadValue, Unsupported, Syntax, NotANumber, TooBig };

struct LineCase {
    std::string Text;
    Verdict Kind;
    std::string Saved = {}; // for an accepted line: the line it leaves in the saved file
};

} // namespace

// Each case is one line added at the end of the fixture (line 81): an accepted one leaves its
// value in the saved file (so every setting is also saved under its own name), a rejected one
// is reported with its line and changes nothing.
TEST(SettingsFile, EveryLineRule) {
    std::vector<LineCase> cases{
        {"CurrentKey= 3 ", Accepted, "CurrentKey=3"},
        {" CurrentKey=3", Unsupported},
        {"CurrentKey=", Syntax},
        {"CurrentKey==5", Syntax},
        {"RandomKey=1=2", Accepted, "RandomKey=1"},
        {"RandomKey=0.6", Accepted, "RandomKey=1"},
        {"PlaybackSpeed=9.5", BadValue},
        {"PlaybackSpeed=101.5", Accepted, "PlaybackSpeed=102"},
        {"SelIntervalsAsc=2,-1,0.6,0.5,1.5, 3 ,0,0,0,0,0,0,0", Accepted,
         "SelIntervalsAsc=1,0,1,0,1,1,0,0,0,0,0,0,0"},
        {"SelIntervalsAsc=0,x,0,0,0,1,0,1,0,0,0,0,0", NotANumber},
        {"SelIntervalsAsc=0,40000,0,0,0,1,0,1,0,0,0,0,0", TooBig},
        {"-CurrentKey=9", Accepted, "CurrentKey=0"},
        {" \t ", Accepted},
        {"  - not a comment", Syntax},
        {"\uFEFFCurrentKey=3", Unsupported}, // a byte order mark only opens line 1
    };
    // One accepted and one rejected value at each end of every range.
    const std::vector<std::pair<std::vector<const char*>, std::pair<int, int>>> ranges{
        {{"RandomKey", "RandomKeyType", "MIDIRandomInstrumentKR", "MIDIRandomInstrumentRN"},
         {0, 1}},
        {{"CurrentKeyReference", "KeyReferenceSettings", "NoteDisplayMode"}, {0, 2}},
        {{"CurrentKeyType", "CurrentNoteDuration"}, {0, 3}},
        {{"CheatMode"}, {0, 5}},
        {{"CurrentKey"}, {0, 12}},
        {{"MIDIInstrumentKR", "MIDIInstrumentRN"}, {0, 127}},
        {{"MIDIChannelKR", "MIDIChannelRN"}, {1, 16}},
        {{"MIDIVolumeKR", "MIDIVolumeRN"}, {1, 127}},
        {{"MIDIDevice"}, {-1, 100}},
        {{"PlaybackSpeed"}, {10, 200}},
    };
    for (const auto& [keys, range] : ranges)
        for (const char* key : keys)
            for (const auto [low, high] = range; const int v : {low - 1, low, high, high + 1}) {
                const std::string line = key + ("=" + std::to_string(v));
                cases.push_back({line, v < low || v > high ? BadValue : Accepted, line});
            }
    // An interval selection takes exactly its 13 elements.
    for (int n : {12, 13, 14}) {
        std::string line = "SelIntervalsDesc=1";
        for (int i = 1; i < n; ++i)
            line += i % 2 ? ",0" : ",1";
        cases.push_back({line, n == 13 ? Accepted : BadValue, line});
    }
    for (const auto& row : cases) {
        SCOPED_TRACE(row.Text.substr(0, 60));
        Loaded l(kFixture + row.Text + "\r\n");
        if (row.Kind == Accepted) {
            EXPECT_FALSE(l.Raised);
            EXPECT_EQ(l.Err.ErrorDetails(), "");
            if (!row.Saved.empty()) {
                EXPECT_NE(l.Saved().find("\r\n" + row.Saved + "\r\n"), std::string::npos);
            }
            continue;
        }
        const std::string at = " on line 81: " + row.Text;
        const std::string texts[] = {"",
                                     "Unexpected setting value" + at,
                                     "Unsupported setting" + at.substr(0, at.find('=')),
                                     "Syntax Error line 81: " + row.Text,
                                     "Type mismatch" + at,
                                     "Overflow" + at};
        const int codes[] = {0, 1, 1, 1, 13, 6};
        std::string report = Entry(kLoad, codes[row.Kind], texts[row.Kind]);
        if (row.Kind < NotANumber)
            report += "\r\n\r\n" + Entry(kLoad, 9999, "Internal Error");
        EXPECT_TRUE(l.Raised);
        EXPECT_EQ(l.Err.ErrorDetails(), report);
        EXPECT_EQ(l.Saved(), kFixture);
    }
}

TEST(SettingsFileSave, ReplacesTheFileBehindALinkWholeKeepingItsPermissions) {
    fakes::TempDir dir;
    const fs::path real = dir.Path / "real.dat";
    std::ofstream(real) << std::string(100'000, 'o');
    ::chmod(real.c_str(), 0640);
    std::ofstream(dir.Path / "real.dat.tmp") << "left by a save that was killed";
    fs::create_symlink(real, dir.Path / "snv2_settings.dat");
    clsSettings().SaveToDisk((dir.Path / "snv2_settings.dat").string());
    EXPECT_EQ(fakes::ReadFile(real), kFixture);
    EXPECT_TRUE(fs::is_symlink(dir.Path / "snv2_settings.dat"));
    struct stat info {};
    ASSERT_EQ(::stat(real.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path), {}), 2)
        << "the old temporary file went";
}
