#include "RecordingPresenter.h"
#include "scale_rule.h"
#include "settings/clsSettings.h"
#include "settings_testfiles.h"
#include "startup/clsErrorHandler.h"

#include <gtest/gtest.h>
#include <map>

using namespace sonavel;
using namespace sonavel::scaletest;
using settingstest::Entry;

namespace {

using Labels = std::vector<std::string>;

// Movable do: the major syllables, with the lowered third, sixth and seventh
// sung "Me", "Le", "Te".
const Labels kMajorSyllables{"Do", "Re", "Mi", "Fa", "Sol", "La", "Ti"};
const std::map<int, std::string> kLoweredSyllables{{2, "Me"}, {5, "Le"}, {6, "Te"}};

// Degree d of a key type is lowered when it lies a semitone below the major
// scale's degree d.
std::vector<bool> LoweredDegrees(int keyType) {
    const auto major = DegreeOffsets(kKeyTypes[0].Steps);
    const auto offsets = DegreeOffsets(kKeyTypes[keyType].Steps);
    std::vector<bool> lowered;
    for (int d = 0; d < 7; ++d) {
        if (offsets[d] != major[d] && offsets[d] != major[d] - 1)
            throw std::logic_error("neither major nor lowered");
        lowered.push_back(offsets[d] == major[d] - 1);
    }
    return lowered;
}

Labels DegreeLabels(int keyType) {
    const auto lowered = LoweredDegrees(keyType);
    Labels labels;
    for (int d = 0; d < 7; ++d)
        labels.push_back((lowered[d] ? "b" : "") + std::to_string(d + 1));
    return labels;
}

Labels Syllables(int keyType) {
    const auto lowered = LoweredDegrees(keyType);
    Labels labels;
    for (int d = 0; d < 7; ++d)
        labels.push_back(lowered[d] ? kLoweredSyllables.at(d) : kMajorSyllables[d]);
    return labels;
}

int ExpectedMidiRoot(int keyIndex) {
    const int pitch = PitchClass(kRoots[keyIndex]);
    return pitch >= 10 ? pitch - 12 : pitch;
}

class EveryKey : public testing::TestWithParam<KeyCase> {};

} // namespace

TEST_P(EveryKey, LabelsTheDegreesInAllThreeDisplayModes) {
    const auto [type, key] = GetParam();
    clsSettings settings;
    clsErrorHandler err;
    settings.MyErr = &err;
    settings.SetCurrentKeyType(type);
    settings.SetCurrentKey(static_cast<int16_t>(key));

    settings.SetNoteDisplayMode(0);
    EXPECT_EQ(settings.NotesArray, SpellScale(kRoots[key], kKeyTypes[type].Steps));
    EXPECT_EQ(settings.CurrentKeyMIDIRoot, ExpectedMidiRoot(key));

    settings.SetNoteDisplayMode(1);
    EXPECT_EQ(settings.NotesArray, DegreeLabels(type));
    EXPECT_EQ(settings.CurrentKeyMIDIRoot, ExpectedMidiRoot(key));

    settings.SetNoteDisplayMode(2);
    EXPECT_EQ(settings.NotesArray, Syllables(type));
    EXPECT_EQ(settings.CurrentKeyMIDIRoot, ExpectedMidiRoot(key));

    EXPECT_EQ(err.ErrorDetails(), "");
}

INSTANTIATE_TEST_SUITE_P(AllKeys, EveryKey, testing::ValuesIn(AllKeys()),
                         KeyName<testing::TestParamInfo<KeyCase>>);

TEST(NotesArray, IsBuiltOnlyByTheFirstRebuild) {
    clsSettings settings;
    EXPECT_TRUE(settings.NotesArray.empty()) << "the constructor does not build the labels";
    EXPECT_EQ(settings.CurrentKeyMIDIRoot, 0);

    // Writing a value equal to the current one still rebuilds.
    settings.SetCurrentKey(0);
    EXPECT_EQ(settings.NotesArray, (Labels{"C", "D", "E", "F", "G", "A", "B"}));

    settings.NotesArray = {"x"};
    settings.SetPlaybackSpeed(90);
    settings.SetCheatMode(2);
    settings.SetRandomKey(true);
    settings.SetMIDIInstrumentKR(12);
    EXPECT_EQ(settings.NotesArray, Labels{"x"}) << "other properties have no side effect";
    settings.SetCurrentKeyType(0);
    EXPECT_EQ(settings.NotesArray.size(), 7u);
    settings.NotesArray = {"x"};
    settings.SetNoteDisplayMode(0);
    EXPECT_EQ(settings.NotesArray.size(), 7u);
}

