#include "TempDir.h"
#include "settings/clsSettings.h"
#include "startup/clsErrorHandler.h"

#include <fstream>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

// A settings file in a hostile place, loaded and saved again in a child process (killed after
// a second, so a step that blocks fails) by a plain user: nobody when the tests run as root. A
// refused file keeps its bytes; every file keeps its kind, owner, group and mode.
TEST(SettingsFileSave, HostilePlacesKeepTheFileOrReportWhy) {
    const passwd* nobody = ::geteuid() == 0 ? ::getpwnam("nobody") : nullptr;
    const uid_t uid = nobody ? nobody->pw_uid : ::geteuid();
    const gid_t gid = nobody ? nobody->pw_gid : ::getegid();
    const std::string old = kFixture + "- written by hand\r\n";
    const std::string denied = "SaveToDisk()\r\nCode  : 13\r\nString: Cannot ";
    enum Who { User, RootSaves, RootOwns }; // the second user is root
    const std::tuple<mode_t, mode_t, std::string, Who> cases[] = {
        {S_IFREG | 0444, 0700, denied + "write %: Permission denied", User},
        {S_IFREG | 0644, 0555, "", User}, // written in place
        {0, 0555, denied + "create a temporary file beside %: Permission denied", User},
        {S_IFLNK, 0700, "", User}, // dangling
        {S_IFIFO | 0644, 0700, "Cannot read %: it is a named pipe, not a regular file", User},
        {S_IFREG | 0600, 0700, "", RootSaves},
        {S_IFREG | 0666, 0700, "", RootOwns},
    };
    char* shared = static_cast<char*>(
        ::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    for (auto [mode, folder, expected, who] : cases) {
        SCOPED_TRACE(std::to_string(mode) + " " + expected);
        if (who != User && !nobody)
            GTEST_SKIP() << "the rows of a second user need root"; // they come last
        fakes::TempDir dir;
        const fs::path file = dir.Path / "snv2_settings.dat";
        ASSERT_EQ(::chown(dir.Path.c_str(), uid, gid), 0);
        if (S_ISREG(mode)) {
            std::ofstream(file, std::ios::binary) << old;
            ::chmod(file.c_str(), mode & 07777);
            ASSERT_EQ(who == RootOwns || ::chown(file.c_str(), uid, gid) == 0, true);
        }
        if (S_ISFIFO(mode) ? ::mkfifo(file.c_str(), 0644)
                           : S_ISLNK(mode) && ::symlink("real.dat", file.c_str()))
            FAIL() << "cannot make the special file";
        ::chmod(dir.Path.c_str(), folder);
        auto look = [&] {
            struct stat l {};
            struct stat f {};
            ::lstat(file.c_str(), &l);
            ::stat(file.c_str(), &f);
            return std::tuple(l.st_mode & S_IFMT, f.st_mode, f.st_uid, f.st_gid);
        };
        const auto before = look();
        const pid_t child = ::fork();
        if (child == 0) {
            ::alarm(1);
            if (who != RootSaves && nobody &&
                (::setgroups(0, nullptr) || ::setgid(gid) || ::setuid(uid)))
                ::_exit(2);
            clsErrorHandler err;
            clsSettings settings;
            settings.MyErr = &err;
            for (bool load : {true, false}) {
                try {
                    load ? settings.LoadFromDisk(file) : settings.SaveToDisk(file);
                } catch (...) {
                }
            }
            std::snprintf(shared, 4096, "%s", err.ErrorDetails().c_str());
            ::_exit(0);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_EQ(status, 0) << "a step blocked";
        if (const auto at = expected.find('%'); at != std::string::npos)
            expected.replace(at, 1, file.string());
        const std::string report = shared;
        EXPECT_TRUE(expected.empty() ? report.empty() : report.find(expected) != std::string::npos)
            << report;
        // A dangling link stays a link, its new file the user's.
        const auto after = look();
        EXPECT_TRUE(after == before || (std::get<1>(before) == 0 && std::get<0>(after) == S_IFLNK));
        if (S_ISREG(std::get<1>(after))) {
            EXPECT_EQ(fakes::ReadFile(file), expected.empty() ? kFixture : old);
        }
    }
}
