#include "scale_rule.h"
#include "settings/clsSettings.h"

#include <gtest/gtest.h>
#include <set>

using namespace sonavel;
using namespace sonavel::testing;

namespace {

const std::array<std::string, 13> kRoots{"C", "G",  "D",  "A",  "E",  "B", "F#",
                                         "F", "Bb", "Eb", "Ab", "Db", "Gb"};
const std::string kLetters = "CDEFGAB";

// Pitch class 0..11 of a spelled note ("E#" 5, "Cb" 11, "Bbb" 9).
int PitchClass(const std::string& note) {
    constexpr int natural[] = {0, 2, 4, 5, 7, 9, 11};
    int pitch = natural[kLetters.find(note.at(0))];
    for (char c : note.substr(1))
        pitch += c == '#' ? 1 : -1;
    return (pitch + 24) % 12;
}

} // namespace

// Every scale is spelled on seven successive letters from its root, each degree at the
// semitones of its key type; the roots of A# and above lie below C; catalogue keys are
// unique and plain letters.
TEST(ScaleCatalogue, EveryScaleIsSpelledFromItsRootByItsKeyType) {
    clsSettings settings;
    std::set<std::string> catalogueKeys;
    for (int type = 0; type < 4; ++type)
        for (int16_t key = 0; key < 13; ++key) {
            SCOPED_TRACE(kRoots[key] + " " + std::to_string(type));
            const clsScale& scale = settings.Scale(type, key);
            const std::string& root = kRoots[key];
            EXPECT_EQ(scale.RootMidiNo, PitchClass(root) - (PitchClass(root) >= 10 ? 12 : 0));
            ASSERT_EQ(scale.Notes.size(), 7u);
            for (int d = 0; d < 7; ++d) {
                EXPECT_EQ(scale.Notes[d][0], kLetters[(kLetters.find(root[0]) + d) % 7]);
                EXPECT_EQ(PitchClass(scale.Notes[d]),
                          (PitchClass(root) + kDegreeSemitones[type][d]) % 12);
            }
            const std::string catalogueKey = settings.CatalogueKey(type, key);
            EXPECT_EQ(catalogueKey.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ_bs"),
                      std::string::npos)
                << catalogueKey;
            catalogueKeys.insert(catalogueKey);
        }
    EXPECT_EQ(catalogueKeys.size(), 52u);
}

// Degrees and movable-do syllables name each degree by how far it lies from the
// major scale's: a lowered third, sixth or seventh is "b3" and Me, Le, Te.
TEST(NoteLabels, DegreesAndSyllablesFollowTheKeyType) {
    const std::array<const char*, 7> major{"Do", "Re", "Mi", "Fa", "Sol", "La", "Ti"};
    const std::array<const char*, 7> lowered{"", "", "Me", "", "", "Le", "Te"};
    clsSettings settings;
    for (int type = 0; type < 4; ++type) {
        settings.SetCurrentKeyType(type);
        settings.SetCurrentKey(4); // E: the labels do not depend on the key
        std::vector<std::string> degrees, syllables;
        for (int d = 0; d < 7; ++d) {
            const bool low = kDegreeSemitones[type][d] < kDegreeSemitones[0][d];
            degrees.push_back((low ? "b" : "") + std::to_string(d + 1));
            syllables.push_back(low ? lowered[d] : major[d]);
        }
        settings.SetNoteDisplayMode(1);
        EXPECT_EQ(settings.NotesArray, degrees) << "key type " << type;
        settings.SetNoteDisplayMode(2);
        EXPECT_EQ(settings.NotesArray, syllables) << "key type " << type;
        settings.SetNoteDisplayMode(0);
        EXPECT_EQ(settings.NotesArray, settings.Scale(type, 4).Notes) << "key type " << type;
    }
}
