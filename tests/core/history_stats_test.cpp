// The Statistics window's figures against a count of our own over a generated
// history, in a time zone three hours east of UTC so that local days differ
// from UTC days.
#include "CsvReader.h"
#include "ScopedEnv.h"
#include "TempDir.h"
#include "history/HistoryDb.h"
#include "history/HistoryStats.h"

#include <gtest/gtest.h>
#include <random>
#include <sstream>

using namespace sonavel;

namespace {
constexpr int64_t Hour = 3'600'000, Day = 24 * Hour;
int64_t LocalDay(int64_t ms) { // days since 1970 at UTC+3
    return (ms + 3 * Hour) / Day;
}
} // namespace

TEST(HistoryStats, CountsEachPeriodAsALoopOverTheQuestionsWould) {
    fakes::ScopedEnv zone("TZ", "<+03>-3");
    tzset();
    fakes::TempDir dir;
    HistoryDb db;
    ASSERT_TRUE(db.Open((dir.Path / HistoryDb::FileName).string()));
    const int64_t now = 1'773'095'400'000; // 2026-03-10 01:30 local, still the 9th in UTC
    const int64_t midnight = LocalDay(now) * Day - 3 * Hour;
    std::vector<AnswerRecord> records;
    std::mt19937 random(15);
    auto pick = [&](int n) { return int32_t(random() % unsigned(n)); };
    for (int i = 0; i < 600; ++i) {
        AnswerRecord r;
        const int64_t edges[] = {midnight - 1, midnight, midnight - 6 * Day - 1,
                                 midnight - 6 * Day};
        r.AskedAtMs = i < 4 ? edges[i] : now - int64_t(random() % uint64_t(45 * Day));
        r.KeyType = pick(4), r.IntervalType = pick(3), r.Interval = pick(13);
        r.FirstDegree = pick(7), r.SecondDegree = pick(7), r.CheatMode = pick(6);
        auto answer = [&](int32_t right, int n) { return pick(3) ? right : pick(n); };
        if (r.CheatMode != 0 && r.CheatMode != 2)
            r.AnsweredFirst = answer(r.FirstDegree, 7);
        if (r.CheatMode != 1 && r.CheatMode != 2)
            r.AnsweredSecond = answer(r.SecondDegree, 7);
        if (r.CheatMode != 3)
            r.AnsweredInterval = answer(r.Interval, 13);
        db.Record(r);
        records.push_back(r);
    }
    const HistoryStats stats(db);
    const std::pair<HistoryStats::Period, int64_t> periods[] = {
        {HistoryStats::Session, now - Hour},
        {HistoryStats::Today, midnight},
        {HistoryStats::LastWeek, midnight - 6 * Day},
        {HistoryStats::AllTime, 0}};
    for (const auto& [period, start] : periods) {
        SCOPED_TRACE(period);
        const int64_t since = HistoryStats::PeriodStartMs(period, now, now - Hour);
        if (period != HistoryStats::AllTime)
            EXPECT_EQ(since, start);
        Tally overall;
        std::map<std::pair<int, int>, Tally> intervals;
        std::map<std::pair<int, int>, int64_t> confusion;
        std::map<int, Tally> degrees, keyTypes;
        auto add = [](Tally& t, bool right) { ++t.Count, t.Right += right; };
        for (const AnswerRecord& r : records) {
            if (r.AskedAtMs < start)
                continue;
            add(overall, r.FirstRight() && r.SecondRight() && r.IntervalRight());
            if (r.AnsweredInterval) {
                add(intervals[{r.IntervalType, r.Interval}], r.IntervalRight());
                ++confusion[{r.Interval, *r.AnsweredInterval}];
            }
            for (const auto& [answer, degree] :
                 {std::pair(r.AnsweredFirst, r.FirstDegree), {r.AnsweredSecond, r.SecondDegree}})
                if (answer) {
                    add(degrees[degree], *answer == degree);
                    add(keyTypes[r.KeyType], *answer == degree);
                }
        }
        EXPECT_EQ(stats.Overall(since), overall);
        EXPECT_EQ(stats.IntervalAccuracy(since), intervals);
        EXPECT_EQ(stats.Confusion(since), confusion);
        EXPECT_EQ(stats.DegreeAccuracy(since), degrees);
        EXPECT_EQ(stats.KeyTypeAccuracy(since), keyTypes);
    }
    std::map<int64_t, Tally> days;
    for (const AnswerRecord& r : records) {
        Tally& t = days[LocalDay(r.AskedAtMs) * Day - 3 * Hour];
        ++t.Count, t.Right += r.FirstRight() && r.SecondRight() && r.IntervalRight();
    }
    while (days.size() > 30)
        days.erase(days.begin());
    const auto daily = stats.Daily(30);
    EXPECT_EQ(std::map(daily.begin(), daily.end()), days);
}

// A name with a comma, quotes and a line break comes back whole, beside the
// rows' other fields.
TEST(HistoryStats, CsvQuotesWhatWouldBreakARecord) {
    fakes::TempDir dir;
    HistoryDb db;
    ASSERT_TRUE(db.Open((dir.Path / HistoryDb::FileName).string()));
    AnswerRecord r;
    r.Interval = 1, r.AnsweredInterval = 0, r.FirstDegree = 4, r.AskedAtMs = 1'773'140'400'007;
    db.Record(r);
    const std::string odd = "Minor \"2nd\",\r\nor a half step";
    std::ostringstream out;
    HistoryStats(db).ExportCsv(out, {{}, {"Major"}, {"Unison", odd}});
    const auto rows = fakes::ReadCsv(out.str());
    ASSERT_EQ(rows.size(), 2u) << out.str();
    ASSERT_EQ(rows[1].size(), rows[0].size());
    const std::vector<std::string> fields(rows[1].begin(), rows[1].begin() + 7);
    EXPECT_EQ(fields, (std::vector<std::string>{"2026-03-10T11:00:00.007Z", "0", "Major", "0",
                                                "ascending", odd, "5"}));
    EXPECT_EQ(rows[1][12], "Unison");
}
