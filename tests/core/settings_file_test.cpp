#include "TempDir.h"
#include "report_entry.h"
#include "settings/clsSettings.h"
#include "startup/clsErrorHandler.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace sonavel;
using namespace sonavel::testing;
namespace fs = std::filesystem;

namespace {

const std::string kLoad = "clsSettings::LoadFromDisk()";
const std::string kSave = "clsSettings::SaveToDisk()";
const std::string kInternalEntry = Entry(kLoad, 9999, "Internal Error");

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

const std::string kFixture = ReadBytes(fs::path(SONAVEL_FIXTURES) / "settings/default.dat");

std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Default settings loaded from a file holding `bytes`; Saved() is what they write back.
struct Loaded {
    fakes::TempDir Dir;
    fs::path Path = Dir.Path / "snv2_settings.dat";
    clsSettings Settings;
    clsErrorHandler Err;
    bool Raised = false;

    explicit Loaded(const std::string& bytes, bool write = true) {
        if (write)
            WriteBytes(Path, bytes);
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
        return ReadBytes(Dir.Path / "saved.dat");
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
        {"\xEF\xBB\xBF"
         "CurrentKey=3",
         Unsupported}, // a byte order mark only opens line 1
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
    for (const auto& [keys, range] : ranges) {
        for (const char* key : keys) {
            const std::string k = std::string(key) + "=";
            const auto [low, high] = range;
            cases.push_back({k + std::to_string(low - 1), BadValue});
            cases.push_back({k + std::to_string(low), Accepted, k + std::to_string(low)});
            cases.push_back({k + std::to_string(high), Accepted, k + std::to_string(high)});
            cases.push_back({k + std::to_string(high + 1), BadValue});
        }
    }
    // Lists and interval selections take exactly their number of elements.
    const std::vector<std::pair<const char*, int>> lists{
        {"KeyTypeArray", 4}, {"MajSolfaArray", 7}, {"SelIntervalsDesc", 13}};
    for (const auto& [key, count] : lists) {
        for (int n : {count - 1, count, count + 1}) {
            std::string line = std::string(key) + "=1";
            for (int i = 1; i < n; ++i)
                line += i % 2 ? ",0" : ",1";
            cases.push_back({line, n == count ? Accepted : BadValue, line});
        }
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
            report += kBetween + kInternalEntry;
        EXPECT_TRUE(l.Raised);
        EXPECT_EQ(l.Err.ErrorDetails(), report);
        EXPECT_EQ(l.Saved(), kFixture);
    }
}

// Every rejected line is reported in order, the rest is read to the last line whatever ends
// the lines, and the labels are rebuilt before the failure is raised.
TEST(SettingsFile, ReadsOnPastRejectedLinesWhateverEndsTheLines) {
    const std::vector<std::string> lines{
        "CurrentKey=13", "", "Tempo=5", "PlaybackSpeed=150", "PlaybackSpeed=999", "CurrentKey=8"};
    const std::string report =
        Entry(kLoad, 1, "Unexpected setting value on line 1: CurrentKey=13") + kBetween +
        Entry(kLoad, 1, "Unsupported setting on line 3: Tempo") + kBetween +
        Entry(kLoad, 1, "Unexpected setting value on line 5: PlaybackSpeed=999") + kBetween +
        kInternalEntry;
    // A byte order mark, mixed ends and no end on the last line.
    std::string text = "\xEF\xBB\xBF";
    const char* ends[] = {"\r\n", "\n", "\r"};
    for (std::size_t i = 0; i < lines.size(); ++i)
        text += lines[i] + (i + 1 == lines.size() ? "" : ends[i % 3]);
    Loaded l(text);
    EXPECT_TRUE(l.Raised);
    EXPECT_EQ(l.Err.ErrorDetails(), report);
    EXPECT_EQ(l.Settings.PlaybackSpeed(), 150);
    EXPECT_EQ(l.Settings.NotesArray,
              (std::vector<std::string>{"Bb", "C", "D", "Eb", "F", "G", "A"}));
}

TEST(SettingsFile, LimitsAndFilesThatAreNoSettings) {
    Loaded missing("", false);
    EXPECT_FALSE(missing.Raised);
    EXPECT_TRUE(missing.Settings.NotesArray.empty()) << "a missing file changes nothing";
    EXPECT_TRUE(Names(missing.Dir.Path).empty());

    // Empty lines up to a setting on line 32767, which is read, or 32768, which is not.
    for (int last : {32767, 32768}) {
        Loaded l(std::string(last - 1, '\n') + "PlaybackSpeed=150\n");
        EXPECT_EQ(l.Err.ErrorDetails().find("more than 32767 lines") != std::string::npos,
                  last == 32768);
        EXPECT_EQ(l.Settings.PlaybackSpeed(), last == 32767 ? 150 : 100);
    }

    Loaded big(std::string(16 * 1024 * 1024, 'x') + "\n");
    EXPECT_EQ(big.Err.ErrorDetails(),
              Entry(kLoad, EFBIG, "The settings file is larger than 16777216 bytes"));

    Loaded folder("");
    fs::remove(folder.Path);
    fs::create_directory(folder.Path);
    EXPECT_THROW(folder.Settings.LoadFromDisk(folder.Path.string()), AppError);
    EXPECT_EQ(folder.Err.ErrorDetails(),
              Entry(kLoad, EISDIR, "Cannot read " + folder.Path.string() + ": it is a folder"));
}

TEST(SettingsFileSave, ReplacesTheFileBehindALinkWholeKeepingItsPermissions) {
    fakes::TempDir dir;
    const fs::path real = dir.Path / "real.dat";
    WriteBytes(real, std::string(100'000, 'o'));
    ::chmod(real.c_str(), 0640);
    WriteBytes(dir.Path / "real.dat.tmp", "left by a save that was killed");
    fs::create_symlink(real, dir.Path / "snv2_settings.dat");
    clsSettings().SaveToDisk((dir.Path / "snv2_settings.dat").string());
    EXPECT_EQ(ReadBytes(real), kFixture);
    EXPECT_TRUE(fs::is_symlink(dir.Path / "snv2_settings.dat"));
    struct stat info {};
    ASSERT_EQ(::stat(real.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(Names(dir.Path), (std::vector<std::string>{"real.dat", "snv2_settings.dat"}));
}

// A save that fails reports why, leaves the old file as it was and no temporary file of its own.
TEST(SettingsFileSave, FailureLeavesTheOldFileAndSaysWhy) {
    for (int code : {ENOENT, EBUSY, EFBIG}) {
        SCOPED_TRACE(code);
        fakes::TempDir dir;
        fs::path path = dir.Path / "snv2_settings.dat";
        WriteBytes(path, "old contents");
        rlimit saved{};
        ::getrlimit(RLIMIT_FSIZE, &saved);
        rlimit limit = saved;
        int held = -1;
        std::string what;
        if (code == ENOENT) {
            path = dir.Path / "none/snv2_settings.dat";
            what = "Cannot create a temporary file beside " + path.string() +
                   ": No such file or directory";
        } else if (code == EBUSY) { // another save holds the lock on its temporary file
            WriteBytes(path.string() + ".tmp", "another save");
            held = ::open((path.string() + ".tmp").c_str(), O_WRONLY | O_CLOEXEC);
            ::flock(held, LOCK_EX | LOCK_NB);
            what = "Another save of " + path.string() + " is in progress: Device or resource busy";
        } else { // a file size limit fails the write half-way, as a full disk would
            limit.rlim_cur = 1000;
            what = "Cannot write " + path.string() + ".tmp: File too large";
        }
        const auto before = Names(dir.Path);
        clsSettings settings;
        clsErrorHandler err;
        settings.MyErr = &err;
        const auto handler = std::signal(SIGXFSZ, SIG_IGN);
        ::setrlimit(RLIMIT_FSIZE, &limit);
        EXPECT_THROW(settings.SaveToDisk(path.string()), AppError);
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, handler);
        ::close(held);
        EXPECT_EQ(err.ErrorDetails(), Entry(kSave, code, what));
        EXPECT_EQ(Names(dir.Path), before);
        EXPECT_EQ(ReadBytes(dir.Path / "snv2_settings.dat"), "old contents");
    }
}
