#include "settings/clsSettings.h"
#include "settings_testfiles.h"
#include "startup/clsErrorHandler.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace sonavel;
using namespace sonavel::settingstest;

namespace {

const std::string kLoad = "clsSettings::LoadFromDisk()";
const std::string kSave = "clsSettings::SaveToDisk()";
const std::string kInternal = "Internal Error";

std::string RejectionReport(const std::string& message) {
    return Chain({Entry(kLoad, 1, message), Entry(kLoad, 9999, kInternal)});
}

// Values that differ from both the defaults and the fixture, so that a rejected
// line visibly keeps the value the object had before reading.
void SetPreviousValues(clsSettings& s) {
    s.SetCurrentKey(4);
    s.SetRandomKey(false);
    s.SetCurrentKeyType(2);
    s.SetRandomKeyType(true);
    s.SetCheatMode(3);
    s.SetCurrentKeyReference(1);
    s.SetKeyReferenceSettings(1);
    s.SetNoteDisplayMode(1);
    s.SetPlaybackSpeed(120);
    s.SetCurrentNoteDuration(2);
    s.SetMIDIDevice(3);
    s.SetMIDIChannelKR(5);
    s.SetMIDIChannelRN(6);
    s.SetMIDIVolumeKR(60);
    s.SetMIDIVolumeRN(70);
    s.SetMIDIInstrumentKR(30);
    s.SetMIDIInstrumentRN(40);
    s.SetMIDIRandomInstrumentKR(true);
    s.SetMIDIRandomInstrumentRN(false);
    s.SetDesc(1, true);
}

void KeepDefaults(clsSettings&) {}

std::string Flags(const std::vector<bool>& items) {
    std::string joined;
    for (bool item : items)
        joined += item ? '1' : '0';
    return joined;
}

std::string FixtureWith(std::vector<std::pair<std::size_t, std::string>> changes) {
    auto lines = FixtureLines();
    for (const auto& [lineNo, text] : changes)
        lines.at(lineNo - 1) = text;
    return Join(lines, "\r\n");
}

// A settings object prepared by `prepare`, then loaded from a file holding `bytes`.
struct Loaded {
    TempFolder Folder;
    std::string Path = Folder.File("snv2_settings.dat");
    clsSettings Settings;
    clsErrorHandler Err;
    bool Raised = false;

    explicit Loaded(const std::string& bytes,
                    const std::function<void(clsSettings&)>& prepare = SetPreviousValues) {
        WriteBytes(Path, bytes);
        Settings.MyErr = &Err;
        prepare(Settings);
        try {
            Settings.LoadFromDisk(Path);
        } catch (const AppError& e) {
            Raised = true;
            EXPECT_EQ(e.Code(), 9999);
            EXPECT_EQ(e.Text(), kInternal);
        }
    }
    std::string Details() const { return Err.ErrorDetails(); }
};

std::string ValueOf(const clsSettings& s, const std::string& name) {
    for (const auto& entry : Snapshot(s))
        if (entry.starts_with(name + "="))
            return entry;
    return "no " + name;
}

enum Verdict { Accepted, BadValue, Unsupported, Syntax };

struct LineCase {
    const char* Name;
    std::size_t LineNo;
    std::string Text;
    Verdict Kind;
    std::string Expected = {}; // for an accepted line: the value it leaves, as Snapshot shows it
};

std::string MessageFor(const LineCase& row) {
    const std::string n = std::to_string(row.LineNo);
    switch (row.Kind) {
    case BadValue:
        return "Unexpected setting value on line " + n + ": " + row.Text;
    case Unsupported:
        return "Unsupported setting on line " + n + ": " + row.Text.substr(0, row.Text.find('='));
    case Syntax:
        return "Syntax Error line " + n + ": " + row.Text;
    default:
        return "";
    }
}

} // namespace

TEST(SettingsFile, DefaultSaveIsTheFixtureByteForByte) {
    TempFolder folder;
    const std::string path = folder.File("snv2_settings.dat");
    clsSettings settings;
    clsErrorHandler err;
    settings.MyErr = &err;
    settings.SaveToDisk(path);
    EXPECT_EQ(ReadBytes(path), DefaultFixture());
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"snv2_settings.dat"});
    EXPECT_EQ(err.ErrorDetails(), "");

    // The labels are not part of the file, whatever they hold.
    settings.SetCurrentKey(6);
    settings.SetCurrentKey(0);
    settings.SaveToDisk(path);
    EXPECT_EQ(ReadBytes(path), DefaultFixture());
}

