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

std::string Joined(const std::vector<std::string>& items) {
    std::string joined;
    for (std::size_t i = 0; i < items.size(); ++i)
        joined += (i ? "," : "") + items[i];
    return joined;
}

std::string Flags(const std::vector<bool>& items) {
    std::string joined;
    for (bool item : items)
        joined += item ? '1' : '0';
    return joined;
}

std::string FixtureWith(std::size_t lineNo, const std::string& text) {
    auto lines = FixtureLines();
    lines.at(lineNo - 1) = text;
    return Join(lines, "\r\n");
}

using Reader = std::function<std::string(const clsSettings&)>;
#define READ(expr) [](const clsSettings& s) -> std::string { return expr; }
const Reader kCurrentKey = READ(std::to_string(s.CurrentKey()));
const Reader kRandomKey = READ(std::to_string(s.RandomKey()));
const Reader kPlaybackSpeed = READ(std::to_string(s.PlaybackSpeed()));
const Reader kMIDIDevice = READ(std::to_string(s.MIDIDevice()));

struct LineCase {
    const char* Name;
    std::size_t LineNo;
    std::string Text;
    std::string Message; // empty: the line is accepted
    Reader Read;
    std::string Expected;
};

std::vector<LineCase> LineCases() {
    const std::string u = "Unexpected setting value on line ";
    const std::string defaultKeys = "C,G,D,A,E,B,F#,F,Bb,Eb,Ab,Db,Gb";
    const std::string twelveIntervals = "a,b,c,d,e,f,g,h,i,j,k,l";
    return {
        {"LastKeyAccepted", 15, "CurrentKey=12", "", kCurrentKey, "12"},
        {"KeyPastTheLast", 15, "CurrentKey=13", u + "15: CurrentKey=13", kCurrentKey, "4"},
        {"MinusZero", 15, "CurrentKey=-0", "", kCurrentKey, "0"},
        {"HalfToEvenDown", 15, "CurrentKey=2.5", "", kCurrentKey, "2"},
        {"HalfToEvenUp", 15, "CurrentKey=11.5", "", kCurrentKey, "12"},
        {"TinyExponent", 15, "CurrentKey=1e-999", "", kCurrentKey, "0"},
        {"BlanksAroundValue", 15, "CurrentKey= 3 ", "", kCurrentKey, "3"},
        {"LeadingBlankKey", 15, " CurrentKey=3", "Unsupported setting on line 15:  CurrentKey",
         kCurrentKey, "4"},
        {"TrailingBlankKey", 15, "CurrentKey =3", "Unsupported setting on line 15: CurrentKey ",
         kCurrentKey, "4"},
        {"EmptyValue", 15, "CurrentKey=", "Syntax Error line 15: CurrentKey=", kCurrentKey, "4"},
        {"EmptyKey", 15, "=3", "Syntax Error line 15: =3", kCurrentKey, "4"},
        {"KeyCaseMatters", 15, "currentkey=3", "Unsupported setting on line 15: currentkey",
         kCurrentKey, "4"},
        {"SecondEqualsIgnored", 16, "RandomKey=1=2", "", kRandomKey, "1"},
        {"BooleanTwo", 16, "RandomKey=2", u + "16: RandomKey=2", kRandomKey, "0"},
        {"BooleanFractionUp", 16, "RandomKey=0.6", "", kRandomKey, "1"},
        {"BooleanOneAndAHalf", 16, "RandomKey=1.5", u + "16: RandomKey=1.5", kRandomKey, "0"},
        {"BooleanMinusOne", 23, "RandomKeyType=-1", u + "23: RandomKeyType=-1",
         READ(std::to_string(s.RandomKeyType())), "1"},
        {"BooleanHalfToEven", 23, "RandomKeyType=0.5", "", READ(std::to_string(s.RandomKeyType())),
         "0"},
        {"LastKeyType", 22, "CurrentKeyType=3", "", READ(std::to_string(s.CurrentKeyType())), "3"},
        {"KeyTypePastTheLast", 22, "CurrentKeyType=4", u + "22: CurrentKeyType=4",
         READ(std::to_string(s.CurrentKeyType())), "2"},
        {"CheatModeSix", 48, "CheatMode=6", u + "48: CheatMode=6",
         READ(std::to_string(s.CheatMode())), "3"},
        {"CheatModeZero", 48, "CheatMode=0", "", READ(std::to_string(s.CheatMode())), "0"},
        {"KeyReferenceThree", 37, "CurrentKeyReference=3", u + "37: CurrentKeyReference=3",
         READ(std::to_string(s.CurrentKeyReference())), "1"},
        {"KeyReferenceSettingsThree", 38, "KeyReferenceSettings=3",
         u + "38: KeyReferenceSettings=3", READ(std::to_string(s.KeyReferenceSettings())), "1"},
        {"KeyReferenceSettingsTwo", 38, "KeyReferenceSettings=2", "",
         READ(std::to_string(s.KeyReferenceSettings())), "2"},
        {"DisplayModeThree", 43, "NoteDisplayMode=3", u + "43: NoteDisplayMode=3",
         READ(std::to_string(s.NoteDisplayMode())), "1"},
        {"DisplayModeTwo", 43, "NoteDisplayMode=2", "", READ(std::to_string(s.NoteDisplayMode())),
         "2"},
        {"SpeedNine", 53, "PlaybackSpeed=9", u + "53: PlaybackSpeed=9", kPlaybackSpeed, "120"},
        {"SpeedTen", 53, "PlaybackSpeed=10", "", kPlaybackSpeed, "10"},
        {"SpeedTwoHundred", 53, "PlaybackSpeed=200", "", kPlaybackSpeed, "200"},
        {"SpeedTwoHundredOne", 53, "PlaybackSpeed=201", u + "53: PlaybackSpeed=201", kPlaybackSpeed,
         "120"},
        {"SpeedBelowRangeBeforeRounding", 53, "PlaybackSpeed=9.5", u + "53: PlaybackSpeed=9.5",
         kPlaybackSpeed, "120"},
        {"SpeedAboveRangeBeforeRounding", 53, "PlaybackSpeed=200.5", u + "53: PlaybackSpeed=200.5",
         kPlaybackSpeed, "120"},
        {"SpeedHalfToEvenDown", 53, "PlaybackSpeed=100.5", "", kPlaybackSpeed, "100"},
        {"SpeedHalfToEvenUp", 53, "PlaybackSpeed=101.5", "", kPlaybackSpeed, "102"},
        {"SpeedExponent", 53, "PlaybackSpeed=1e2", "", kPlaybackSpeed, "100"},
        {"SpeedFractionExponent", 53, "PlaybackSpeed=.15e3", "", kPlaybackSpeed, "150"},
        {"SpeedPlusSign", 53, "PlaybackSpeed=+150", "", kPlaybackSpeed, "150"},
        {"SpeedBlanks", 53, "PlaybackSpeed=  150\t", "", kPlaybackSpeed, "150"},
        {"SpeedHuge", 53, "PlaybackSpeed=1e999", u + "53: PlaybackSpeed=1e999", kPlaybackSpeed,
         "120"},
        {"SpeedHugeNegative", 53, "PlaybackSpeed=-1e999", u + "53: PlaybackSpeed=-1e999",
         kPlaybackSpeed, "120"},
        {"SpeedNaN", 53, "PlaybackSpeed=NaN", u + "53: PlaybackSpeed=NaN", kPlaybackSpeed, "120"},
        {"SpeedInfinity", 53, "PlaybackSpeed=inf", u + "53: PlaybackSpeed=inf", kPlaybackSpeed,
         "120"},
        {"SpeedBasicHex", 53, "PlaybackSpeed=&H64", u + "53: PlaybackSpeed=&H64", kPlaybackSpeed,
         "120"},
        {"SpeedCHex", 53, "PlaybackSpeed=0x64", u + "53: PlaybackSpeed=0x64", kPlaybackSpeed,
         "120"},
        {"SpeedTrailingLetters", 53, "PlaybackSpeed=12abc", u + "53: PlaybackSpeed=12abc",
         kPlaybackSpeed, "120"},
        {"SpeedDecimalComma", 53, "PlaybackSpeed=1,5e2", u + "53: PlaybackSpeed=1,5e2",
         kPlaybackSpeed, "120"},
        {"UnknownKey", 53, "Tempo=5", "Unsupported setting on line 53: Tempo", kPlaybackSpeed,
         "120"},
        {"DurationFour", 54, "CurrentNoteDuration=4", u + "54: CurrentNoteDuration=4",
         READ(std::to_string(s.CurrentNoteDuration())), "2"},
        {"DurationThree", 54, "CurrentNoteDuration=3", "",
         READ(std::to_string(s.CurrentNoteDuration())), "3"},
        {"MidiMapper", 60, "MIDIDevice=-1", "", kMIDIDevice, "-1"},
        {"DeviceMinusTwo", 60, "MIDIDevice=-2", u + "60: MIDIDevice=-2", kMIDIDevice, "3"},
        {"DeviceHundred", 60, "MIDIDevice=100", "", kMIDIDevice, "100"},
        {"DeviceHundredOne", 60, "MIDIDevice=101", u + "60: MIDIDevice=101", kMIDIDevice, "3"},
        {"DeviceMinusHalf", 60, "MIDIDevice=-0.5", "", kMIDIDevice, "0"},
        {"ChannelZero", 61, "MIDIChannelKR=0", u + "61: MIDIChannelKR=0",
         READ(std::to_string(s.MIDIChannelKR())), "5"},
        {"ChannelSeventeen", 61, "MIDIChannelKR=17", u + "61: MIDIChannelKR=17",
         READ(std::to_string(s.MIDIChannelKR())), "5"},
        {"ChannelSixteen", 62, "MIDIChannelRN=16", "", READ(std::to_string(s.MIDIChannelRN())),
         "16"},
        {"VolumeZero", 63, "MIDIVolumeKR=0", u + "63: MIDIVolumeKR=0",
         READ(std::to_string(s.MIDIVolumeKR())), "60"},
        {"VolumeOneTwentyEight", 64, "MIDIVolumeRN=128", u + "64: MIDIVolumeRN=128",
         READ(std::to_string(s.MIDIVolumeRN())), "70"},
        {"VolumeOne", 64, "MIDIVolumeRN=1", "", READ(std::to_string(s.MIDIVolumeRN())), "1"},
        {"InstrumentMinusOne", 65, "MIDIInstrumentKR=-1", u + "65: MIDIInstrumentKR=-1",
         READ(std::to_string(s.MIDIInstrumentKR())), "30"},
        {"LastInstrument", 66, "MIDIInstrumentRN=127", "",
         READ(std::to_string(s.MIDIInstrumentRN())), "127"},
        {"InstrumentPastTheLast", 66, "MIDIInstrumentRN=128", u + "66: MIDIInstrumentRN=128",
         READ(std::to_string(s.MIDIInstrumentRN())), "40"},
        {"RandomInstrumentTwo", 67, "MIDIRandomInstrumentKR=2", u + "67: MIDIRandomInstrumentKR=2",
         READ(std::to_string(s.MIDIRandomInstrumentKR())), "1"},
        {"RandomInstrumentOn", 68, "MIDIRandomInstrumentRN=1", "",
         READ(std::to_string(s.MIDIRandomInstrumentRN())), "1"},
        {"KeyListEmpty", 14,
         "KeyArray=", "Syntax Error line 14: KeyArray=", READ(Joined(s.KeyArray)), defaultKeys},
        {"KeyListOfOne", 14, "KeyArray=C", u + "14: KeyArray=C", READ(Joined(s.KeyArray)),
         defaultKeys},
        {"KeyListReplaced", 14, "KeyArray=1,2,3,4,5,6,7,8,9,10,11,12,13", "",
         READ(Joined(s.KeyArray)), "1,2,3,4,5,6,7,8,9,10,11,12,13"},
        {"KeyTypeListOfThree", 21, "KeyTypeArray=a,b,c", u + "21: KeyTypeArray=a,b,c",
         READ(Joined(s.KeyTypeArray)), "Major,Minor (Natural),Minor (Harmonic),Minor (Melodic)"},
        {"KeyTypeListReplaced", 21, "KeyTypeArray=a,b,c,d", "", READ(Joined(s.KeyTypeArray)),
         "a,b,c,d"},
        {"IntervalListOfTwelve", 28, "IntervalArray=" + twelveIntervals,
         u + "28: IntervalArray=" + twelveIntervals, READ(std::to_string(s.IntervalArray.size())),
         "13"},
        {"KeyRefListOfFour", 36, "KeyRefArray=a,b,c,d", u + "36: KeyRefArray=a,b,c,d",
         READ(std::to_string(s.KeyRefArray.size())), "3"},
        {"KeyRefListUntrimmed", 36, "KeyRefArray= a , b ,c", "", READ(Joined(s.KeyRefArray)),
         " a , b ,c"},
        {"DurationListOfFive", 55, "NoteDurationArray=a,b,c,d,e",
         u + "55: NoteDurationArray=a,b,c,d,e", READ(std::to_string(s.NoteDurationArray.size())),
         "4"},
        {"SolfaListOfSix", 77, "MajSolfaArray=a,b,c,d,e,f", u + "77: MajSolfaArray=a,b,c,d,e,f",
         READ(Joined(s.SolfaArray(0))), "Do,Re,Mi,Fa,Sol,La,Ti"},
        {"SolfaReplaced", 78, "MinSolfaArray=La,Ti,Do,Re,Mi,Fa,Sol", "",
         READ(Joined(s.SolfaArray(1))), "La,Ti,Do,Re,Mi,Fa,Sol"},
        {"SolfaListOfEight", 79, "HMinSolfaArray=1,2,3,4,5,6,7,8",
         u + "79: HMinSolfaArray=1,2,3,4,5,6,7,8", READ(Joined(s.SolfaArray(2))),
         "Do,Re,Me,Fa,Sol,Le,Ti"},
        {"SolfaOfEmptyNames", 80, "MMinSolfaArray=,,,,,,", "", READ(Joined(s.SolfaArray(3))),
         ",,,,,,"},
        {"SelectionAll", 29, "SelIntervalsAsc=1,1,1,1,1,1,1,1,1,1,1,1,1", "",
         READ(Flags(s.SelIntervalsAsc)), "1111111111111"},
        {"SelectionAnyPositiveIsTrue", 29, "SelIntervalsAsc=2,-1,0.6,0.5,1.5, 3 ,0,0,0,0,0,0,0", "",
         READ(Flags(s.SelIntervalsAsc)), "1010110000000"},
        {"SelectionOfTwo", 30, "SelIntervalsDesc=1,1", u + "30: SelIntervalsDesc=1,1",
         READ(Flags(s.SelIntervalsDesc)), "0100000000000"},
        {"SelectionOfFourteen", 31, "SelIntervalsHarm=1,0,1,0,1,0,1,0,1,0,1,0,1,0",
         u + "31: SelIntervalsHarm=1,0,1,0,1,0,1,0,1,0,1,0,1,0", READ(Flags(s.SelIntervalsHarm)),
         "0000000000000"},
        {"NotesListRebuiltAfterReading", 10, "NotesArray=a,b,c,d,e,f,g", "",
         READ(Joined(s.NotesArray)), "C,D,E,F,G,A,B"},
        {"NotesListOfTwo", 10, "NotesArray=a,b", u + "10: NotesArray=a,b",
         READ(Joined(s.NotesArray)), "C,D,E,F,G,A,B"},
        {"IndentedDashIsNoComment", 10, "  - not a comment",
         "Syntax Error line 10:   - not a comment", kCurrentKey, "0"},
        {"DashStartsAComment", 10, "-CurrentKey=9", "", kCurrentKey, "0"},
        {"BlankLine", 10, " \t ", "", kCurrentKey, "0"},
        {"NoEqualsSign", 10, "garbage", "Syntax Error line 10: garbage", kCurrentKey, "0"},
    };
}

