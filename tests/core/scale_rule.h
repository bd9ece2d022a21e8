#pragma once

#include <array>
#include <string>

namespace sonavel::testing {

// Semitones above the root of degrees 1..7: major, natural, harmonic and melodic minor.
inline constexpr std::array<std::array<int, 7>, 4> kDegreeSemitones{{{0, 2, 4, 5, 7, 9, 11},
                                                                     {0, 2, 3, 5, 7, 8, 10},
                                                                     {0, 2, 3, 5, 7, 8, 11},
                                                                     {0, 2, 3, 5, 7, 9, 11}}};

// The roots by key index.
inline const std::array<std::string, 13> kRoots{"C", "G",  "D",  "A",  "E",  "B", "F#",
                                                "F", "Bb", "Eb", "Ab", "Db", "Gb"};

inline const std::string kLetters = "CDEFGAB";

// Pitch class 0..11 of a spelled note ("E#" 5, "Cb" 11, "Bbb" 9).
inline int PitchClass(const std::string& note) {
    constexpr int natural[] = {0, 2, 4, 5, 7, 9, 11};
    int pitch = natural[kLetters.find(note.at(0))];
    for (char c : note.substr(1))
        pitch += c == '#' ? 1 : -1;
    return (pitch + 24) % 12;
}

} // namespace sonavel::testing