TEST(SettingsFile, LoadingTheDefaultFileChangesNothing) {
    auto displayModeZero = [](clsSettings& s) { s.SetNoteDisplayMode(0); };
    clsSettings before;
    displayModeZero(before);
    Loaded l(DefaultFixture(), displayModeZero);
    EXPECT_FALSE(l.Raised);
    EXPECT_EQ(l.Details(), "");
    EXPECT_EQ(Snapshot(l.Settings), Snapshot(before));

    l.Settings.SaveToDisk(l.Path);
    EXPECT_EQ(ReadBytes(l.Path), DefaultFixture());
}

TEST(SettingsFile, ChangedSettingsSurviveASaveAndALoad) {
    TempFolder folder;
    const std::string path = folder.File("snv2_settings.dat");
    clsSettings written;
    SetPreviousValues(written);
    written.SetHarm(12, true);
    written.SaveToDisk(path);

    Loaded read(ReadBytes(path), KeepDefaults);
    EXPECT_EQ(read.Details(), "");
    EXPECT_EQ(Snapshot(read.Settings), Snapshot(written));
}

TEST(SettingsFile, MissingFileChangesNothing) {
    TempFolder folder;
    clsSettings settings;
    clsErrorHandler err;
    settings.MyErr = &err;
    settings.SetPlaybackSpeed(150);
    settings.NotesArray.clear();
    const auto before = Snapshot(settings);
    settings.LoadFromDisk(folder.File("snv2_settings.dat"));
    EXPECT_EQ(Snapshot(settings), before) << "not even the labels are rebuilt";
    EXPECT_EQ(err.ErrorDetails(), "");
    EXPECT_TRUE(folder.Names().empty());
}

