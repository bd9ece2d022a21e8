#pragma once

#include <array>
#include <string>

namespace sonavel::testing {

// Semitones above the root of degrees 1..7: major, natural, harmonic and melodic minor.
inline constexpr std::array<std::array<int, 7>, 4> kDegreeSemitones{{{0, 2, 4, 5, 7, 9, 11},
                                                                     {0, 2, 3, 5, 7, 8, 10},
                                                                     {0, 2, 3, 5, 7, 8, 11},
                                                                     {0, 2, 3, 5, 7, 9, 11}}};

} // namespace sonavel::testing