TEST(NotesArray, UnknownDisplayModeIsReportedAndKeepsTheLabels) {
    clsSettings settings;
    clsErrorHandler err;
    fakes::RecordingPresenter shown;
    err.SetPresenter(&shown);
    settings.MyErr = &err;
    settings.SetCurrentKey(1);
    settings.SetCurrentKeyType(1);
    const Labels before = settings.NotesArray;

    for (int32_t mode : {3, -1}) {
        try {
            settings.SetNoteDisplayMode(mode);
            FAIL() << "mode " << mode << " must fail";
        } catch (const AppError& e) {
            EXPECT_EQ(e.Code(), 9999);
            EXPECT_EQ(e.Text(), "Internal Error");
        }
        EXPECT_EQ(settings.NoteDisplayMode(), mode) << "the value is stored before the rebuild";
        EXPECT_EQ(settings.NotesArray, before);
        EXPECT_EQ(err.ErrorDetails(),
                  Entry("clsSettings::UpdateNotesArray()", 0, "Unhandled CASE note display value"));
        err.ShowError("test", 0, "next"); // empties the pending report
    }

    // The rebuild stops before the root is taken: moving to Bb leaves G's root.
    EXPECT_THROW(settings.SetCurrentKey(8), AppError);
    EXPECT_EQ(settings.CurrentKeyMIDIRoot, 7);
}

TEST(NotesArray, UnknownKeyTypeIsReportedInEveryMode) {
    struct Row {
        int32_t Mode;
        Labels After;
    };
    // Solfeggio sizes the list before it looks at the key type.
    const std::vector<Row> rows{{0, {}}, {1, {}}, {2, Labels(7, "")}};
    for (const auto& row : rows) {
        SCOPED_TRACE("mode " + std::to_string(row.Mode));
        clsSettings settings;
        clsErrorHandler err;
        fakes::RecordingPresenter shown;
        err.SetPresenter(&shown);
        settings.MyErr = &err;
        settings.SetCurrentKey(1);
        settings.SetNoteDisplayMode(row.Mode);
        const Labels before = settings.NotesArray;
        for (int32_t type : {4, -1}) {
            EXPECT_THROW(settings.SetCurrentKeyType(type), AppError);
            EXPECT_EQ(settings.CurrentKeyType(), type);
            EXPECT_EQ(settings.NotesArray, row.After.empty() ? before : row.After);
            EXPECT_EQ(err.ErrorDetails(),
                      Entry("clsSettings::UpdateNotesArray()", 0, "Unhandled CASE key type value"));
            err.ShowError("test", 0, "next");
        }
        EXPECT_THROW(settings.SetCurrentKey(8), AppError);
        EXPECT_EQ(settings.CurrentKeyMIDIRoot, 7) << "the root is not updated";
    }
}

TEST(NotesArray, KeyOutsideTheCatalogueFailsWithoutAReportEntry) {
    clsSettings settings;
    clsErrorHandler err;
    settings.MyErr = &err;
    for (int32_t mode : {0, 1, 2}) {
        settings.SetCurrentKey(0);
        settings.SetNoteDisplayMode(mode);
        EXPECT_THROW(settings.SetCurrentKey(13), std::out_of_range) << "mode " << mode;
        EXPECT_THROW(settings.SetCurrentKey(-1), std::out_of_range) << "mode " << mode;
        EXPECT_EQ(settings.CurrentKeyMIDIRoot, 0);
    }
    EXPECT_EQ(err.ErrorDetails(), "");
}

TEST(NotesArray, FailuresWithoutAHandlerStillRaiseTheInternalError) {
    clsSettings settings;
    try {
        settings.SetNoteDisplayMode(7);
        FAIL() << "must fail";
    } catch (const AppError& e) {
        EXPECT_EQ(e.Code(), 9999);
    }
    settings.SetNoteDisplayMode(0);
    EXPECT_THROW(settings.SetCurrentKeyType(9), AppError);
}