// Each row changes one line of the fixture. An accepted line leaves the value shown; a
// rejected one is reported with its line number and leaves everything as a file without
// that line would.
TEST(SettingsFile, EveryLineRule) {
    const std::vector<LineCase> rows{
        {"LastKeyAccepted", 15, "CurrentKey=12", Accepted, "CurrentKey=12"},
        {"KeyPastTheLast", 15, "CurrentKey=13", BadValue},
        {"BlanksAroundValue", 15, "CurrentKey= 3 ", Accepted, "CurrentKey=3"},
        {"LeadingBlankKey", 15, " CurrentKey=3", Unsupported},
        {"TrailingBlankKey", 15, "CurrentKey =3", Unsupported},
        {"EmptyValue", 15, "CurrentKey=", Syntax},
        {"EmptyKey", 15, "=3", Syntax},
        {"EmptyValueBeforeSecondEquals", 15, "CurrentKey==5", Syntax},
        {"KeyCaseMatters", 15, "currentkey=3", Unsupported},
        {"SecondEqualsIgnored", 16, "RandomKey=1=2", Accepted, "RandomKey=1"},
        {"BooleanTwo", 16, "RandomKey=2", BadValue},
        {"BooleanFractionUp", 16, "RandomKey=0.6", Accepted, "RandomKey=1"},
        {"BooleanOneAndAHalf", 16, "RandomKey=1.5", BadValue},
        {"BooleanMinusOne", 23, "RandomKeyType=-1", BadValue},
        {"BooleanHalfToEven", 23, "RandomKeyType=0.5", Accepted, "RandomKeyType=0"},
        {"LastKeyType", 22, "CurrentKeyType=3", Accepted, "CurrentKeyType=3"},
        {"KeyTypePastTheLast", 22, "CurrentKeyType=4", BadValue},
        {"CheatModeSix", 48, "CheatMode=6", BadValue},
        {"CheatModeZero", 48, "CheatMode=0", Accepted, "CheatMode=0"},
        {"KeyReferenceThree", 37, "CurrentKeyReference=3", BadValue},
        {"KeyReferenceSettingsThree", 38, "KeyReferenceSettings=3", BadValue},
        {"KeyReferenceSettingsTwo", 38, "KeyReferenceSettings=2", Accepted,
         "KeyReferenceSettings=2"},
        {"DisplayModeThree", 43, "NoteDisplayMode=3", BadValue},
        {"DisplayModeTwo", 43, "NoteDisplayMode=2", Accepted, "NoteDisplayMode=2"},
        {"SpeedNine", 53, "PlaybackSpeed=9", BadValue},
        {"SpeedTen", 53, "PlaybackSpeed=10", Accepted, "PlaybackSpeed=10"},
        {"SpeedTwoHundred", 53, "PlaybackSpeed=200", Accepted, "PlaybackSpeed=200"},
        {"SpeedTwoHundredOne", 53, "PlaybackSpeed=201", BadValue},
        {"SpeedBelowRangeBeforeRounding", 53, "PlaybackSpeed=9.5", BadValue},
        {"SpeedAboveRangeBeforeRounding", 53, "PlaybackSpeed=200.5", BadValue},
        {"SpeedHalfToEvenDown", 53, "PlaybackSpeed=100.5", Accepted, "PlaybackSpeed=100"},
        {"SpeedHalfToEvenUp", 53, "PlaybackSpeed=101.5", Accepted, "PlaybackSpeed=102"},
        {"SpeedFractionExponent", 53, "PlaybackSpeed=.15e3", Accepted, "PlaybackSpeed=150"},
        {"SpeedPlusSign", 53, "PlaybackSpeed=+150", Accepted, "PlaybackSpeed=150"},
        {"SpeedBlanks", 53, "PlaybackSpeed=  150\t", Accepted, "PlaybackSpeed=150"},
        {"SpeedHuge", 53, "PlaybackSpeed=1e999", BadValue},
        {"SpeedHugeNegative", 53, "PlaybackSpeed=-1e999", BadValue},
        {"SpeedNaN", 53, "PlaybackSpeed=NaN", BadValue},
        {"SpeedInfinity", 53, "PlaybackSpeed=inf", BadValue},
        {"SpeedBasicHex", 53, "PlaybackSpeed=&H64", BadValue},
        {"SpeedCHex", 53, "PlaybackSpeed=0x64", BadValue},
        {"SpeedTrailingLetters", 53, "PlaybackSpeed=12abc", BadValue},
        {"SpeedDecimalComma", 53, "PlaybackSpeed=1,5e2", BadValue},
        {"UnknownKey", 53, "Tempo=5", Unsupported},
        {"DurationFour", 54, "CurrentNoteDuration=4", BadValue},
        {"DurationThree", 54, "CurrentNoteDuration=3", Accepted, "CurrentNoteDuration=3"},
        {"MidiMapper", 60, "MIDIDevice=-1", Accepted, "MIDIDevice=-1"},
        {"DeviceMinusTwo", 60, "MIDIDevice=-2", BadValue},
        {"DeviceHundred", 60, "MIDIDevice=100", Accepted, "MIDIDevice=100"},
        {"DeviceHundredOne", 60, "MIDIDevice=101", BadValue},
        {"DeviceMinusHalf", 60, "MIDIDevice=-0.5", Accepted, "MIDIDevice=0"},
        {"ChannelZero", 61, "MIDIChannelKR=0", BadValue},
        {"ChannelSeventeen", 61, "MIDIChannelKR=17", BadValue},
        {"ChannelSixteen", 62, "MIDIChannelRN=16", Accepted, "MIDIChannelRN=16"},
        {"VolumeZero", 63, "MIDIVolumeKR=0", BadValue},
        {"VolumeOneTwentyEight", 64, "MIDIVolumeRN=128", BadValue},
        {"VolumeOne", 64, "MIDIVolumeRN=1", Accepted, "MIDIVolumeRN=1"},
        {"InstrumentMinusOne", 65, "MIDIInstrumentKR=-1", BadValue},
        {"LastInstrument", 66, "MIDIInstrumentRN=127", Accepted, "MIDIInstrumentRN=127"},
        {"InstrumentPastTheLast", 66, "MIDIInstrumentRN=128", BadValue},
        {"RandomInstrumentTwo", 67, "MIDIRandomInstrumentKR=2", BadValue},
        {"RandomInstrumentOn", 68, "MIDIRandomInstrumentRN=1", Accepted,
         "MIDIRandomInstrumentRN=1"},
        {"KeyListEmpty", 14, "KeyArray=", Syntax},
        {"KeyListOfOne", 14, "KeyArray=C", BadValue},
        {"KeyListReplaced", 14, "KeyArray=1,2,3,4,5,6,7,8,9,10,11,12,13", Accepted,
         "KeyArray=1|2|3|4|5|6|7|8|9|10|11|12|13|"},
        {"KeyTypeListOfThree", 21, "KeyTypeArray=a,b,c", BadValue},
        {"KeyTypeListReplaced", 21, "KeyTypeArray=a,b,c,d", Accepted, "KeyTypeArray=a|b|c|d|"},
        {"IntervalListOfTwelve", 28, "IntervalArray=a,b,c,d,e,f,g,h,i,j,k,l", BadValue},
        {"KeyRefListOfFour", 36, "KeyRefArray=a,b,c,d", BadValue},
        {"KeyRefListUntrimmed", 36, "KeyRefArray= a , b ,c", Accepted, "KeyRefArray= a | b |c|"},
        {"DurationListOfFive", 55, "NoteDurationArray=a,b,c,d,e", BadValue},
        {"SolfaListOfSix", 77, "MajSolfaArray=a,b,c,d,e,f", BadValue},
        {"SolfaReplaced", 78, "MinSolfaArray=La,Ti,Do,Re,Mi,Fa,Sol", Accepted,
         "MinSolfaArray=La|Ti|Do|Re|Mi|Fa|Sol|"},
        {"SolfaListOfEight", 79, "HMinSolfaArray=1,2,3,4,5,6,7,8", BadValue},
        {"SolfaOfEmptyNames", 80, "MMinSolfaArray=,,,,,,", Accepted, "MMinSolfaArray=|||||||"},
        {"SelectionAll", 29, "SelIntervalsAsc=1,1,1,1,1,1,1,1,1,1,1,1,1", Accepted,
         "SelIntervalsAsc=1111111111111"},
        {"SelectionAnyPositiveIsTrue", 29, "SelIntervalsAsc=2,-1,0.6,0.5,1.5, 3 ,0,0,0,0,0,0,0",
         Accepted, "SelIntervalsAsc=1010110000000"},
        {"SelectionOfTwo", 30, "SelIntervalsDesc=1,1", BadValue},
        {"SelectionOfFourteen", 31, "SelIntervalsHarm=1,0,1,0,1,0,1,0,1,0,1,0,1,0", BadValue},
        {"NotesListRebuiltAfterReading", 10, "NotesArray=a,b,c,d,e,f,g", Accepted,
         "NotesArray=C|D|E|F|G|A|B|"},
        {"NotesListOfTwo", 10, "NotesArray=a,b", BadValue},
        {"IndentedDashIsNoComment", 10, "  - not a comment", Syntax},
        {"DashStartsAComment", 10, "-CurrentKey=9", Accepted, "CurrentKey=0"},
        {"BlankLine", 10, " \t ", Accepted, "CurrentKey=0"},
        {"NoEqualsSign", 10, "garbage", Syntax},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        Loaded l(FixtureWith({{row.LineNo, row.Text}}));
        if (row.Kind == Accepted) {
            EXPECT_FALSE(l.Raised);
            EXPECT_EQ(l.Details(), "");
            const std::string name = row.Expected.substr(0, row.Expected.find('='));
            EXPECT_EQ(ValueOf(l.Settings, name), row.Expected);
        } else {
            EXPECT_TRUE(l.Raised);
            EXPECT_EQ(l.Details(), RejectionReport(MessageFor(row)));
            Loaded without(FixtureWith({{row.LineNo, ""}}));
            EXPECT_EQ(Snapshot(l.Settings), Snapshot(without.Settings));
        }
    }
}

