#include "music/modScaleTable.h"

namespace sonavel {

const std::array<std::array<ScaleRecord, kKeyCount>, kKeyTypeCount> kScaleRecords{{
    // major
    {{
        {"C", 0, 0, {"C", "D", "E", "F", "G", "A", "B"}},
        {"G", 7, 4, {"G", "A", "B", "C", "D", "E", "F#"}},
        {"D", 2, 1, {"D", "E", "F#", "G", "A", "B", "C#"}},
        {"A", 9, 5, {"A", "B", "C#", "D", "E", "F#", "G#"}},
        {"E", 4, 2, {"E", "F#", "G#", "A", "B", "C#", "D#"}},
        {"B", -1, 6, {"B", "C#", "D#", "E", "F#", "G#", "A#"}},
        {"F#", 6, 3, {"F#", "G#", "A#", "B", "C#", "D#", "E#"}},
        {"F", 5, 3, {"F", "G", "A", "Bb", "C", "D", "E"}},
        {"Bb", -2, 6, {"Bb", "C", "D", "Eb", "F", "G", "A"}},
        {"Eb", 3, 2, {"Eb", "F", "G", "Ab", "Bb", "C", "D"}},
        {"Ab", 8, 5, {"Ab", "Bb", "C", "Db", "Eb", "F", "G"}},
        {"Db", 1, 1, {"Db", "Eb", "F", "Gb", "Ab", "Bb", "C"}},
        {"Gb", 6, 4, {"Gb", "Ab", "Bb", "Cb", "Db", "Eb", "F"}},
    }},
    // natural minor
    {{
        {"C", 0, 0, {"C", "D", "Eb", "F", "G", "Ab", "Bb"}},
        {"G", 7, 4, {"G", "A", "Bb", "C", "D", "Eb", "F"}},
        {"D", 2, 1, {"D", "E", "F", "G", "A", "Bb", "C"}},
        {"A", 9, 5, {"A", "B", "C", "D", "E", "F", "G"}},
        {"E", 4, 2, {"E", "F#", "G", "A", "B", "C", "D"}},
        {"B", -1, 6, {"B", "C#", "D", "E", "F#", "G", "A"}},
        {"F#", 6, 3, {"F#", "G#", "A", "B", "C#", "D", "E"}},
        {"F", 5, 3, {"F", "G", "Ab", "Bb", "C", "Db", "Eb"}},
        {"Bb", -2, 6, {"Bb", "C", "Db", "Eb", "F", "Gb", "Ab"}},
        {"Eb", 3, 2, {"Eb", "F", "Gb", "Ab", "Bb", "Cb", "Db"}},
        {"Ab", 8, 5, {"Ab", "Bb", "Cb", "Db", "Eb", "Fb", "Gb"}},
        {"Db", 1, 1, {"Db", "Eb", "Fb", "Gb", "Ab", "Bbb", "Cb"}},
        {"Gb", 6, 4, {"Gb", "Ab", "Bbb", "Cb", "Db", "Ebb", "Fb"}},
    }},
    // harmonic minor
    {{
        {"C", 0, 0, {"C", "D", "Eb", "F", "G", "Ab", "B"}},
        {"G", 7, 4, {"G", "A", "Bb", "C", "D", "Eb", "F#"}},
        {"D", 2, 1, {"D", "E", "F", "G", "A", "Bb", "C#"}},
        {"A", 9, 5, {"A", "B", "C", "D", "E", "F", "G#"}},
        {"E", 4, 2, {"E", "F#", "G", "A", "B", "C", "D#"}},
        {"B", -1, 6, {"B", "C#", "D", "E", "F#", "G", "A#"}},
        {"F#", 6, 3, {"F#", "G#", "A", "B", "C#", "D", "E#"}},
        {"F", 5, 3, {"F", "G", "Ab", "Bb", "C", "Db", "E"}},
        {"Bb", -2, 6, {"Bb", "C", "Db", "Eb", "F", "Gb", "A"}},
        {"Eb", 3, 2, {"Eb", "F", "Gb", "Ab", "Bb", "Cb", "D"}},
        {"Ab", 8, 5, {"Ab", "Bb", "Cb", "Db", "Eb", "Fb", "G"}},
        {"Db", 1, 1, {"Db", "Eb", "Fb", "Gb", "Ab", "Bbb", "C"}},
        {"Gb", 6, 4, {"Gb", "Ab", "Bbb", "Cb", "Db", "Ebb", "F"}},
    }},
    // melodic minor
    {{
        {"C", 0, 0, {"C", "D", "Eb", "F", "G", "A", "B"}},
        {"G", 7, 4, {"G", "A", "Bb", "C", "D", "E", "F#"}},
        {"D", 2, 1, {"D", "E", "F", "G", "A", "B", "C#"}},
        {"A", 9, 5, {"A", "B", "C", "D", "E", "F#", "G#"}},
        {"E", 4, 2, {"E", "F#", "G", "A", "B", "C#", "D#"}},
        {"B", -1, 6, {"B", "C#", "D", "E", "F#", "G#", "A#"}},
        {"F#", 6, 3, {"F#", "G#", "A", "B", "C#", "D#", "E#"}},
        {"F", 5, 3, {"F", "G", "Ab", "Bb", "C", "D", "E"}},
        {"Bb", -2, 6, {"Bb", "C", "Db", "Eb", "F", "G", "A"}},
        {"Eb", 3, 2, {"Eb", "F", "Gb", "Ab", "Bb", "C", "D"}},
        {"Ab", 8, 5, {"Ab", "Bb", "Cb", "Db", "Eb", "F", "G"}},
        {"Db", 1, 1, {"Db", "Eb", "Fb", "Gb", "Ab", "Bb", "C"}},
        {"Gb", 6, 4, {"Gb", "Ab", "Bbb", "Cb", "Db", "Eb", "F"}},
    }},
}};

const std::array<std::array<const char*, 7>, kKeyTypeCount> kDegreeLabels{{
    {"1", "2", "3", "4", "5", "6", "7"},
    {"1", "2", "b3", "4", "5", "b6", "b7"},
    {"1", "2", "b3", "4", "5", "b6", "7"},
    {"1", "2", "b3", "4", "5", "6", "7"},
}};

std::string CatalogueKeyFor(const std::string& name, int keyType) {
    static const std::array<const char*, kKeyTypeCount> suffixes{"MAJ", "MIN", "HMIN", "MMIN"};
    std::string key;
    for (char c : name)
        key += c == '#' ? 's' : c;
    while (key.size() < 2)
        key += '_';
    return key + suffixes.at(keyType);
}

} // namespace sonavel
