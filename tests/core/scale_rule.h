#pragma once

// Music theory worked out from first principles, to check the catalogue of the
// program against: letters, semitone steps and accidentals.

#include <array>
#include <numeric>
#include <stdexcept>
#include <string>
#include <vector>

namespace sonavel::scaletest {

struct KeyTypeRule {
    const char* Label;        // for test names
    std::array<int, 7> Steps; // semitones from each degree to the next, degree 1 to 8
};

// Index = key type.
inline const std::array<KeyTypeRule, 4> kKeyTypes{{
    {"Major", {2, 2, 1, 2, 2, 2, 1}},
    {"NaturalMinor", {2, 1, 2, 2, 1, 2, 2}},
    {"HarmonicMinor", {2, 1, 2, 2, 1, 3, 1}},
    {"MelodicMinor", {2, 1, 2, 2, 2, 2, 1}},
}};

// Index = key index.
inline const std::array<const char*, 13> kRoots{"C", "G",  "D",  "A",  "E",  "B", "F#",
                                                "F", "Bb", "Eb", "Ab", "Db", "Gb"};

inline const std::string kLetters = "CDEFGAB";
inline constexpr std::array<int, 7> kNaturalPitch{0, 2, 4, 5, 7, 9, 11};

inline int LetterIndex(const std::string& note) {
    const auto i = kLetters.find(note.at(0));
    if (i == std::string::npos)
        throw std::invalid_argument("not a note: " + note);
    return static_cast<int>(i);
}

// Pitch class 0..11 of a spelled note ("E#" 5, "Cb" 11, "Bbb" 9).
inline int PitchClass(const std::string& note) {
    int pitch = kNaturalPitch[LetterIndex(note)];
    for (char c : note.substr(1))
        pitch += c == '#' ? 1 : c == 'b' ? -1 : throw std::invalid_argument(note);
    return ((pitch % 12) + 12) % 12;
}

// Semitones above the root of degrees 1..7.
inline std::array<int, 7> DegreeOffsets(const std::array<int, 7>& steps) {
    std::array<int, 7> offsets{};
    for (int d = 1; d < 7; ++d)
        offsets[d] = offsets[d - 1] + steps[d - 1];
    return offsets;
}

// Seven consecutive letters from the root's, each with the accidental that puts
// it at the pattern's distance from the root.
inline std::vector<std::string> SpellScale(const std::string& root,
                                           const std::array<int, 7>& steps) {
    const int rootLetter = LetterIndex(root);
    const int rootPitch = PitchClass(root);
    const auto offsets = DegreeOffsets(steps);
    std::vector<std::string> notes;
    for (int d = 0; d < 7; ++d) {
        const int letter = (rootLetter + d) % 7;
        const int target = (rootPitch + offsets[d]) % 12;
        // The accidental's size in semitones, taken in -6..5.
        const int shift = ((target - kNaturalPitch[letter]) % 12 + 12 + 6) % 12 - 6;
        std::string accidental = shift > 0 ? std::string(shift, '#') : std::string(-shift, 'b');
        notes.push_back(kLetters[letter] + accidental);
    }
    return notes;
}

// One key of one key type; the 52 of them name parameterised tests.
struct KeyCase {
    int KeyType;
    int KeyIndex;
};

inline std::vector<KeyCase> AllKeys() {
    std::vector<KeyCase> cases;
    for (int type = 0; type < 4; ++type)
        for (int key = 0; key < 13; ++key)
            cases.push_back({type, key});
    return cases;
}

template <class Info> std::string KeyName(const Info& info) {
    std::string root = kRoots[info.param.KeyIndex];
    if (root.size() == 2 && root[1] == '#')
        root[1] = 's';
    return std::string(kKeyTypes[info.param.KeyType].Label) + "_" + root;
}

} // namespace sonavel::scaletest