TEST(SettingsFile, EveryRejectedLineIsReportedAndTheRestIsRead) {
    auto lines = FixtureLines();
    lines[15 - 1] = "CurrentKey=13";
    lines[53 - 1] = "Tempo=5";
    lines[60 - 1] = "MIDIDevice=-2";
    lines.push_back("PlaybackSpeed=150");
    lines.push_back("PlaybackSpeed=999");
    lines.push_back("CurrentKey=8");
    Loaded l(Join(lines, "\r\n"), KeepDefaults);
    EXPECT_TRUE(l.Raised);
    EXPECT_EQ(l.Details(),
              Chain({Entry(kLoad, 1, "Unexpected setting value on line 15: CurrentKey=13"),
                     Entry(kLoad, 1, "Unsupported setting on line 53: Tempo"),
                     Entry(kLoad, 1, "Unexpected setting value on line 60: MIDIDevice=-2"),
                     Entry(kLoad, 1, "Unexpected setting value on line 82: PlaybackSpeed=999"),
                     Entry(kLoad, 9999, kInternal)}));
    EXPECT_EQ(l.Settings.PlaybackSpeed(), 150) << "the last accepted line wins";
    EXPECT_EQ(l.Settings.CurrentKey(), 8);
    EXPECT_EQ(l.Settings.NotesArray,
              (std::vector<std::string>{"Bb", "C", "D", "Eb", "F", "G", "A"}))
        << "the labels are rebuilt before the failure is raised";
    EXPECT_EQ(l.Settings.CurrentKeyMIDIRoot, -2);
}