#undef READ

class EveryLineRule : public testing::TestWithParam<LineCase> {
protected:
    TempFolder m_folder;
};

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

TEST(SettingsFile, FixtureHasEightyLinesAndBannersMatchTheirTitles) {
    const auto lines = FixtureLines();
    ASSERT_EQ(lines.size(), 80u);
    EXPECT_EQ(Join(lines, "\r\n"), DefaultFixture()) << "every line ends with CR LF";
    for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
        const bool dashesAround = !lines[i - 1].empty() && !lines[i + 1].empty() &&
                                  lines[i - 1].find_first_not_of('-') == std::string::npos &&
                                  lines[i + 1].find_first_not_of('-') == std::string::npos;
        if (dashesAround && lines[i].rfind("- ", 0) == 0) {
            EXPECT_EQ(lines[i - 1].size(), lines[i].size()) << lines[i];
            EXPECT_EQ(lines[i + 1].size(), lines[i].size()) << lines[i];
        }
    }
}

TEST(SettingsFile, LoadingTheDefaultFileChangesNothing) {
    TempFolder folder;
    const std::string path = folder.File("snv2_settings.dat");
    WriteBytes(path, DefaultFixture());
    clsSettings settings;
    clsErrorHandler err;
    settings.MyErr = &err;
    settings.SetNoteDisplayMode(0);
    const auto before = Snapshot(settings);
    settings.LoadFromDisk(path);
    EXPECT_EQ(err.ErrorDetails(), "");
    EXPECT_EQ(Snapshot(settings), before);

    settings.SaveToDisk(path);
    EXPECT_EQ(ReadBytes(path), DefaultFixture());
}

