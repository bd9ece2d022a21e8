#include "engine_fixture.h"
#include "startup/AppError.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <set>
#include <string>
#include <tuple>

using namespace sonavel;
using namespace sonavel::testing;

namespace {

// Semitones of degrees 0..6: major, natural, harmonic and melodic minor.
const std::array<std::array<int, 7>, 4> kScales{{{0, 2, 4, 5, 7, 9, 11},
                                                 {0, 2, 3, 5, 7, 8, 10},
                                                 {0, 2, 3, 5, 7, 8, 11},
                                                 {0, 2, 3, 5, 7, 9, 11}}};

int DegreeOf(int keyType, int semitone) {
    const int pc = ((semitone % 12) + 12) % 12;
    const auto& scale = kScales[keyType];
    const auto it = std::find(scale.begin(), scale.end(), pc);
    return it == scale.end() ? -1 : int(it - scale.begin());
}

// (first degree, second degree, first MIDI note, second MIDI note)
using Outcome = std::tuple<int, int, int, int>;

// Every question of one type and interval, from the scale alone: the first
// note on any degree of the octave at 72 + root, the second the interval away
// and also in the scale. Ordered by the first note, as the engine lists them.
std::vector<Outcome> PossibleOutcomes(int keyType, int type, int interval, int root) {
    const int step = type == 1 ? -interval : interval;
    std::vector<Outcome> out;
    for (int first = 0; first < 12; ++first) {
        const int d1 = DegreeOf(keyType, first);
        const int d2 = DegreeOf(keyType, first + step);
        if (d1 >= 0 && d2 >= 0)
            out.emplace_back(d1, d2, 72 + root + first, 72 + root + first + step);
    }
    return out;
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

TEST_F(EngineGenerator, ProducesExactlyTheNotesTheScaleAllows) {
    int combination = 0;
    for (int keyType = 0; keyType < 4; ++keyType) {
        for (int type = 0; type < 3; ++type) {
            for (int interval = 0; interval <= 12; ++interval, ++combination) {
                // Walk the keys along so that every root is covered.
                const int16_t key = int16_t(combination % 13);
                settings.SetCurrentKey(key);
                settings.SetCurrentKeyType(keyType);
                TickOnly(type, {interval});
                const auto possible =
                    PossibleOutcomes(keyType, type, interval, settings.CurrentKeyMIDIRoot);
                SCOPED_TRACE("key " + std::to_string(key) + ", key type " +
                             std::to_string(keyType) + ", type " + std::to_string(type) +
                             ", interval " + std::to_string(interval));
                ASSERT_FALSE(possible.empty());

                // At most seven equally likely candidates: 200 draws miss one
                // with a chance below 1e-13.
                std::set<Outcome> seen;
                for (int draw = 0; draw < 200; ++draw) {
                    seen.insert(Ask());
                    ASSERT_EQ(engine.CurrentIntervalType(), type);
                    ASSERT_EQ(engine.CurrentInterval(), interval);
                }
                EXPECT_EQ(seen, std::set<Outcome>(possible.begin(), possible.end()));
            }
        }
    }
}

// Chi-square statistic of observed counts against expected probabilities.
double ChiSquare(const std::vector<int>& observed, const std::vector<double>& p) {
    int total = 0;
    for (int o : observed)
        total += o;
    double chi = 0;
    for (size_t i = 0; i < observed.size(); ++i) {
        const double e = total * p[i];
        chi += (observed[i] - e) * (observed[i] - e) / e;
    }
    return chi;
}

// Upper 0.1 % points of the chi-square distribution by degrees of freedom.
double Critical001(size_t df) {
    static const double table[] = {0,     10.83, 13.82, 16.27, 18.47, 20.52, 22.46, 24.32,
                                   26.12, 27.88, 29.59, 31.26, 32.91, 34.53, 36.12, 37.70};
    return table[df];
}

TEST_F(EngineGenerator, TypeFirstThenIntervalAllEquallyLikely) {
    struct Row {
        const char* Name;
        std::array<std::vector<int>, 3> Ticked;
    };
    // Types with very different numbers of intervals: drawing the interval
    // first would favour the crowded type.
    const Row rows[] = {
        {"one, three and twelve", {{{7}, {0, 5, 12}, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}}}},
        {"ascending two, harmonic all", {{{3, 4}, {}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}}}},
    };
    const int draws = 6000;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.Name);
        for (int i = 0; i < 13; ++i) {
            auto ticked = [&](int type) { return std::ranges::count(r.Ticked[type], i) > 0; };
            settings.SetAsc(i, ticked(0));
            settings.SetDesc(i, ticked(1));
            settings.SetHarm(i, ticked(2));
        }

        std::vector<std::pair<int, int>> categories;
        std::vector<double> typeP(3, 0.0), jointP;
        int activeTypes = 0;
        for (const auto& ticked : r.Ticked)
            activeTypes += ticked.empty() ? 0 : 1;
        for (int type = 0; type < 3; ++type) {
            for (int interval : r.Ticked[type]) {
                categories.push_back({type, interval});
                jointP.push_back(1.0 / activeTypes / double(r.Ticked[type].size()));
                typeP[type] += jointP.back();
            }
        }

        std::vector<int> joint(categories.size(), 0), types(3, 0);
        for (int n = 0; n < draws; ++n) {
            Ask();
            const auto it = std::find(
                categories.begin(), categories.end(),
                std::make_pair(int(engine.CurrentIntervalType()), int(engine.CurrentInterval())));
            ASSERT_NE(it, categories.end()) << "an interval that was not ticked";
            ++joint[it - categories.begin()];
            ++types[engine.CurrentIntervalType()];
        }

        std::vector<int> typeObserved;
        std::vector<double> typeExpected;
        for (int type = 0; type < 3; ++type) {
            if (typeP[type] > 0) {
                typeObserved.push_back(types[type]);
                typeExpected.push_back(typeP[type]);
            }
        }
        EXPECT_LT(ChiSquare(typeObserved, typeExpected), Critical001(typeObserved.size() - 1));
        EXPECT_LT(ChiSquare(joint, jointP), Critical001(joint.size() - 1));
    }
}