TEST(SettingsFile, AbsentKeysKeepTheirValuesAndOrderDoesNotMatter) {
    clsSettings previous;
    SetPreviousValues(previous);
    auto expected = Snapshot(previous);
    Loaded l("NoteDisplayMode=2\r\nCurrentKeyType=1\r\nMIDIVolumeKR=90\r\n");
    EXPECT_EQ(l.Details(), "");
    for (auto& entry : expected)
        for (const std::string changed : {"MIDIVolumeKR=90", "CurrentKeyType=1",
                                          "NoteDisplayMode=2", "NotesArray=Do|Re|Me|Fa|Sol|Le|Te|"})
            if (entry.starts_with(changed.substr(0, changed.find('=') + 1)))
                entry = changed;
    EXPECT_EQ(Snapshot(l.Settings), expected);
}

TEST(SettingsFile, SelectionElementThatIsNoNumberStopsTheReading) {
    struct Row {
        const char* Element;
        int Code;
        const char* What;
    };
    const std::vector<Row> rows{
        {"x", 13, "Type mismatch"},   {"", 13, "Type mismatch"}, {"NaN", 13, "Type mismatch"},
        {"&H1", 13, "Type mismatch"}, {"40000", 6, "Overflow"},  {"1e999", 6, "Overflow"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string("element \"") + row.Element + "\"");
        const std::string bad =
            std::string("SelIntervalsAsc=0,0,") + row.Element + ",0,0,1,0,1,0,0,0,0,0";
        Loaded l(
            FixtureWith(
                {{15, "CurrentKey=13"}, {29, bad}, {53, "PlaybackSpeed=150"}, {54, "Tempo=5"}}),
            [](clsSettings& s) {
                SetPreviousValues(s);
                s.NotesArray = {"unchanged"};
            });
        EXPECT_TRUE(l.Raised);
        EXPECT_EQ(l.Details(),
                  Chain({Entry(kLoad, 1, "Unexpected setting value on line 15: CurrentKey=13"),
                         Entry(kLoad, row.Code, std::string(row.What) + " on line 29: " + bad)}));
        EXPECT_EQ(l.Settings.PlaybackSpeed(), 120) << "lines after the failure are not read";
        EXPECT_EQ(Flags(l.Settings.SelIntervalsAsc), "0000010100000");
        EXPECT_EQ(l.Settings.NotesArray, std::vector<std::string>{"unchanged"});
    }
}