TEST(SettingsFile, ChangedSettingsSurviveASaveAndALoad) {
    TempFolder folder;
    const std::string path = folder.File("snv2_settings.dat");
    clsSettings written;
    SetPreviousValues(written);
    written.SetHarm(12, true);
    written.SaveToDisk(path);

    clsSettings read;
    clsErrorHandler err;
    read.MyErr = &err;
    read.LoadFromDisk(path);
    EXPECT_EQ(err.ErrorDetails(), "");
    EXPECT_EQ(Snapshot(read), Snapshot(written));
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

TEST_P(EveryLineRule, AcceptsOrReportsTheLine) {
    const LineCase& row = GetParam();
    const std::string path = m_folder.File("snv2_settings.dat");
    WriteBytes(path, FixtureWith(row.LineNo, row.Text));
    clsSettings settings;
    clsErrorHandler err;
    settings.MyErr = &err;
    SetPreviousValues(settings);

    if (row.Message.empty()) {
        EXPECT_NO_THROW(settings.LoadFromDisk(path));
        EXPECT_EQ(err.ErrorDetails(), "");
    } else {
        try {
            settings.LoadFromDisk(path);
            ADD_FAILURE() << "the line must be rejected";
        } catch (const AppError& e) {
            EXPECT_EQ(e.Code(), 9999);
            EXPECT_EQ(e.Text(), kInternal);
        }
        EXPECT_EQ(err.ErrorDetails(), RejectionReport(row.Message));
    }
    EXPECT_EQ(row.Read(settings), row.Expected);
}

INSTANTIATE_TEST_SUITE_P(Lines, EveryLineRule, testing::ValuesIn(LineCases()),
                         [](const testing::TestParamInfo<LineCase>& info) {
                             return std::string(info.param.Name);
                         });

TEST(SettingsFile, EveryRejectedLineIsReportedAndTheRestIsRead) {
    TempFolder folder;
    const std::string path = folder.File("snv2_settings.dat");
    auto lines = FixtureLines();
    lines[15 - 1] = "CurrentKey=13";
    lines[53 - 1] = "Tempo=5";
    lines[60 - 1] = "MIDIDevice=-2";
    lines.push_back("PlaybackSpeed=150");
    lines.push_back("PlaybackSpeed=999");
    lines.push_back("CurrentKey=8");
    WriteBytes(path, Join(lines, "\r\n"));

    clsSettings settings;
    clsErrorHandler err;
    settings.MyErr = &err;
    EXPECT_THROW(settings.LoadFromDisk(path), AppError);
    EXPECT_EQ(err.ErrorDetails(),
              Chain({Entry(kLoad, 1, "Unexpected setting value on line 15: CurrentKey=13"),
                     Entry(kLoad, 1, "Unsupported setting on line 53: Tempo"),
                     Entry(kLoad, 1, "Unexpected setting value on line 60: MIDIDevice=-2"),
                     Entry(kLoad, 1, "Unexpected setting value on line 82: PlaybackSpeed=999"),
                     Entry(kLoad, 9999, kInternal)}));
    EXPECT_EQ(settings.PlaybackSpeed(), 150) << "the last accepted line wins";
    EXPECT_EQ(settings.CurrentKey(), 8);
    EXPECT_EQ(settings.NotesArray, (std::vector<std::string>{"Bb", "C", "D", "Eb", "F", "G", "A"}))
        << "the labels are rebuilt before the failure is raised";
    EXPECT_EQ(settings.CurrentKeyMIDIRoot, -2);
}

TEST(SettingsFile, AbsentKeysKeepTheirValuesAndOrderDoesNotMatter) {
    TempFolder folder;
    const std::string path = folder.File("snv2_settings.dat");
    WriteBytes(path, "NoteDisplayMode=2\r\nCurrentKeyType=1\r\nMIDIVolumeKR=90\r\n");
    clsSettings settings;
    clsErrorHandler err;
    settings.MyErr = &err;
    SetPreviousValues(settings);
    auto expected = Snapshot(settings);
    settings.LoadFromDisk(path);
    EXPECT_EQ(err.ErrorDetails(), "");
    EXPECT_EQ(settings.MIDIVolumeKR(), 90);
    EXPECT_EQ(settings.CurrentKeyType(), 1);
    EXPECT_EQ(settings.NoteDisplayMode(), 2);
    EXPECT_EQ(settings.NotesArray,
              (std::vector<std::string>{"Do", "Re", "Me", "Fa", "Sol", "Le", "Te"}));
    for (auto& entry : expected) {
        if (entry.starts_with("MIDIVolumeKR="))
            entry = "MIDIVolumeKR=90";
        if (entry.starts_with("CurrentKeyType="))
            entry = "CurrentKeyType=1";
        if (entry.starts_with("NoteDisplayMode="))
            entry = "NoteDisplayMode=2";
        if (entry.starts_with("NotesArray="))
            entry = "NotesArray=Do|Re|Me|Fa|Sol|Le|Te|";
    }
    EXPECT_EQ(Snapshot(settings), expected);
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
        TempFolder folder;
        const std::string path = folder.File("snv2_settings.dat");
        const std::string bad =
            std::string("SelIntervalsAsc=0,0,") + row.Element + ",0,0,1,0,1,0,0,0,0,0";
        auto lines = FixtureLines();
        lines[15 - 1] = "CurrentKey=13";
        lines[29 - 1] = bad;
        lines[53 - 1] = "PlaybackSpeed=150";
        lines[54 - 1] = "Tempo=5";
        WriteBytes(path, Join(lines, "\r\n"));

        clsSettings settings;
        clsErrorHandler err;
        settings.MyErr = &err;
        SetPreviousValues(settings);
        settings.NotesArray = {"unchanged"};
        try {
            settings.LoadFromDisk(path);
            ADD_FAILURE() << "must fail";
        } catch (const AppError& e) {
            EXPECT_EQ(e.Code(), 9999);
        }
        EXPECT_EQ(err.ErrorDetails(),
                  Chain({Entry(kLoad, 1, "Unexpected setting value on line 15: CurrentKey=13"),
                         Entry(kLoad, row.Code, std::string(row.What) + " on line 29: " + bad)}));
        EXPECT_EQ(settings.PlaybackSpeed(), 120) << "lines after the failure are not read";
        EXPECT_EQ(Flags(settings.SelIntervalsAsc), "0000010100000");
        EXPECT_EQ(settings.NotesArray, std::vector<std::string>{"unchanged"});
    }
}

