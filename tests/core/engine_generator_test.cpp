#include "engine_fixture.h"
#include "scale_rule.h"

#include <cmath>
#include <map>
#include <set>
#include <tuple>

using namespace sonavel;
using namespace sonavel::testing;

namespace {

int DegreeOf(int keyType, int semitone) {
    const auto& scale = kDegreeSemitones[keyType];
    const auto it = std::ranges::find(scale, (semitone + 12) % 12);
    return it == scale.end() ? -1 : int(it - scale.begin());
}

class EngineGenerator : public EngineTest {
protected:
    EngineGenerator() { settings.SetKeyReferenceSettings(2); }
};

// The first note on any degree of the octave at 72 + root, the second the interval away and
// also in the scale: every such question comes up, and no other.
TEST_F(EngineGenerator, ProducesExactlyTheNotesTheScaleAllows) {
    using Outcome = std::tuple<int, int, int, int>; // degrees, then MIDI notes
    int combination = 0;
    for (int keyType = 0; keyType < 4; ++keyType)
        for (int type = 0; type < 3; ++type)
            for (int interval = 0; interval <= 12; ++interval, ++combination) {
                settings.SetCurrentKey(int16_t(combination % 13));
                settings.SetCurrentKeyType(keyType);
                std::array<std::vector<int>, 3> ticked;
                ticked[type] = {interval};
                Tick(ticked);
                const int step = type == 1 ? -interval : interval;
                const int root = 72 + settings.CurrentKeyMIDIRoot;
                std::set<Outcome> possible, seen;
                for (int first = 0; first < 12; ++first)
                    if (DegreeOf(keyType, first) >= 0 && DegreeOf(keyType, first + step) >= 0)
                        possible.emplace(DegreeOf(keyType, first), DegreeOf(keyType, first + step),
                                         root + first, root + first + step);
                // At most seven equally likely: 200 draws miss one with a chance below 1e-13.
                for (int draw = 0; draw < 200; ++draw) {
                    Ask();
                    seen.emplace(engine.FirstNote(), engine.SecondNote(), engine.FirstMidiNote(),
                                 engine.SecondMidiNote());
                }
                EXPECT_EQ(seen, possible) << keyType << " " << type << " " << interval;
                EXPECT_EQ(std::pair(engine.CurrentIntervalType(), int(engine.CurrentInterval())),
                          std::pair(type, interval));
            }
}

// The type is drawn first, then the interval among that type's ticked ones: drawing among
// all ticked intervals would favour the crowded type.
TEST_F(EngineGenerator, TypeFirstThenIntervalAllEquallyLikely) {
    const std::array<std::vector<int>, 3> ticked{{{7}, {0, 5, 12}, {1, 2, 3, 4, 5, 6, 7, 8}}};
    Tick(ticked);
    std::map<std::pair<int, int>, int> counts;
    const int draws = 6000;
    for (int n = 0; n < draws; ++n) {
        Ask();
        ++counts[{engine.CurrentIntervalType(), engine.CurrentInterval()}];
    }
    // Chi-square over the 12 ticked pairs; 31.26 is its upper 0.1 % point for 11 degrees.
    double chi = 0;
    for (int type = 0; type < 3; ++type)
        for (int interval : ticked[type]) {
            const double e = draws / 3.0 / double(ticked[type].size());
            chi += std::pow(counts[{type, interval}] - e, 2) / e;
        }
    EXPECT_EQ(counts.size(), 12u) << "an interval that was not ticked came up";
    EXPECT_LT(chi, 31.26);
}

// 60000 / tempo for a beat, ties to even, the note duration scaling the tempo first.
TEST_F(EngineGenerator, NoteLengthFollowsTheTempoRoundingHalvesToEven) {
    for (const auto& [tempo, duration, ms] : std::vector<std::tuple<int16_t, int32_t, int32_t>>{
             {64, 1, 938}, {192, 1, 312}, {100, 0, 300}, {100, 3, 2400}, {100, 4, 0}}) {
        settings.SetPlaybackSpeed(tempo);
        settings.SetCurrentNoteDuration(duration);
        EXPECT_EQ(engine.CalcNoteSpeed(), ms) << tempo << ", duration " << duration;
    }
}

TEST(NoteBuffer, HoldsTwentyNotesAndDropsTheRest) {
    clsNoteBuffer buffer;
    for (int16_t n = 0; n < 21; ++n)
        buffer.AddNote(int16_t(40 + n));
    EXPECT_EQ(buffer.NoOfNotes, 20);
    EXPECT_EQ(buffer.Notes[20], 0) << "the 21st note was dropped";
}

} // namespace