TEST(SettingsFile, AcceptsEveryLineEnd) {
    struct Row {
        const char* Name;
        std::vector<std::string> Ends; // line i ends with Ends[i % size]
        bool LastEnded;
        std::string Start;
    };
    const std::vector<Row> rows{
        {"CR LF", {"\r\n"}, true, ""},
        {"LF", {"\n"}, true, ""},
        {"CR", {"\r"}, true, ""},
        {"CR LF, last line open", {"\r\n"}, false, ""},
        {"LF, last line open", {"\n"}, false, ""},
        {"CR, last line open", {"\r"}, false, ""},
        {"mixed", {"\r\n", "\n", "\r"}, true, ""},
        {"byte order mark", {"\r\n"}, true, "\xEF\xBB\xBF"},
    };
    auto lines = FixtureLines();
    lines[15 - 1] = "CurrentKey=13";
    lines[53 - 1] = "PlaybackSpeed=150";
    lines[80 - 1] = "MMinSolfaArray=a,b,c,d,e,f,g";
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        std::string text = row.Start;
        for (std::size_t i = 0; i < lines.size(); ++i)
            text +=
                lines[i] + (i + 1 < lines.size() || row.LastEnded ? row.Ends[i % row.Ends.size()]
                                                                  : std::string());
        Loaded l(text, KeepDefaults);
        EXPECT_TRUE(l.Raised);
        EXPECT_EQ(l.Details(),
                  RejectionReport("Unexpected setting value on line 15: CurrentKey=13"));
        EXPECT_EQ(l.Settings.PlaybackSpeed(), 150);
        EXPECT_EQ(ValueOf(l.Settings, "MMinSolfaArray"), "MMinSolfaArray=a|b|c|d|e|f|g|")
            << "the last line is read";
    }
}

TEST(SettingsFile, LongLinesAreReadWhole) {
    const std::string noise(1'000'000, 'x');
    const std::string longKey = std::string(1'000'000, 'K');
    Loaded l(FixtureWith({{53, "PlaybackSpeed=" + std::string(1'000'000, '0') + "150"},
                          {10, noise},
                          {17, longKey + "=1"}}),
             KeepDefaults);
    EXPECT_TRUE(l.Raised);
    EXPECT_EQ(l.Details(), Chain({Entry(kLoad, 1, "Syntax Error line 10: " + noise),
                                  Entry(kLoad, 1, "Unsupported setting on line 17: " + longKey),
                                  Entry(kLoad, 9999, kInternal)}));
    EXPECT_EQ(l.Settings.PlaybackSpeed(), 150);
}

TEST(SettingsFile, BinaryFileIsReportedNotFatal) {
    std::mt19937 random(20240601);
    std::string bytes(256 * 1024, '\0');
    for (char& b : bytes)
        b = static_cast<char>(random() & 0xFF);
    Loaded noise(bytes, KeepDefaults);
    EXPECT_TRUE(noise.Raised) << "random bytes cannot be a valid settings file";
    EXPECT_TRUE(noise.Details().starts_with("Source: " + kLoad + "\r\n"));
    EXPECT_TRUE(noise.Details().ends_with(Entry(kLoad, 9999, kInternal)));

    std::string everyByte = "PlaybackSpeed=";
    for (int b = 0; b < 256; ++b)
        if (b != '\r' && b != '\n' && b != '=')
            everyByte += static_cast<char>(b);
    Loaded l(everyByte, KeepDefaults);
    EXPECT_TRUE(l.Raised);
    EXPECT_EQ(l.Details(), RejectionReport("Unexpected setting value on line 1: " + everyByte));
}

TEST(SettingsFile, LineCountStopsAtThe16BitLimit) {
    // Line 1 is rejected, then empty lines, then a setting on the given line.
    auto fileWithSettingOn = [](int lineNo) {
        std::string text = "Tempo=1\r\n";
        for (int i = 2; i < lineNo; ++i)
            text += "\r\n";
        return text + "PlaybackSpeed=150\r\n";
    };
    Loaded fits(fileWithSettingOn(32767), KeepDefaults);
    EXPECT_TRUE(fits.Raised);
    EXPECT_EQ(fits.Details(), RejectionReport("Unsupported setting on line 1: Tempo"));
    EXPECT_EQ(fits.Settings.PlaybackSpeed(), 150) << "line 32767 is still read";

    Loaded l(fileWithSettingOn(32768), [](clsSettings& s) { s.NotesArray = {"unchanged"}; });
    EXPECT_TRUE(l.Raised);
    EXPECT_EQ(l.Details(),
              Chain({Entry(kLoad, 1, "Unsupported setting on line 1: Tempo"),
                     Entry(kLoad, 6, "Overflow: the settings file has more than 32767 lines")}));
    EXPECT_EQ(l.Settings.PlaybackSpeed(), 100);
    EXPECT_EQ(l.Settings.NotesArray, std::vector<std::string>{"unchanged"});
}