TEST(SettingsFile, AcceptsEveryLineEnd) {
    struct Row {
        const char* Name;
        std::function<std::string(const std::vector<std::string>&)> Write;
    };
    auto ending = [](const std::vector<std::string>& lines, auto pick, bool lastEnded) {
        std::string text;
        for (std::size_t i = 0; i < lines.size(); ++i)
            text += lines[i] + (i + 1 < lines.size() || lastEnded ? pick(i) : "");
        return text;
    };
    const std::vector<Row> rows{
        {"CR LF",
         [&](auto& l) {
             return ending(
                 l, [](auto) { return "\r\n"; }, true);
         }},
        {"LF",
         [&](auto& l) {
             return ending(
                 l, [](auto) { return "\n"; }, true);
         }},
        {"CR",
         [&](auto& l) {
             return ending(
                 l, [](auto) { return "\r"; }, true);
         }},
        {"CR LF, last line open",
         [&](auto& l) {
             return ending(
                 l, [](auto) { return "\r\n"; }, false);
         }},
        {"LF, last line open",
         [&](auto& l) {
             return ending(
                 l, [](auto) { return "\n"; }, false);
         }},
        {"CR, last line open",
         [&](auto& l) {
             return ending(
                 l, [](auto) { return "\r"; }, false);
         }},
        {"mixed",
         [&](auto& l) {
             const char* ends[] = {"\r\n", "\n", "\r"};
             return ending(
                 l, [&](std::size_t i) { return ends[i % 3]; }, true);
         }},
        {"byte order mark",
         [&](auto& l) {
             return "\xEF\xBB\xBF" + ending(
                                         l, [](auto) { return "\r\n"; }, true);
         }},
    };
    auto lines = FixtureLines();
    lines[15 - 1] = "CurrentKey=13";
    lines[53 - 1] = "PlaybackSpeed=150";
    lines[80 - 1] = "MMinSolfaArray=a,b,c,d,e,f,g";
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        TempFolder folder;
        const std::string path = folder.File("snv2_settings.dat");
        WriteBytes(path, row.Write(lines));
        clsSettings settings;
        clsErrorHandler err;
        settings.MyErr = &err;
        EXPECT_THROW(settings.LoadFromDisk(path), AppError);
        EXPECT_EQ(err.ErrorDetails(),
                  RejectionReport("Unexpected setting value on line 15: CurrentKey=13"));
        EXPECT_EQ(settings.PlaybackSpeed(), 150);
        EXPECT_EQ(Joined(settings.SolfaArray(3)), "a,b,c,d,e,f,g") << "the last line is read";
    }
}

