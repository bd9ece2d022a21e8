// Our own count over a generated history, 3 hours east of UTC: local days are not UTC days.
#include "ScopedEnv.h"
#include "TempDir.h"
#include "history/HistoryDb.h"
#include "history/HistoryStats.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>
#include <sstream>

using namespace sonavel;

static std::vector<std::vector<std::string>> ReadRfc4180Csv(const std::string& text) {
    std::vector<std::vector<std::string>> records(1, std::vector<std::string>(1));
    for (std::size_t i = 0, quoted = 0; i < text.size(); ++i) {
        if (text[i] == '"' && ((quoted = !quoted) || text[i + 1] != '"'))
            continue; // a quote that opens or closes; doubled, the second is kept
        if (!quoted && text[i] == ',')
            records.back().emplace_back();
        else if (!quoted && text.compare(i, 2, "\r\n") == 0 && ++i)
            records.emplace_back(1);
        else
            records.back().back() += text[i];
    }
    return records.pop_back(), records; // the empty one after the last line end
}

TEST(HistoryStats, CountsEachPeriodAsALoopOverTheQuestionsWould) {
    constexpr int64_t Hour = 3'600'000, Day = 24 * Hour;
    const auto localMidnight = [](int64_t ms) { return (ms + 3 * Hour) / Day * Day - 3 * Hour; };
    fakes::ScopedEnv zone("TZ", "<+03>-3");
    tzset();
    fakes::TempDir dir;
    HistoryDb db;
    ASSERT_TRUE(db.Open((dir.Path / HistoryDb::FileName).string()));
    const int64_t now = 1'773'095'400'000; // 2026-03-10 01:30 local, still the 9th in UTC
    const int64_t midnight = localMidnight(now), week = midnight - 6 * Day;
    std::vector<AnswerRecord> records(600);
    std::mt19937 random(15);
    auto pick = [&](int n) { return int32_t(random() % unsigned(n)); };
    auto ask = [&](bool on, int32_t ok, int n) {
        return on ? std::optional(pick(3) ? ok : pick(n)) : std::nullopt;
    };
    for (AnswerRecord& r : records) {
        const int64_t edges[] = {midnight - 1, midnight, week - 1, week};
        const auto i = &r - records.data();
        r.AskedAtMs = i < 4 ? edges[i] : now - pick(45 * 24 * 60) * int64_t(60'000);
        r.KeyType = pick(4), r.IntervalType = pick(3), r.Interval = pick(13);
        r.FirstDegree = pick(7), r.SecondDegree = pick(7), r.CheatMode = pick(6);
        r.AnsweredFirst = ask(r.CheatMode != 0 && r.CheatMode != 2, r.FirstDegree, 7);
        r.AnsweredSecond = ask(r.CheatMode != 1 && r.CheatMode != 2, r.SecondDegree, 7);
        r.AnsweredInterval = ask(r.CheatMode != 3, r.Interval, 13);
        db.Record(r);
    }
    const auto add = [](Tally& t, bool right) { ++t.Count, t.Right += right; };
    auto allRight = [](auto& r) { return r.FirstRight() && r.SecondRight() && r.IntervalRight(); };
    const HistoryStats stats(db);
    const int64_t starts[] = {now - Hour, midnight, week, 0}; // session, today, week, all time
    for (const int64_t& start : starts) {
        const auto period = HistoryStats::Period(&start - starts);
        const int64_t since = HistoryStats::PeriodStartMs(period, now, now - Hour);
        Tally overall;
        std::map<std::pair<int, int>, Tally> intervals;
        std::map<std::pair<int, int>, int64_t> confusion;
        std::map<int, Tally> degrees, keyTypes;
        for (const AnswerRecord& r : records) {
            if (r.AskedAtMs < start)
                continue;
            add(overall, allRight(r));
            if (r.AnsweredInterval) {
                add(intervals[{r.IntervalType, r.Interval}], r.IntervalRight());
                ++confusion[{r.Interval, *r.AnsweredInterval}];
            }
            for (const auto& [given, degree] :
                 {std::pair(r.AnsweredFirst, r.FirstDegree), {r.AnsweredSecond, r.SecondDegree}})
                if (given)
                    for (Tally* tally : {&degrees[degree], &keyTypes[r.KeyType]})
                        add(*tally, *given == degree);
        }
        EXPECT_EQ(stats.IntervalFigures(since),
                  (HistoryStats::Intervals{overall, intervals, confusion}));
        EXPECT_EQ(stats.NoteFigures(since), (HistoryStats::Notes{degrees, keyTypes}));
    }
    std::map<int64_t, Tally> days;
    for (const AnswerRecord& r : records)
        add(days[localMidnight(r.AskedAtMs)], allRight(r));
    days.erase(days.begin(), std::prev(days.end(), 30));
    EXPECT_EQ(stats.Daily(30), (std::vector<std::pair<int64_t, Tally>>(days.begin(), days.end())));

    const std::string odd = "Minor \"2nd\",\r\nor a half step";
    std::ostringstream csv;
    stats.ExportCsv(csv, {{}, {}, {"Unison", odd}});
    const auto rows = ReadRfc4180Csv(csv.str());
    ASSERT_EQ(rows.size(), records.size() + 1);
    const auto time = [](const std::vector<std::string>& row) { return row[0]; };
    EXPECT_EQ(std::ranges::count(rows, "2026-03-09T20:59:59.999Z", time), 1); // midnight - 1
    EXPECT_EQ(std::ranges::count_if(rows, [&](const auto& row) { return row.at(5) == odd; }),
              std::ranges::count_if(records, [](const auto& r) { return r.Interval == 1; }));
}
