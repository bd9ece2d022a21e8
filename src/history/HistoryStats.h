#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace sonavel {

class HistoryDb;

// How many answers of a kind were given and how many of them were right.
struct Tally {
    int64_t Count = 0;
    int64_t Right = 0;
    bool operator==(const Tally&) const = default;
};

// The names the main window shows for the numbers the history keeps; a number
// without a name is written as the number.
struct HistoryNames {
    std::vector<std::string> Keys;
    std::vector<std::string> KeyTypes;
    std::vector<std::string> Intervals;
};

// The figures of the Statistics window, counted by SQLite from the practice
// history. Every query takes the first moment of its period (milliseconds
// since 1970 UTC) and counts the questions asked from then on.
//
// What counts: an interval, a note or a key type is judged only where it was
// asked (an answer the question preferences gave is left out). A question
// counts as right when every answer asked for was right.
class HistoryStats {
public:
    enum Period { Session, Today, LastWeek, AllTime };

    // The history must stay open while the statistics are used.
    explicit HistoryStats(const HistoryDb& history) : m_db(history) {}

    // The local midnight that began the day daysBack days before the day of
    // nowMs, as milliseconds since 1970 UTC.
    static int64_t LocalMidnightMs(int64_t nowMs, int daysBack);
    // The first moment of a period: this session began at sessionStartMs,
    // today at the last local midnight, the last 7 days with today.
    static int64_t PeriodStartMs(Period period, int64_t nowMs, int64_t sessionStartMs);

    // The questions and their interval answers, from one pass over the period.
    struct Intervals {
        Tally Overall;
        // (interval type, interval) -> the interval question's answers.
        std::map<std::pair<int, int>, Tally> Accuracy;
        // (asked interval, answered interval) -> how often.
        std::map<std::pair<int, int>, int64_t> Confusion;
        bool operator==(const Intervals&) const = default;
    };
    Intervals IntervalFigures(int64_t sinceMs) const;
    // The note questions' answers per scale degree (a row of the note lists)
    // and per key type, from one pass over the period.
    struct Notes {
        std::map<int, Tally> Degrees;
        std::map<int, Tally> KeyTypes;
        bool operator==(const Notes&) const = default;
    };
    Notes NoteFigures(int64_t sinceMs) const;
    // The last `days` local days with practice, oldest first: the local
    // midnight that began each, and its questions.
    std::vector<std::pair<int64_t, Tally>> Daily(int days) const;

    // Writes every question, oldest first, as CSV (RFC 4180) with a header row.
    void ExportCsv(std::ostream& out, const HistoryNames& names) const;
    // One CSV field: quoted when it holds a comma, a quote, CR or LF.
    static std::string CsvField(const std::string& text);

private:
    const HistoryDb& m_db;
};

} // namespace sonavel
