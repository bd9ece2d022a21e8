#include "engine_fixture.h"
#include "scale_rule.h"
#include "startup/AppError.h"

#include <algorithm>
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
    const auto it = std::find(scale.begin(), scale.end(), (semitone + 12) % 12);
    return it == scale.end() ? -1 : int(it - scale.begin());
}

// Chi-square statistic of observed counts against expected probabilities.
double ChiSquare(const std::vector<int>& observed, const std::vector<double>& p) {
    double total = 0, chi = 0;
    for (int o : observed)
        total += o;
    for (std::size_t i = 0; i < observed.size(); ++i)
        chi += (observed[i] - total * p[i]) * (observed[i] - total * p[i]) / (total * p[i]);
    return chi;
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
    for (int keyType = 0; keyType < 4; ++keyType) {
        for (int type = 0; type < 3; ++type) {
            for (int interval = 0; interval <= 12; ++interval, ++combination) {
                settings.SetCurrentKey(int16_t(combination % 13)); // every root in turn
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
                EXPECT_EQ(seen, possible)
                    << "key type " << keyType << ", type " << type << ", interval " << interval;
                EXPECT_EQ(engine.CurrentIntervalType(), type);
                EXPECT_EQ(engine.CurrentInterval(), interval);
            }
        }
    }
}

// The type is drawn first: drawing among all ticked intervals would favour the crowded type.
TEST_F(EngineGenerator, TypeFirstThenIntervalAllEquallyLikely) {
    const std::array<std::vector<int>, 3> ticked{
        {{7}, {0, 5, 12}, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}}};
    for (int i = 0; i < 13; ++i) {
        settings.SetAsc(i, std::ranges::count(ticked[0], i) > 0);
        settings.SetDesc(i, std::ranges::count(ticked[1], i) > 0);
        settings.SetHarm(i, std::ranges::count(ticked[2], i) > 0);
    }
    std::vector<std::pair<int, int>> categories;
    std::vector<double> jointP;
    for (int type = 0; type < 3; ++type)
        for (int interval : ticked[type]) {
            categories.push_back({type, interval});
            jointP.push_back(1.0 / 3 / double(ticked[type].size()));
        }
    std::vector<int> joint(categories.size(), 0), types(3, 0);
    for (int n = 0; n < 6000; ++n) {
        Ask();
        const auto it =
            std::ranges::find(categories, std::make_pair(int(engine.CurrentIntervalType()),
                                                         int(engine.CurrentInterval())));
        ASSERT_NE(it, categories.end()) << "an interval that was not ticked";
        ++joint[it - categories.begin()];
        ++types[engine.CurrentIntervalType()];
    }
    // Upper 0.1 % points of chi-square with 2 and 15 degrees of freedom.
    EXPECT_LT(ChiSquare(types, {1.0 / 3, 1.0 / 3, 1.0 / 3}), 13.82);
    EXPECT_LT(ChiSquare(joint, jointP), 37.70);
}

// Fixed settings stay; random ones are drawn over their whole range and written back.
TEST_F(EngineGenerator, RandomSettingsCoverTheirRangesAndFixedOnesStay) {
    settings.SetCurrentKeyReference(1);
    settings.SetKeyReferenceSettings(0);
    settings.SetMIDIInstrumentKR(33);
    settings.SetMIDIInstrumentRN(44);
    for (int n = 0; n < 30; ++n)
        Ask();
    EXPECT_EQ(std::tuple(settings.CurrentKey(), settings.CurrentKeyType(),
                         settings.CurrentKeyReference(), settings.MIDIInstrumentKR(),
                         settings.MIDIInstrumentRN()),
              std::tuple(0, 0, 1, 33, 44));

    settings.SetRandomKey(true);
    settings.SetRandomKeyType(true);
    settings.SetKeyReferenceSettings(1);
    settings.SetMIDIRandomInstrumentKR(true);
    settings.SetMIDIRandomInstrumentRN(true);
    std::vector<std::set<int>> values(5);
    for (int n = 0; n < 2000; ++n) {
        Ask();
        for (int i = 0;
             const int v :
             {int(settings.CurrentKey()), settings.CurrentKeyType(), settings.CurrentKeyReference(),
              int(settings.MIDIInstrumentKR()), int(settings.MIDIInstrumentRN())})
            values[i++].insert(v);
    }
    const int highest[] = {12, 3, 2, 90, 90};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(std::pair(*values[i].begin(), *values[i].rbegin()), std::pair(0, highest[i]))
            << "setting " << i;
}

