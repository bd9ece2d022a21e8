#include "engine/PlayedAnswer.h"

#include "engine/clsEngine.h"

#include <cstdlib>

namespace sonavel {

void PlayedAnswer::Begin(int16_t keyRoot, int32_t keyType) {
    m_root = keyRoot;
    m_keyType = keyType;
    m_first.reset();
}

PlayedAnswer::Step PlayedAnswer::Play(int note) {
    const int pitchClass = ((note - m_root) % 12 + 12) % 12;
    Step step;
    for (int16_t degree = 0; degree < 7; ++degree)
        if (clsEngine::ScaleSemitone(m_keyType, degree) == pitchClass)
            step.Degree = degree;
    if (step.Degree < 0)
        return step;
    if (!m_first) {
        m_first = note;
        step.What = Kind::First;
        return step;
    }
    // Wider than an octave folds down, but an octave stays one.
    int distance = std::abs(note - *m_first);
    while (distance > 12)
        distance -= 12;
    m_first.reset();
    step.What = Kind::Second;
    step.Interval = static_cast<int16_t>(distance);
    return step;
}

std::string PlayedAnswer::NoteName(int note, bool flats) {
    static const char* const sharpNames[12] = {"C",  "C#", "D",  "D#", "E",  "F",
                                               "F#", "G",  "G#", "A",  "A#", "B"};
    static const char* const flatNames[12] = {"C",  "Db", "D",  "Eb", "E",  "F",
                                              "Gb", "G",  "Ab", "A",  "Bb", "B"};
    const int pitchClass = (note % 12 + 12) % 12;
    return flats ? flatNames[pitchClass] : sharpNames[pitchClass];
}

} // namespace sonavel