TEST(SettingsFile, LongLinesAreReadWhole) {
    TempFolder folder;
    const std::string path = folder.File("snv2_settings.dat");
    const std::string zeros(1'000'000, '0');
    const std::string noise(1'000'000, 'x');
    const std::string longKey = std::string(1'000'000, 'K');
    auto lines = FixtureLines();
    lines[53 - 1] = "PlaybackSpeed=" + zeros + "150";
    lines[10 - 1] = noise;
    lines[17 - 1] = longKey + "=1";
    WriteBytes(path, Join(lines, "\r\n"));
    clsSettings settings;
    clsErrorHandler err;
    settings.MyErr = &err;
    EXPECT_THROW(settings.LoadFromDisk(path), AppError);
    EXPECT_EQ(err.ErrorDetails(),
              Chain({Entry(kLoad, 1, "Syntax Error line 10: " + noise),
                     Entry(kLoad, 1, "Unsupported setting on line 17: " + longKey),
                     Entry(kLoad, 9999, kInternal)}));
    EXPECT_EQ(settings.PlaybackSpeed(), 150);
}

TEST(SettingsFile, BinaryFileIsReportedNotFatal) {
    TempFolder folder;
    const std::string path = folder.File("snv2_settings.dat");
    std::mt19937 random(20240601);
    std::string bytes(256 * 1024, '\0');
    for (char& b : bytes)
        b = static_cast<char>(random() & 0xFF);
    WriteBytes(path, bytes);

    clsSettings settings;
    clsErrorHandler err;
    settings.MyErr = &err;
    try {
        settings.LoadFromDisk(path);
        FAIL() << "random bytes cannot be a valid settings file";
    } catch (const AppError& e) {
        EXPECT_EQ(e.Code(), 9999);
    }
    EXPECT_TRUE(err.ErrorDetails().starts_with("Source: " + kLoad + "\r\n"));
    EXPECT_TRUE(err.ErrorDetails().ends_with(Entry(kLoad, 9999, kInternal)));

    std::string everyByte = "PlaybackSpeed=";
    for (int b = 0; b < 256; ++b)
        if (b != '\r' && b != '\n' && b != '=')
            everyByte += static_cast<char>(b);
    WriteBytes(path, everyByte);
    clsSettings other;
    clsErrorHandler otherErr;
    other.MyErr = &otherErr;
    EXPECT_THROW(other.LoadFromDisk(path), AppError);
    EXPECT_EQ(otherErr.ErrorDetails(),
              RejectionReport("Unexpected setting value on line 1: " + everyByte));
}

