#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace sonavel {

// What the drill remembers: an interval of one type (0 ascending, 1 descending,
// 2 harmonic), and the two scale degrees when a note was answered wrong. A miss
// of the interval answer alone is about hearing the interval, so it comes back
// on any notes (degrees -1); a missed note is about those degrees in the key,
// so it comes back on the same two.
struct DrillItem {
    int32_t Type = 0;
    int32_t Interval = 0;
    int32_t FirstDegree = -1;
    int32_t SecondDegree = -1;
    bool operator==(const DrillItem&) const = default;
};

// One item of the schedule: it is due when Wait reaches 0.
struct DrillEntry {
    DrillItem Item;
    int32_t Gap = 3;    // the last wait; a right answer while due doubles it
    int32_t Streak = 0; // right answers in a row while due
    int32_t Wait = 3;   // other answered questions still to come before it is due
    bool operator==(const DrillEntry&) const = default;
};

// What the settings allow now, as the engine found it: an interval of a type
// and the degree pairs its notes may take in the question's key type.
struct DrillOption {
    int32_t Type = 0;
    int32_t Interval = 0;
    std::vector<std::pair<int32_t, int32_t>> Pairs;
};

// The drill of "Drill my mistakes": spaced repetition of missed items, and
// between them a draw weighted by each interval's recent error rate. Holds no
// database: the history loads and saves it.
class clsDrill {
public:
    static constexpr int32_t FirstGap = 3;
    static constexpr int32_t RightsToRetire = 2;
    // Each older answer of an interval weighs 0.9 times the next newer one,
    // so a mistake counts half after about seven later answers of it.
    static constexpr double Decay = 0.9;
    // Added to every error rate, so that a never missed interval still comes
    // up: with nine intervals never missed and one missed every other time,
    // that one is asked about a third of the time.
    static constexpr double Floor = 0.1;

    std::vector<DrillEntry> Entries;

    // Feeds one answer of the history, oldest first.
    void Learn(int32_t type, int32_t interval, bool missed);
    double ErrorRate(int32_t type, int32_t interval) const;
    void ClearRates() { m_rates.clear(); }

    int32_t DueCount() const;

    // Chooses among options (none empty): the first due entry that the
    // options allow, else an option by weight; then the degree pair, by
    // index into its Pairs. Draws from the program's random numbers.
    std::pair<const DrillOption*, int32_t> Choose(const std::vector<DrillOption>& options) const;

    // The first complete answer to the question asked: every other entry
    // waits a question less; a due entry answered right waits twice its
    // gap, or retires after its second right answer in a row; a miss waits
    // FirstGap questions.
    void Answered(const DrillItem& asked, bool right, bool noteMissed);

private:
    struct Rate {
        double Missed = 0;
        double Weight = 0;
    };
    std::map<std::pair<int32_t, int32_t>, Rate> m_rates;
};

} // namespace sonavel
