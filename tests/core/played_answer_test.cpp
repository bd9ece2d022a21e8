// Answers played on a keyboard: degrees by pitch class, the interval as played.
#include "engine/PlayedAnswer.h"

#include <gtest/gtest.h>

using namespace sonavel;

// Each step reads "F<degree>" (first note), "S<degree>:<interval>" (second) or "X" (not in the
// key).
TEST(PlayedAnswer, NamesDegreesByPitchClassAndTheIntervalAsPlayed) {
    const struct {
        const char* name;
        int16_t root;
        int32_t keyType;
        std::vector<int> notes;
        std::string steps;
    } cases[] = {
        {"a wide interval folds into an octave", 0, 0, {48, 79}, "F0 S4:7"},
        {"unison", 0, 0, {62, 62}, "F1 S1:0"},
        {"octave", 0, 0, {62, 74}, "F1 S1:12"},
        {"two octaves stay an octave", 0, 0, {60, 84}, "F0 S0:12"},
        {"descending", 0, 0, {72, 65}, "F0 S3:7"},
        {"a note outside the key keeps the pair", 0, 0, {60, 61, 64}, "F0 X S2:4"},
        {"a third note begins again", 0, 0, {60, 64, 67, 71}, "F0 S2:4 F4 S6:4"},
        {"leading tone of Bb harmonic minor", -2, 2, {57, 58}, "F6 S0:1"},
        {"not in Bb natural minor", -2, 1, {57, 56}, "X F6"},
    };
    for (const auto& c : cases) {
        PlayedAnswer pair;
        pair.Begin(c.root, c.keyType);
        std::string steps;
        for (int note : c.notes) {
            const PlayedAnswer::Step s = pair.Play(note);
            steps += std::string(steps.empty() ? "" : " ") + "FSX"[int(s.What)];
            if (s.What != PlayedAnswer::Kind::NotInKey)
                steps += std::to_string(s.Degree);
            if (s.What == PlayedAnswer::Kind::Second)
                steps += ":" + std::to_string(s.Interval);
        }
        EXPECT_EQ(steps, c.steps) << c.name;
    }
    EXPECT_EQ(PlayedAnswer::NoteName(61, true) + PlayedAnswer::NoteName(61, false), "DbC#");
}