TEST(SettingsFile, LineCountStopsAtThe16BitLimit) {
    TempFolder folder;
    const std::string path = folder.File("snv2_settings.dat");
    // Line 1 is rejected, then empty lines, then a setting on the given line.
    auto fileWithSettingOn = [](int lineNo) {
        std::string text = "Tempo=1\r\n";
        for (int i = 2; i < lineNo; ++i)
            text += "\r\n";
        return text + "PlaybackSpeed=150\r\n";
    };

    WriteBytes(path, fileWithSettingOn(32767));
    clsSettings fits;
    clsErrorHandler fitsErr;
    fits.MyErr = &fitsErr;
    EXPECT_THROW(fits.LoadFromDisk(path), AppError);
    EXPECT_EQ(fitsErr.ErrorDetails(), RejectionReport("Unsupported setting on line 1: Tempo"));
    EXPECT_EQ(fits.PlaybackSpeed(), 150) << "line 32767 is still read";

    WriteBytes(path, fileWithSettingOn(32768));
    clsSettings settings;
    clsErrorHandler err;
    settings.MyErr = &err;
    settings.NotesArray = {"unchanged"};
    EXPECT_THROW(settings.LoadFromDisk(path), AppError);
    EXPECT_EQ(err.ErrorDetails(),
              Chain({Entry(kLoad, 1, "Unsupported setting on line 1: Tempo"),
                     Entry(kLoad, 6, "Overflow: the settings file has more than 32767 lines")}));
    EXPECT_EQ(settings.PlaybackSpeed(), 100);
    EXPECT_EQ(settings.NotesArray, std::vector<std::string>{"unchanged"});
}

