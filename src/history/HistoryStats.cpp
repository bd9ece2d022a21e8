#include "history/HistoryStats.h"

#include "history/HistoryDb.h"

#include <cstdio>
#include <ctime>
#include <optional>

namespace sonavel {

namespace {

// A question is right when all three of its answers are: one the question
// preferences gave was recorded as right.
constexpr const char* AllRight = "SUM(right_first AND right_second AND right_interval)";

Tally ToTally(const HistoryDb::Row& row, std::size_t at) {
    return {row[at].value_or(0), row[at + 1].value_or(0)};
}

std::string Named(const std::vector<std::string>& names, const std::optional<int64_t>& value) {
    if (!value)
        return {};
    if (*value >= 0 && std::size_t(*value) < names.size())
        return names[std::size_t(*value)];
    return std::to_string(*value);
}

// Scale degrees are rows of the note lists; people count them from 1.
std::string Degree(const std::optional<int64_t>& row) {
    return row ? std::to_string(*row + 1) : std::string();
}

std::string UtcTime(int64_t ms) {
    const std::time_t seconds = std::time_t(ms / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[40];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + length, sizeof text - length, ".%03dZ", int(ms % 1000));
    return text;
}

// The rows of a period: a short one through the index on time, all time
// through the pass's own index, which holds every column it reads.
std::string Answers(int64_t sinceMs, const char* covering) {
    return std::string("answers INDEXED BY ") +
           (sinceMs == INT64_MIN ? covering : "answers_by_time");
}

} // namespace

int64_t HistoryStats::LocalMidnightMs(int64_t nowMs, int daysBack) {
    const std::time_t now = std::time_t(nowMs / 1000);
    std::tm local{};
    localtime_r(&now, &local);
    local.tm_mday -= daysBack;
    local.tm_hour = local.tm_min = local.tm_sec = 0;
    local.tm_isdst = -1; // the offset of that midnight, not of now
    return int64_t(std::mktime(&local)) * 1000;
}

int64_t HistoryStats::PeriodStartMs(Period period, int64_t nowMs, int64_t sessionStartMs) {
    switch (period) {
    case Session:
        return sessionStartMs;
    case Today:
        return LocalMidnightMs(nowMs, 0);
    case LastWeek:
        return LocalMidnightMs(nowMs, 6);
    case AllTime:
        break;
    }
    return INT64_MIN;
}

// Grouped so that each figure is a sum over a few hundred groups at most.
HistoryStats::Intervals HistoryStats::IntervalFigures(int64_t sinceMs) const {
    Intervals result;
    m_db.Query(std::string("SELECT interval_type, interval, answer_interval, COUNT(*), ") +
                   AllRight + ", SUM(right_interval) FROM " +
                   Answers(sinceMs, "answers_intervals") +
                   " WHERE asked_at >= ? GROUP BY interval_type, interval, answer_interval",
               {sinceMs}, [&](const HistoryDb::Row& row) {
                   const int type = int(row[0].value_or(0)), asked = int(row[1].value_or(0));
                   const Tally all = ToTally(row, 3);
                   result.Overall.Count += all.Count;
                   result.Overall.Right += all.Right;
                   if (!row[2]) // the question preferences gave the interval
                       return;
                   Tally& interval = result.Accuracy[{type, asked}];
                   interval.Count += all.Count;
                   interval.Right += row[5].value_or(0);
                   result.Confusion[{asked, int(*row[2])}] += all.Count;
               });
    return result;
}

HistoryStats::Notes HistoryStats::NoteFigures(int64_t sinceMs) const {
    Notes result;
    auto add = [](Tally& tally, int64_t count, int64_t right) {
        tally.Count += count;
        tally.Right += right;
    };
    m_db.Query(R"(SELECT key_type, first_degree, second_degree,
                         COUNT(answer_first), SUM(answer_first IS NOT NULL AND right_first),
                         COUNT(answer_second), SUM(answer_second IS NOT NULL AND right_second)
                  FROM )" +
                   Answers(sinceMs, "answers_notes") +
                   " WHERE asked_at >= ? GROUP BY key_type, first_degree, second_degree",
               {sinceMs}, [&](const HistoryDb::Row& row) {
                   const int keyType = int(row[0].value_or(0));
                   // A note the question preferences gave counts nowhere.
                   for (const int note : {0, 1}) {
                       const int64_t count = row[3 + 2 * note].value_or(0);
                       const int64_t right = row[4 + 2 * note].value_or(0);
                       if (count == 0)
                           continue;
                       add(result.Degrees[int(row[1 + note].value_or(0))], count, right);
                       add(result.KeyTypes[keyType], count, right);
                   }
               });
    return result;
}

// Walks back from the newest question a day at a time, through the index on
// time: a day's bounds are local midnights, which SQLite's 'localtime' would
// have to compute for every row.
std::vector<std::pair<int64_t, Tally>> HistoryStats::Daily(int days) const {
    std::vector<std::pair<int64_t, Tally>> result;
    std::optional<int64_t> latest;
    const auto before = [&](int64_t end) {
        latest.reset();
        m_db.Query("SELECT MAX(asked_at) FROM answers WHERE asked_at < ?", {end},
                   [&](const HistoryDb::Row& row) { latest = row[0]; });
        return latest.has_value();
    };
    for (int64_t end = INT64_MAX; int(result.size()) < days && before(end);) {
        const int64_t start = LocalMidnightMs(*latest, 0);
        Tally tally;
        m_db.Query(std::string("SELECT COUNT(*), ") + AllRight +
                       " FROM answers WHERE asked_at >= ? AND asked_at < ?",
                   {start, end}, [&](const HistoryDb::Row& row) { tally = ToTally(row, 0); });
        result.insert(result.begin(), {start, tally});
        end = start;
    }
    return result;
}

std::string HistoryStats::CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

void HistoryStats::ExportCsv(std::ostream& out, const HistoryNames& names) const {
    static const std::vector<std::string> directions = {"ascending", "descending", "harmonic"};
    out << "time_utc,key,key_type,key_reference,direction,interval,first_degree,second_degree,"
           "first_note,second_note,answer_first,answer_second,answer_interval,question_preference,"
           "right_first,right_second,right_interval,answer_shown,played_again,answer_ms\r\n";
    m_db.Query(R"(SELECT asked_at, key, key_type, key_reference, interval_type, interval,
                         first_degree, second_degree, first_note, second_note, answer_first,
                         answer_second, answer_interval, cheat_mode, right_first, right_second,
                         right_interval, answer_shown, played_again, answer_ms
                  FROM answers ORDER BY asked_at, id)",
               {}, [&](const HistoryDb::Row& row) {
                   auto number = [&](std::size_t c) { return std::to_string(row[c].value_or(0)); };
                   const std::string fields[] = {UtcTime(row[0].value_or(0)),
                                                 Named(names.Keys, row[1]),
                                                 Named(names.KeyTypes, row[2]),
                                                 number(3),
                                                 Named(directions, row[4]),
                                                 Named(names.Intervals, row[5]),
                                                 Degree(row[6]),
                                                 Degree(row[7]),
                                                 number(8),
                                                 number(9),
                                                 Degree(row[10]),
                                                 Degree(row[11]),
                                                 Named(names.Intervals, row[12]),
                                                 number(13),
                                                 number(14),
                                                 number(15),
                                                 number(16),
                                                 number(17),
                                                 number(18),
                                                 number(19)};
                   for (std::size_t i = 0; i < std::size(fields); ++i)
                       out << (i ? "," : "") << CsvField(fields[i]);
                   out << "\r\n";
               });
}

} // namespace sonavel
