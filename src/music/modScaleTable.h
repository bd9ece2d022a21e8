#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace sonavel {

// One row of the scale catalogue as the program ships it. The accidental of
// each degree (clsScale::Formula) is the part of the note name after its letter.
struct ScaleRecord {
    const char* Name;
    int16_t RootMidiNo;
    int16_t RootOffset;
    std::array<const char*, 7> Notes;
};

inline constexpr int kKeyCount = 13;
inline constexpr int kKeyTypeCount = 4;

// The 52 scales: [key type][key index], key types major, natural minor,
// harmonic minor, melodic minor; keys C G D A E B F# F Bb Eb Ab Db Gb.
extern const std::array<std::array<ScaleRecord, kKeyCount>, kKeyTypeCount> kScaleRecords;

// Scale-degree labels of each key type, degree 1 first ("1", "2", "b3", ...).
extern const std::array<std::array<const char*, 7>, kKeyTypeCount> kDegreeLabels;

// The key a scale is stored under in the catalogue: the root name with "#"
// spelled "s", padded with "_" to two characters, then the key type's suffix
// ("C_MAJ", "FsMIN", "BbHMIN", "GbMMIN"). keyType must be 0..3.
std::string CatalogueKeyFor(const std::string& name, int keyType);

} // namespace sonavel