TEST(SettingsFile, OversizedFileOrAFolderIsReported) {
    TempFolder folder;
    const std::string path = folder.File("snv2_settings.dat");
    {
        std::ofstream out(path, std::ios::binary);
        const std::string line = std::string(1023, 'x') + "\n";
        for (int i = 0; i < 17 * 1024; ++i)
            out << line;
    }
    clsSettings settings;
    clsErrorHandler err;
    settings.MyErr = &err;
    EXPECT_THROW(settings.LoadFromDisk(path), AppError);
    const std::string details = err.ErrorDetails();
    EXPECT_TRUE(details.ends_with(
        "\r\n\r\n" + Entry(kLoad, EFBIG, "The settings file is larger than 16777216 bytes")))
        << details.substr(details.size() - 300);

    const std::string sub = folder.File("folder");
    std::filesystem::create_directory(sub);
    clsSettings other;
    clsErrorHandler otherErr;
    other.MyErr = &otherErr;
    EXPECT_THROW(other.LoadFromDisk(sub), AppError);
    EXPECT_EQ(otherErr.ErrorDetails(),
              Entry(kLoad, EISDIR, "Cannot read " + sub + ": it is a folder"));
}

TEST(SettingsFile, EmptyFileOnlyRebuildsTheLabels) {
    TempFolder folder;
    const std::string path = folder.File("snv2_settings.dat");
    WriteBytes(path, "");
    clsSettings settings;
    clsErrorHandler err;
    settings.MyErr = &err;
    settings.LoadFromDisk(path);
    EXPECT_EQ(err.ErrorDetails(), "");
    EXPECT_EQ(Joined(settings.NotesArray), "C,D,E,F,G,A,B");
}