TEST_F(EngineGenerator, RandomSettingsAreDrawnInTheirOrderAndWrittenBack) {
    // With every choice random and all three types ticked, the engine must take
    // its numbers from the generator in this order: key, key type, reference,
    // both instruments, type, interval, note.
    settings.SetRandomKey(true);
    settings.SetRandomKeyType(true);
    settings.SetKeyReferenceSettings(1);
    settings.SetMIDIRandomInstrumentKR(true);
    settings.SetMIDIRandomInstrumentRN(true);
    for (int i = 0; i < 13; ++i) {
        settings.SetAsc(i, i == 4 || i == 9);
        settings.SetDesc(i, i == 2);
        settings.SetHarm(i, i == 7 || i == 11 || i == 12);
    }
    const std::vector<int> ticked[3] = {{4, 9}, {2}, {7, 11, 12}};

    for (uint32_t seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        SeedRandomNumbers(seed);
        Forget();
        engine.NewQuestion();

        SeedRandomNumbers(seed);
        const int key = GetRandomNumber(0, 12);
        const int keyType = GetRandomNumber(0, 3);
        const int reference = GetRandomNumber(0, 2);
        const int instrumentKR = GetRandomNumber(0, 90);
        const int instrumentRN = GetRandomNumber(0, 90);
        const int type = GetRandomNumber(1, 3) - 1;
        const auto& intervals = ticked[type];
        const int interval = intervals[GetRandomNumber(1, int16_t(intervals.size())) - 1];
        EXPECT_EQ(settings.CurrentKey(), key);
        EXPECT_EQ(settings.CurrentKeyType(), keyType);
        EXPECT_EQ(settings.CurrentKeyReference(), reference);
        EXPECT_EQ(settings.MIDIInstrumentKR(), instrumentKR);
        EXPECT_EQ(settings.MIDIInstrumentRN(), instrumentRN);
        ASSERT_EQ(engine.CurrentIntervalType(), type);
        ASSERT_EQ(engine.CurrentInterval(), interval);
        const auto possible =
            PossibleOutcomes(keyType, type, interval, settings.CurrentKeyMIDIRoot);
        const Outcome expected = possible.at(GetRandomNumber(0, int16_t(possible.size() - 1)));
        EXPECT_EQ(Outcome(engine.FirstNote(), engine.SecondNote(), engine.FirstMidiNote(),
                          engine.SecondMidiNote()),
                  expected);
        // The drawn key-reference instrument is the one selected before the chords.
        int keyReferenceProgram = -1;
        for (const auto& m : device.Messages) {
            if ((m.Status() & 0xF0) == 0x90)
                break;
            if ((m.Status() & 0xF0) == 0xC0)
                keyReferenceProgram = m.Data1();
        }
        EXPECT_EQ(keyReferenceProgram, instrumentKR);
    }
}

