#include "engine_fixture.h"
#include "scale_rule.h"
#include "startup/AppError.h"

#include <cmath>
#include <set>
#include <tuple>

using namespace sonavel;
using namespace sonavel::testing;

namespace {

// (first degree, second degree, first MIDI note, second MIDI note)
using Outcome = std::tuple<int, int, int, int>;

int DegreeOf(int keyType, int semitone) {
    const auto& scale = kDegreeSemitones[keyType];
    const auto it = std::ranges::find(scale, (semitone + 12) % 12);
    return it == scale.end() ? -1 : int(it - scale.begin());
}

class EngineGenerator : public EngineTest {
protected:
    EngineGenerator() { settings.SetKeyReferenceSettings(2); }
    Outcome Ask() {
        Forget();
        engine.NewQuestion();
        return {engine.FirstNote(), engine.SecondNote(), engine.FirstMidiNote(),
                engine.SecondMidiNote()};
    }
};

// The first note on any degree of the octave at 72 + root, the second the interval away and
// also in the scale: every such question comes up, and no other.
TEST_F(EngineGenerator, ProducesExactlyTheNotesTheScaleAllows) {
    int combination = 0;
    for (int keyType = 0; keyType < 4; ++keyType)
        for (int type = 0; type < 3; ++type)
            for (int interval = 0; interval <= 12; ++interval, ++combination) {
                settings.SetCurrentKey(int16_t(combination % 13));
                settings.SetCurrentKeyType(keyType);
                TickOnly(type, {interval});
                const int step = type == 1 ? -interval : interval;
                const int root = 72 + settings.CurrentKeyMIDIRoot;
                std::set<Outcome> possible, seen;
                for (int first = 0; first < 12; ++first)
                    if (DegreeOf(keyType, first) >= 0 && DegreeOf(keyType, first + step) >= 0)
                        possible.emplace(DegreeOf(keyType, first), DegreeOf(keyType, first + step),
                                         root + first, root + first + step);
                // At most seven equally likely: 200 draws miss one with a chance below 1e-13.
                for (int draw = 0; draw < 200; ++draw)
                    seen.insert(Ask());
                EXPECT_EQ(seen, possible) << keyType << " " << type << " " << interval;
                EXPECT_EQ(engine.CurrentIntervalType(), type);
                EXPECT_EQ(engine.CurrentInterval(), interval);
            }
}

// The type is drawn first, then the interval among that type's ticked ones: drawing among
// all ticked intervals would favour the crowded type. Random settings cover their whole range.
TEST_F(EngineGenerator, TypeFirstThenIntervalAllEquallyLikely) {
    const std::array<std::vector<int>, 3> ticked{{{7}, {0, 5, 12}, {1, 2, 3, 4, 5, 6, 7, 8}}};
    for (int i = 0; i < 13; ++i) {
        settings.SetAsc(i, std::ranges::count(ticked[0], i) > 0);
        settings.SetDesc(i, std::ranges::count(ticked[1], i) > 0);
        settings.SetHarm(i, std::ranges::count(ticked[2], i) > 0);
    }
    settings.SetRandomKey(true);
    settings.SetRandomKeyType(true);
    settings.SetKeyReferenceSettings(1);
    settings.SetMIDIRandomInstrumentKR(true);
    settings.SetMIDIRandomInstrumentRN(true);
    std::map<std::pair<int, int>, int> counts;
    std::vector<std::set<int>> values(5);
    const int draws = 6000;
    for (int n = 0; n < draws; ++n) {
        Ask();
        ++counts[{engine.CurrentIntervalType(), engine.CurrentInterval()}];
        for (int i = 0;
             const int v :
             {int(settings.CurrentKey()), settings.CurrentKeyType(), settings.CurrentKeyReference(),
              int(settings.MIDIInstrumentKR()), int(settings.MIDIInstrumentRN())})
            values[i++].insert(v);
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
    const int highest[] = {12, 3, 2, 90, 90};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(std::pair(*values[i].begin(), *values[i].rbegin()), std::pair(0, highest[i]))
            << "random setting " << i;
}

TEST(RandomNumber, CoversBothEnds) {
    for (const auto& [lower, upper] :
         std::vector<std::pair<int16_t, int16_t>>{{0, 12}, {-32768, -2}, {30000, 32767}}) {
        EXPECT_EQ(ScaleRandomFraction(std::nextafter(1.0f, 0.0f), lower, upper), upper);
        EXPECT_EQ(ScaleRandomFraction(0.0f, lower, upper), lower);
    }
}

// 60000 / tempo for a beat, ties to even; the note duration scales the tempo first; the pause
// is one beat at three quarters of the tempo; a note longer than 32767 ms is an overflow.
TEST_F(EngineGenerator, NoteLengthAndPauseFollowTheTempoRoundingHalvesToEven) {
    struct Row {
        int16_t Tempo;
        int32_t Duration, Ms;
    };
    const Row rows[] = {{64, 1, 938},  {192, 1, 312}, {100, 0, 300}, {100, 3, 2400},
                        {41, 2, 3000}, {43, 2, 2727}, {46, 3, 5000}, {100, 4, 0}};
    for (const Row& r : rows) {
        settings.SetPlaybackSpeed(r.Tempo);
        settings.SetCurrentNoteDuration(r.Duration);
        EXPECT_EQ(engine.CalcNoteSpeed(), r.Ms) << r.Tempo << ", duration " << r.Duration;
    }
    settings.SetCurrentNoteDuration(1);
    TickOnly(0, {5});
    for (const auto& [tempo, pauseMs] : {std::pair{100, 800}, {42, 1875}, {46, 1765}}) {
        settings.SetPlaybackSpeed(int16_t(tempo));
        const int64_t t0 = clock.NowMs();
        Ask();
        ASSERT_EQ(Codes(), (std::vector<uint32_t>{0, 5}));
        EXPECT_EQ(feedback[1].TimeMs - t0, pauseMs) << tempo; // 31.5 and 34.5 beats a minute
        EXPECT_EQ(device.Messages.back().TimeMs - feedback[1].TimeMs, 2 * engine.CalcNoteSpeed());
    }
    settings.SetCurrentNoteDuration(3);
    settings.SetPlaybackSpeed(5); // 1.25 rounds to 1: 60000 ms
    EXPECT_THROW(Ask(), AppError);
    for (const auto& m : device.Messages)
        EXPECT_NE(m.Status() & 0xF0, 0x90) << "no note may start";
}

TEST(NoteBuffer, HoldsTwentyNotesAndDropsTheRest) {
    clsNoteBuffer buffer;
    for (int16_t n = 0; n < 21; ++n)
        buffer.AddNote(int16_t(40 + n));
    EXPECT_EQ(buffer.NoOfNotes, 20);
    EXPECT_EQ(buffer.Notes[20], 0) << "the 21st note was dropped";
}

} // namespace
