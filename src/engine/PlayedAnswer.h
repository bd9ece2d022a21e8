#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace sonavel {

// The answer a student plays on a MIDI keyboard: the first note played names
// the first note's scale degree, the second the second's, and the distance
// between them the interval. Degrees go by pitch class, so any octave will do;
// the interval is what was played, so a unison and an octave differ.
class PlayedAnswer {
public:
    enum class Kind { First, Second, NotInKey };
    struct Step {
        Kind What = Kind::NotInKey;
        int16_t Degree = -1;   // 0..6, the row of the note lists
        int16_t Interval = -1; // Second only: 0..12 semitones, the row of the interval list
    };

    // keyRoot: semitones of the key's root above C (the settings'
    // CurrentKeyMIDIRoot); keyType 0..3. Forgets a pair begun before.
    void Begin(int16_t keyRoot, int32_t keyType);
    // A note outside the scale is told and leaves the pair as it was; a note
    // after a whole pair begins the next one.
    Step Play(int note);

    // "C", "F#" or "Gb": the note's pitch class, with flats when asked.
    static std::string NoteName(int note, bool flats);

private:
    int16_t m_root = 0;
    int32_t m_keyType = 0;
    std::optional<int> m_first;
};

} // namespace sonavel