TEST(SettingsFile, OversizedFileOrAFolderIsReported) {
    std::string big;
    for (int i = 0; i < 17 * 1024; ++i)
        big += std::string(1023, 'x') + "\n";
    Loaded l(big, KeepDefaults);
    EXPECT_TRUE(l.Raised);
    const std::string details = l.Details();
    EXPECT_TRUE(details.ends_with(
        "\r\n\r\n" + Entry(kLoad, EFBIG, "The settings file is larger than 16777216 bytes")))
        << details.substr(details.size() - 300);

    const std::string sub = l.Folder.File("folder");
    std::filesystem::create_directory(sub);
    clsSettings other;
    clsErrorHandler otherErr;
    other.MyErr = &otherErr;
    EXPECT_THROW(other.LoadFromDisk(sub), AppError);
    EXPECT_EQ(otherErr.ErrorDetails(),
              Entry(kLoad, EISDIR, "Cannot read " + sub + ": it is a folder"));
}

TEST(SettingsFile, EmptyFileOnlyRebuildsTheLabels) {
    Loaded l("", KeepDefaults);
    EXPECT_FALSE(l.Raised);
    EXPECT_EQ(l.Details(), "");
    EXPECT_EQ(ValueOf(l.Settings, "NotesArray"), "NotesArray=C|D|E|F|G|A|B|");
}

TEST(SettingsFile, LoadAndSaveWithoutAHandlerStillRaise) {
    TempFolder folder;
    const std::string path = folder.File("snv2_settings.dat");
    WriteBytes(path, "CurrentKey=13\r\nSelIntervalsAsc=x,0,0,0,0,0,0,0,0,0,0,0,0\r\n");
    clsSettings settings;
    for (const std::string& target : {path, folder.File("no such folder/snv2_settings.dat")}) {
        try {
            if (target == path)
                settings.LoadFromDisk(target);
            else
                settings.SaveToDisk(target);
            ADD_FAILURE() << "must fail: " << target;
        } catch (const AppError& e) {
            EXPECT_EQ(e.Code(), 9999);
        }
    }
}

TEST(SettingsFileSave, ReplacesTheOldFileWholeAndKeepsItsPermissions) {
    TempFolder folder;
    const std::string path = folder.File("snv2_settings.dat");
    WriteBytes(path, std::string(100'000, 'o'));
    ::chmod(path.c_str(), 0640);
    clsSettings settings;
    settings.SaveToDisk(path);
    EXPECT_EQ(ReadBytes(path), DefaultFixture());
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"snv2_settings.dat"});
}

TEST(SettingsFileSave, FollowsASymbolicLink) {
    TempFolder folder;
    const std::string real = folder.File("real.dat");
    const std::string link = folder.File("snv2_settings.dat");
    WriteBytes(real, "old");
    std::filesystem::create_symlink(real, link);
    clsSettings settings;
    settings.SaveToDisk(link);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadBytes(real), DefaultFixture());
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"real.dat", "snv2_settings.dat"}));
}

TEST(SettingsFileSave, UnwritableFolderLeavesTheOldFileAndReports) {
    TempFolder folder;
    const std::string path = folder.File("snv2_settings.dat");
    WriteBytes(path, "old contents");
    std::filesystem::permissions(folder.Path(), std::filesystem::perms(0555));
    const std::string expected = Entry(
        kSave, EACCES, "Cannot create a temporary file beside " + path + ": Permission denied");

    // The superuser writes into any folder; the attempt runs in a child process
    // that gives up its rights first.
    EXPECT_EXIT(
        {
            if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
                std::_Exit(10);
            clsSettings settings;
            clsErrorHandler err;
            settings.MyErr = &err;
            try {
                settings.SaveToDisk(path);
                std::_Exit(11);
            } catch (const AppError& e) {
                if (e.Code() != 9999)
                    std::_Exit(12);
            }
            if (err.ErrorDetails() != expected) {
                std::fprintf(stderr, "%s\n", err.ErrorDetails().c_str());
                std::_Exit(13);
            }
            std::_Exit(0);
        },
        testing::ExitedWithCode(0), "");
    EXPECT_EQ(ReadBytes(path), "old contents");
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"snv2_settings.dat"});
}