TEST(SettingsFile, LoadWithoutAHandlerStillRaises) {
    TempFolder folder;
    const std::string path = folder.File("snv2_settings.dat");
    WriteBytes(path, "CurrentKey=13\r\nSelIntervalsAsc=x,0,0,0,0,0,0,0,0,0,0,0,0\r\n");
    clsSettings settings;
    try {
        settings.LoadFromDisk(path);
        FAIL() << "must fail";
    } catch (const AppError& e) {
        EXPECT_EQ(e.Code(), 9999);
    }
}

// Saving

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

TEST(SettingsFileSave, MissingFolderIsReportedEvenWithoutAHandler) {
    TempFolder folder;
    const std::string path = folder.File("no such folder/snv2_settings.dat");
    clsSettings settings;
    clsErrorHandler err;
    settings.MyErr = &err;
    EXPECT_THROW(settings.SaveToDisk(path), AppError);
    EXPECT_EQ(err.ErrorDetails(), Entry(kSave, ENOENT,
                                        "Cannot create a temporary file beside " + path +
                                            ": No such file or directory"));

    clsSettings unattached;
    try {
        unattached.SaveToDisk(path);
        FAIL() << "must fail";
    } catch (const AppError& e) {
        EXPECT_EQ(e.Code(), 9999);
    }
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
