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

Tally HistoryStats::Overall(int64_t sinceMs) const {
    Tally tally;
    m_db.Query(std::string("SELECT COUNT(*), ") + AllRight + " FROM answers WHERE asked_at >= ?",
               {sinceMs}, [&](const HistoryDb::Row& row) { tally = ToTally(row, 0); });
    return tally;
}

std::map<std::pair<int, int>, Tally> HistoryStats::IntervalAccuracy(int64_t sinceMs) const {
    std::map<std::pair<int, int>, Tally> result;
    m_db.Query(R"(SELECT interval_type, interval, COUNT(*), SUM(right_interval) FROM answers
                  WHERE asked_at >= ? AND answer_interval IS NOT NULL
                  GROUP BY interval_type, interval)",
               {sinceMs}, [&](const HistoryDb::Row& row) {
                   result[{int(row[0].value_or(0)), int(row[1].value_or(0))}] = ToTally(row, 2);
               });
    return result;
}

std::map<std::pair<int, int>, int64_t> HistoryStats::Confusion(int64_t sinceMs) const {
    std::map<std::pair<int, int>, int64_t> result;
    m_db.Query(R"(SELECT interval, answer_interval, COUNT(*) FROM answers
                  WHERE asked_at >= ? AND answer_interval IS NOT NULL
                  GROUP BY interval, answer_interval)",
               {sinceMs}, [&](const HistoryDb::Row& row) {
                   result[{int(row[0].value_or(0)), int(row[1].value_or(0))}] = row[2].value_or(0);
               });
    return result;
}

std::map<int, Tally> HistoryStats::NoteAccuracy(const char* groupBy, int64_t sinceMs) const {
    // The first and the second note are two answers each, where asked.
    const std::string sql = std::string("SELECT ") + groupBy + R"(, COUNT(*), SUM(ok) FROM (
            SELECT first_degree AS degree, key_type, right_first AS ok FROM answers
            WHERE asked_at >= ? AND answer_first IS NOT NULL
            UNION ALL
            SELECT second_degree, key_type, right_second FROM answers
            WHERE asked_at >= ? AND answer_second IS NOT NULL)
        GROUP BY )" + groupBy;
    std::map<int, Tally> result;
    m_db.Query(sql, {sinceMs, sinceMs}, [&](const HistoryDb::Row& row) {
        result[int(row[0].value_or(0))] = ToTally(row, 1);
    });
    return result;
}

std::map<int, Tally> HistoryStats::DegreeAccuracy(int64_t sinceMs) const {
    return NoteAccuracy("degree", sinceMs);
}

std::map<int, Tally> HistoryStats::KeyTypeAccuracy(int64_t sinceMs) const {
    return NoteAccuracy("key_type", sinceMs);
}

std::vector<std::pair<int64_t, Tally>> HistoryStats::Daily(int days) const {
    std::vector<std::pair<int64_t, Tally>> result;
    m_db.Query(std::string(R"(SELECT CAST(strftime('%s', asked_at / 1000, 'unixepoch', 'localtime',
                                                   'start of day', 'utc') AS INTEGER) AS day,
                                     COUNT(*), )") +
                   AllRight + " FROM answers GROUP BY day ORDER BY day DESC LIMIT ?",
               {days}, [&](const HistoryDb::Row& row) {
                   result.insert(result.begin(), {row[0].value_or(0) * 1000, ToTally(row, 1)});
               });
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
