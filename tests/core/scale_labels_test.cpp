#include "report_entry.h"
#include "scale_rule.h"
#include "settings/clsSettings.h"
#include "startup/clsErrorHandler.h"

#include <gtest/gtest.h>
#include <set>

namespace sonavel {
// Loads the fixed table a second time, which meets "C_MAJ" again at once.
struct SettingsTestAccess {
    static void LoadScales(clsSettings& settings) { settings.LoadScales(); }
};
} // namespace sonavel

using namespace sonavel;
using namespace sonavel::testing;

namespace {

using Labels = std::vector<std::string>;

// Degree labels, or movable-do syllables: a degree a semitone below the major scale's is
// lowered, "b3" or "Me", "Le", "Te".
Labels Expected(int keyType, bool syllables) {
    Labels labels{"Do", "Re", "Mi", "Fa", "Sol", "La", "Ti"};
    for (int d = 0; d < 7; ++d) {
        const bool lowered = kDegreeSemitones[keyType][d] == kDegreeSemitones[0][d] - 1;
        labels[d] = syllables ? (lowered ? labels[d].substr(0, 1) + "e" : labels[d])
                              : (lowered ? "b" : "") + std::to_string(d + 1);
    }
    return labels;
}

} // namespace

TEST(ScaleCatalogue, EveryScaleIsSpelledFromItsRootByItsKeyType) {
    clsSettings settings;
    const std::array<std::string, 4> suffixes{"MAJ", "MIN", "HMIN", "MMIN"};
    std::set<std::string> catalogueKeys;
    for (int type = 0; type < 4; ++type) {
        for (int16_t key = 0; key < 13; ++key) {
            SCOPED_TRACE(kRoots[key] + " " + suffixes[type]);
            const clsScale& scale = settings.Scale(type, key);
            const std::string& root = kRoots[key];
            EXPECT_EQ(scale.Name, root);
            EXPECT_EQ(settings.KeyArray.at(key), root);
            const int rootLetter = static_cast<int>(kLetters.find(root[0]));
            EXPECT_EQ(scale.RootOffset, rootLetter);
            EXPECT_EQ(scale.RootMidiNo, PitchClass(root) - (PitchClass(root) >= 10 ? 12 : 0));
            ASSERT_EQ(scale.Notes.size(), 7u);
            ASSERT_EQ(scale.Formula.size(), 7u);
            for (int d = 0; d < 7; ++d) {
                const std::string& note = scale.Notes[d];
                const std::string accidental = note.substr(1);
                ASSERT_EQ(note[0], kLetters[(rootLetter + d) % 7]) << "degree " << d + 1;
                ASSERT_TRUE(accidental == "" || accidental == "#" || accidental == "b" ||
                            accidental == "bb")
                    << note;
                EXPECT_EQ(PitchClass(note), (PitchClass(root) + kDegreeSemitones[type][d]) % 12)
                    << note;
                EXPECT_EQ(scale.Formula[d], accidental.empty() ? "1" : accidental);
            }
            std::string catalogueKey = root == "F#" ? "Fs" : root.size() == 1 ? root + "_" : root;
            EXPECT_EQ(settings.CatalogueKey(type, key), catalogueKey + suffixes[type]);
            catalogueKeys.insert(settings.CatalogueKey(type, key));
        }
    }
    EXPECT_EQ(catalogueKeys.size(), 52u);
    EXPECT_THROW(settings.Scale(0, 13), std::out_of_range);
    EXPECT_THROW(settings.Scale(4, 0), std::out_of_range);

    clsErrorHandler err;
    settings.MyErr = &err;
    EXPECT_THROW(SettingsTestAccess::LoadScales(settings), AppError);
    EXPECT_EQ(err.ErrorDetails(),
              Entry("clsSettings::LoadScales()", 457,
                    "This key is already associated with an element of this collection: C_MAJ"));
}

// Each write of the key, the key type or the display mode rebuilds the labels.
TEST(NotesArray, LabelsEveryKeyInAllThreeDisplayModes) {
    clsSettings s;
    clsErrorHandler err;
    s.MyErr = &err;
    EXPECT_TRUE(s.NotesArray.empty()) << "the constructor builds no labels";
    for (int type = 0; type < 4; ++type) {
        for (int16_t key = 0; key < 13; ++key) {
            SCOPED_TRACE(kRoots[key] + " of key type " + std::to_string(type));
            s.SetNoteDisplayMode(2);
            s.SetCurrentKeyType(type);
            EXPECT_EQ(s.NotesArray, Expected(type, true));
            s.SetNoteDisplayMode(0);
            s.SetCurrentKey(key);
            EXPECT_EQ(s.NotesArray, s.Scale(type, key).Notes);
            EXPECT_EQ(s.CurrentKeyMIDIRoot, s.Scale(0, key).RootMidiNo);
            s.SetNoteDisplayMode(1);
            EXPECT_EQ(s.NotesArray, Expected(type, false));
        }
    }
    EXPECT_EQ(err.ErrorDetails(), "");
}

// A bad display mode or key type is stored, reported and leaves the labels and the root as they
// were, except that solfeggio sizes its list before it looks at the key type.
TEST(NotesArray, UnknownDisplayModeOrKeyTypeIsReported) {
    struct Row {
        int32_t Mode, Type;
        const char* What;
    };
    const Row rows[] = {{3, 1, "note display"},
                        {-1, 1, "note display"},
                        {0, 4, "key type"},
                        {1, -1, "key type"},
                        {2, 4, "key type"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.Mode) + " " + std::to_string(row.Type));
        const bool badMode = row.Mode < 0 || row.Mode > 2;
        clsSettings s;
        clsErrorHandler err;
        s.MyErr = &err;
        s.SetCurrentKey(1);
        s.SetNoteDisplayMode(badMode ? 0 : row.Mode);
        const Labels before = s.NotesArray;
        EXPECT_THROW(badMode ? s.SetNoteDisplayMode(row.Mode) : s.SetCurrentKeyType(row.Type),
                     AppError);
        EXPECT_EQ(badMode ? s.NoteDisplayMode() : s.CurrentKeyType(),
                  badMode ? row.Mode : row.Type);
        EXPECT_EQ(s.NotesArray, row.Mode == 2 ? Labels(7, "") : before);
        EXPECT_EQ(err.ErrorDetails(), Entry("clsSettings::UpdateNotesArray()", 0,
                                            std::string("Unhandled CASE ") + row.What + " value"));
        EXPECT_THROW(s.SetCurrentKey(8), AppError);
        EXPECT_EQ(s.CurrentKeyMIDIRoot, 7) << "the root of G stays";
    }

    clsSettings s;
    clsErrorHandler err;
    s.MyErr = &err;
    for (int32_t mode : {0, 1}) {
        s.SetCurrentKey(0);
        s.SetNoteDisplayMode(mode);
        EXPECT_THROW(s.SetCurrentKey(13), std::out_of_range);
    }
    EXPECT_EQ(err.ErrorDetails(), "") << "a key outside the catalogue is no report entry";
    clsSettings unattached;
    EXPECT_THROW(unattached.SetNoteDisplayMode(7), AppError);
}
