#include "TempDir.h"
#include "engine_fixture.h"
#include "history/HistoryDb.h"
#include "history/modDrillStore.h"
#include "scale_rule.h"

#include <cmath>

using namespace sonavel;
using namespace sonavel::testing;

struct Drill : EngineTest {
    Drill() { settings.SetKeyReferenceSettings(2), engine.Drill = &drill; }
    DrillItem Draw() {
        Ask();
        return {engine.CurrentIntervalType(), engine.CurrentInterval(), engine.FirstNote(),
                engine.SecondNote()};
    }
    clsDrill drill;
};

// Due after 3 others, then twice the last wait at each right answer, two in a row retire it.
TEST_F(Drill, AMissReturnsAfterThreeOthersGapsDoubleTwoRightsRetire) {
    Tick({{{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, {2, 5}, {}}});
    for (const bool noteMissed : {false, true}) {
        const DrillItem missed = Draw();
        drill.Answered(missed, false, noteMissed);
        for (const auto& [gap, right] : {std::pair(3, true), {6, false}, {3, true}, {12, true}}) {
            for (int other = 0; other < gap; ++other, drill.Answered(Draw(), true, false))
                ASSERT_EQ(drill.DueCount(), 0) << gap << " " << other;
            ASSERT_EQ(drill.DueCount(), 1) << gap;
            const DrillItem again = Draw(); // a missed interval comes back on any notes
            EXPECT_EQ(std::tuple(again.Type, again.Interval, again.FirstDegree * noteMissed),
                      std::tuple(missed.Type, missed.Interval, missed.FirstDegree * noteMissed));
            drill.Answered(again, right, noteMissed);
        }
        EXPECT_TRUE(drill.Entries.empty()) << noteMissed;
    }
}

// Random keys, due items not ticked or on degrees the key type lacks: only ticked intervals.
TEST_F(Drill, AsksOnlyWhatTheSettingsAllow) {
    settings.SetRandomKey(true), settings.SetRandomKeyType(true);
    const std::vector<std::pair<int, int>> ticked{{0, 2}, {0, 7}, {2, 6}, {2, 12}};
    Tick({{{2, 7}, {}, {6, 12}}});
    drill.Entries = {{{0, 5, -1, -1}, 3, 0, 0}, {{2, 6, 3, 6}, 3, 0, 0}, {{0, 2, 0, 5}, 3, 0, 0}};
    for (int n = 0; n < 10'000; ++n) {
        const DrillItem q = Draw();
        const auto& scale = kDegreeSemitones[settings.CurrentKeyType()];
        ASSERT_EQ(std::ranges::count(ticked, std::pair(q.Type, q.Interval)), 1) << n;
        const int step = q.Type == 1 ? 12 - q.Interval : q.Interval;
        ASSERT_EQ((scale[q.FirstDegree] + step) % 12, scale[q.SecondDegree]) << n;
        drill.Answered(q, n % 3 != 0, n % 2 == 0);
    }
}

// A version 1 history, a third missed half the time: asked far above a quarter; schedule kept.
TEST_F(Drill, FirstVersionHistoryWeighsTheDrawAndKeepsTheSchedule) {
    fakes::TempDir dir;
    const std::string path = (dir.Path / HistoryDb::FileName).string();
    {
        HistoryDb first; // as the first version leaves it: no schedule, version 1
        ASSERT_TRUE(first.Open(path));
        for (int n = 0; n < 80; ++n)
            first.Record({.Interval = 3 + n % 4,
                          .AnsweredFirst = {},
                          .AnsweredSecond = {},
                          .AnsweredInterval = 3 + n % 4 + (n % 8 == 0)});
        for (const char* sql : {"DROP TABLE drill", "PRAGMA user_version=1"})
            first.Query(sql, {}, nullptr);
    }
    HistoryDb db;
    ASSERT_TRUE(db.Open(path));
    LoadDrill(db, drill);
    Tick({{{3, 4, 5, 6}, {}, {}}});
    std::array<int, 13> counts{};
    for (int n = 0; n < 2000; ++n)
        ++counts[Draw().Interval];
    EXPECT_GT((counts[3] - 500) / std::sqrt(2000 * 0.25 * 0.75), 3.29);
    EXPECT_EQ(std::ranges::count(counts, 0), 9);
    clsDrill loaded;
    drill.Answered({2, 6, 3, 6}, false, true), drill.Answered({0, 4, 0, 2}, false, false);
    SaveDrill(db, drill), LoadDrill(db, loaded);
    EXPECT_EQ(loaded.Entries, drill.Entries);
    db.Clear(), LoadDrill(db, loaded);
    EXPECT_TRUE(loaded.Entries.empty());
}

// Switched on and off, the engine draws what one that never had a drill draws.
TEST_F(Drill, SwitchedOffDrawsExactlyAsWithout) {
    settings.SetRandomKey(true), settings.SetKeyReferenceSettings(1);
    Tick({{{1, 4, 9}, {3, 12}, {0, 7}}});
    Draw(), engine.Drill = nullptr;
    clsEngine never{device, clock};
    never.objSettings = &settings;
    std::vector<std::tuple<int, int, int, int>> draws[2];
    for (clsEngine* e : {&engine, &never})
        for (SeedRandomNumbers(99), e->NewQuestion(); draws[e == &never].size() < 300;
             e->NewQuestion())
            draws[e == &never].emplace_back(e->CurrentIntervalType(), e->CurrentInterval(),
                                            e->FirstMidiNote(), settings.CurrentKeyReference());
    EXPECT_EQ(draws[0], draws[1]);
}