TEST(RandomNumber, CoversBothEndsAndRepeatsItsSequenceForASeed) {
    const float largest = std::nextafter(1.0f, 0.0f);
    for (const auto& [lower, upper] : std::vector<std::pair<int16_t, int16_t>>{
             {0, 12}, {16000, 16383}, {-32768, -2}, {30000, 32767}}) {
        EXPECT_EQ(ScaleRandomFraction(largest, lower, upper), upper) << lower << ".." << upper;
        EXPECT_EQ(ScaleRandomFraction(0.0f, lower, upper), lower) << lower << ".." << upper;
    }
    EXPECT_THROW(GetRandomNumber(-1, 32767), std::overflow_error);

    auto sequence = [](uint32_t seed) {
        SeedRandomNumbers(seed);
        std::vector<int> values;
        for (int n = 0; n < 20; ++n)
            values.push_back(GetRandomNumber(0, 1000));
        return values;
    };
    EXPECT_EQ(sequence(99), sequence(99));
    EXPECT_NE(sequence(99), sequence(100));
}

class EngineTiming : public EngineTest {};

// 60000 / tempo for a beat, ties to even; the note duration scales the tempo first.
TEST_F(EngineTiming, NoteLengthFollowsTempoAndDurationRoundingHalvesToEven) {
    struct Row {
        int16_t Tempo;
        int32_t Duration, Ms;
    };
    // 937.5 and 312.5 to the even neighbour; tempo / 2 and / 4 likewise (20.5, 21.5, 11.5).
    const Row rows[] = {{64, 1, 938},   {192, 1, 312},  {9, 1, 6667},  {100, 0, 300},
                        {100, 2, 1200}, {100, 3, 2400}, {41, 2, 3000}, {43, 2, 2727},
                        {46, 3, 5000},  {100, 4, 0},    {100, -1, 0}};
    for (const Row& r : rows) {
        settings.SetPlaybackSpeed(r.Tempo);
        settings.SetCurrentNoteDuration(r.Duration);
        EXPECT_EQ(engine.CalcNoteSpeed(), r.Ms) << r.Tempo << ", duration " << r.Duration;
    }
    // An effective tempo of 0 divides by zero; twice 16384 does not fit 16 bits.
    for (const auto& [tempo, duration, code] : {std::tuple{1, 3, 11}, std::tuple{16384, 0, 6}}) {
        clsErrorHandler handler;
        engine.SetErrorHandler(&handler);
        settings.SetPlaybackSpeed(int16_t(tempo));
        settings.SetCurrentNoteDuration(duration);
        EXPECT_THROW(engine.CalcNoteSpeed(), AppError);
        EXPECT_EQ(handler.ErrorDetails().rfind("Source: clsEngine::CalcNoteSpeed()\r\nCode  : " +
                                                   std::to_string(code) + "\r\n",
                                               0),
                  0u)
            << handler.ErrorDetails();
    }
    engine.SetErrorHandler(&err);
}

TEST_F(EngineTiming, PauseIsOneBeatAtThreeQuartersOfTheTempoAndNotesFit16Bits) {
    settings.SetKeyReferenceSettings(2);
    TickOnly(0, {5});
    for (const auto& [tempo, pauseMs] : {std::pair{100, 800}, {42, 1875}, {46, 1765}}) {
        Forget();
        settings.SetPlaybackSpeed(int16_t(tempo));
        const int64_t t0 = clock.NowMs();
        engine.NewQuestion();
        ASSERT_EQ(FeedbackCodes(), (std::vector<int32_t>{0, 5}));
        EXPECT_EQ(feedback[1].TimeMs - t0, pauseMs) << "tempo " << tempo; // 31.5 and 34.5
        EXPECT_EQ(device.Messages.back().TimeMs - feedback[1].TimeMs, 2 * engine.CalcNoteSpeed());
    }

    settings.SetCurrentNoteDuration(3);
    Forget();
    settings.SetPlaybackSpeed(10); // 2.5 rounds to 2: 30000 ms still fits
    engine.NewQuestion();
    EXPECT_EQ(device.Messages.back().TimeMs - feedback[1].TimeMs, 60000);
    Forget();
    settings.SetPlaybackSpeed(5); // 1.25 rounds to 1: 60000 ms does not
    EXPECT_THROW(engine.NewQuestion(), AppError);
    EXPECT_EQ(FeedbackCodes(), (std::vector<int32_t>{0, 5}));
    for (const auto& m : device.Messages)
        EXPECT_NE(m.Status() & 0xF0, 0x90) << "no note may start";
    EXPECT_EQ(err.ErrorDetails().rfind("Source: clsEngine::Play()\r\nCode  : 6\r\n", 0), 0u);
}

TEST(NoteBuffer, HoldsTwentyNotesAndDropsTheRest) {
    clsNoteBuffer buffer;
    for (int16_t n = 0; n < 21; ++n)
        buffer.AddNote(int16_t(40 + n));
    EXPECT_EQ(buffer.NoOfNotes, 20);
    EXPECT_EQ(buffer.Notes[19], 59);
    EXPECT_EQ(buffer.Notes[20], 0) << "the 21st note was dropped";
    buffer.ClearBuffer();
    buffer.AddNote(99);
    EXPECT_EQ(buffer.NoOfNotes, 1);
    EXPECT_EQ(buffer.Notes[0], 99);
}

} // namespace
