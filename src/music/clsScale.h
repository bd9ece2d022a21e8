#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sonavel {

// One scale of one key: the root and the seven spelled notes, degree 1 first.
struct clsScale {
    std::string Name;                 // root name as spelled: "C", "F#", "Bb"
    int16_t RootMidiNo = 0;           // semitones above C, -2..9 (B -1, Bb -2)
    int16_t RootOffset = 0;           // letter index of the root, C 0 .. B 6
    std::vector<std::string> Formula; // accidental per degree: "1", "#", "b", "bb"
    std::vector<std::string> Notes;   // note names of degrees 1..7
};

} // namespace sonavel