TEST_F(EngineGenerator, FixedSettingsAreLeftAlone) {
    settings.SetCurrentKey(7);
    settings.SetCurrentKeyType(2);
    settings.SetMIDIInstrumentKR(33);
    settings.SetMIDIInstrumentRN(44);
    for (int32_t keyReferenceSettings : {0, 2}) {
        settings.SetKeyReferenceSettings(keyReferenceSettings);
        settings.SetCurrentKeyReference(1);
        for (int n = 0; n < 50; ++n)
            Ask();
        EXPECT_EQ(settings.CurrentKey(), 7);
        EXPECT_EQ(settings.CurrentKeyType(), 2);
        EXPECT_EQ(settings.CurrentKeyReference(), 1);
        EXPECT_EQ(settings.MIDIInstrumentKR(), 33);
        EXPECT_EQ(settings.MIDIInstrumentRN(), 44);
    }
}

TEST(RandomNumber, CoversBothEndsUniformly) {
    SeedRandomNumbers(7);
    for (int n = 0; n < 1000; ++n)
        ASSERT_EQ(GetRandomNumber(5, 5), 5);

    struct Row {
        int16_t Lower, Upper;
    };
    for (const Row& r : {Row{0, 12}, Row{-3, 3}, Row{1, 2}, Row{0, 90}}) {
        SCOPED_TRACE(std::to_string(r.Lower) + ".." + std::to_string(r.Upper));
        const int values = r.Upper - r.Lower + 1;
        std::vector<int> counts(values, 0);
        const int draws = 1000 * values;
        for (int n = 0; n < draws; ++n) {
            const int v = GetRandomNumber(r.Lower, r.Upper);
            ASSERT_GE(v, r.Lower);
            ASSERT_LE(v, r.Upper);
            ++counts[v - r.Lower];
        }
        double chi = ChiSquare(counts, std::vector<double>(values, 1.0 / values));
        // Upper 0.1 % point for large df by the Wilson-Hilferty approximation.
        const double df = values - 1;
        const double z = 3.09;
        const double limit = df * std::pow(1 - 2 / (9 * df) + z * std::sqrt(2 / (9 * df)), 3);
        EXPECT_LT(chi, limit);
    }
}

TEST(RandomNumber, SameSeedSameSequence) {
    auto sequence = [](uint32_t seed) {
        SeedRandomNumbers(seed);
        std::vector<int> values;
        for (int n = 0; n < 50; ++n)
            values.push_back(GetRandomNumber(0, 1000));
        return values;
    };
    EXPECT_EQ(sequence(99), sequence(99));
    EXPECT_NE(sequence(99), sequence(100));
}

TEST(RandomNumber, FractionJustBelowOneNeverGivesUpperPlusOne) {
    const float largest = std::nextafter(1.0f, 0.0f);
    struct Row {
        int16_t Lower, Upper;
    };
    const Row rows[] = {{0, 12},      {1, 3},     {0, 90},     {16000, 16383},
                        {-32768, -2}, {0, 32766}, {-100, 100}, {30000, 32767}};
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(r.Lower) + ".." + std::to_string(r.Upper));
        EXPECT_EQ(ScaleRandomFraction(largest, r.Lower, r.Upper), r.Upper);
        EXPECT_EQ(ScaleRandomFraction(0.0f, r.Lower, r.Upper), r.Lower);
    }
    EXPECT_THROW(ScaleRandomFraction(0.5f, -32768, 32767), std::overflow_error);
    EXPECT_THROW(GetRandomNumber(-1, 32767), std::overflow_error);
}

} // namespace