TEST(SettingsFileSave, FailedWriteLeavesTheOldFileAndNoTemporaryFile) {
    TempFolder folder;
    const std::string path = folder.File("snv2_settings.dat");
    WriteBytes(path, "old contents");

    // A file size limit makes the write fail half-way, as a full disk would.
    struct Limit {
        rlimit saved{};
        void (*handler)(int) = nullptr;
        Limit() {
            ::getrlimit(RLIMIT_FSIZE, &saved);
            rlimit small = saved;
            small.rlim_cur = 1000;
            ::setrlimit(RLIMIT_FSIZE, &small);
            handler = std::signal(SIGXFSZ, SIG_IGN);
        }
        ~Limit() {
            ::setrlimit(RLIMIT_FSIZE, &saved);
            std::signal(SIGXFSZ, handler);
        }
    };
    clsSettings settings;
    clsErrorHandler err;
    settings.MyErr = &err;
    {
        Limit limit;
        EXPECT_THROW(settings.SaveToDisk(path), AppError);
    }
    EXPECT_EQ(err.ErrorDetails(),
              Entry(kSave, EFBIG, "Cannot write " + path + ".tmp: File too large"));
    EXPECT_EQ(ReadBytes(path), "old contents");
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"snv2_settings.dat"});
}

TEST(SettingsFileSave, FailedRenameRemovesTheTemporaryFile) {
    TempFolder folder;
    const std::string path = folder.File("snv2_settings.dat");
    std::filesystem::create_directory(path);
    WriteBytes(path + "/keep", "x");
    clsSettings settings;
    clsErrorHandler err;
    settings.MyErr = &err;
    EXPECT_THROW(settings.SaveToDisk(path), AppError);
    EXPECT_EQ(err.ErrorDetails(),
              Entry(kSave, EISDIR, "Cannot replace " + path + ": Is a directory"));
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"snv2_settings.dat"});
    EXPECT_EQ(ReadBytes(path + "/keep"), "x");
}

TEST(SettingsFileSave, MissingFolderIsReported) {
    TempFolder folder;
    const std::string path = folder.File("no such folder/snv2_settings.dat");
    clsSettings settings;
    clsErrorHandler err;
    settings.MyErr = &err;
    EXPECT_THROW(settings.SaveToDisk(path), AppError);
    EXPECT_EQ(err.ErrorDetails(), Entry(kSave, ENOENT,
                                        "Cannot create a temporary file beside " + path +
                                            ": No such file or directory"));
}

TEST(SettingsFileSave, TemporaryFileOfASaveCutShortIsReplaced) {
    TempFolder folder;
    const std::string path = folder.File("snv2_settings.dat");
    WriteBytes(path, "old contents");
    WriteBytes(path + ".tmp", "half a save");
    clsSettings settings;
    settings.SaveToDisk(path);
    EXPECT_EQ(ReadBytes(path), DefaultFixture());
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"snv2_settings.dat"});
}

TEST(SettingsFileSave, SaveInProgressElsewhereIsNotDisturbed) {
    TempFolder folder;
    const std::string path = folder.File("snv2_settings.dat");
    WriteBytes(path, "old contents");
    WriteBytes(path + ".tmp", "another save");
    // Another save holds the lock on its temporary file.
    const int other = ::open((path + ".tmp").c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);

    clsSettings settings;
    clsErrorHandler err;
    settings.MyErr = &err;
    EXPECT_THROW(settings.SaveToDisk(path), AppError);
    ::close(other);
    EXPECT_EQ(err.ErrorDetails(),
              Entry(kSave, EBUSY,
                    "Another save of " + path + " is in progress: Device or resource busy"));
    EXPECT_EQ(ReadBytes(path), "old contents");
    EXPECT_EQ(ReadBytes(path + ".tmp"), "another save");
}
