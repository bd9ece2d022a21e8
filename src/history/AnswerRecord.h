#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

namespace sonavel {

// The wall clock as the history keeps it: milliseconds since 1970-01-01 UTC.
inline int64_t NowUtcMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// One question as the history keeps it: what was asked, what was answered at
// its first complete validation (the answer the score counts), and how.
// Notes and intervals are rows of the window's answer lists; an answer the
// cheat mode did not ask for is empty.
struct AnswerRecord {
    int64_t AskedAtMs = 0; // milliseconds since 1970-01-01 UTC
    int32_t Key = 0;
    int32_t KeyType = 0;
    int32_t KeyReference = 0;
    int32_t IntervalType = 0; // 0 ascending, 1 descending, 2 harmonic
    int32_t Interval = 0;
    int32_t FirstDegree = 0;
    int32_t SecondDegree = 0;
    int32_t FirstMidiNote = 0;
    int32_t SecondMidiNote = 0;
    std::optional<int32_t> AnsweredFirst;
    std::optional<int32_t> AnsweredSecond;
    std::optional<int32_t> AnsweredInterval;
    int32_t CheatMode = 5;
    bool AnswerShown = false;
    int32_t PlayedAgain = 0;
    int32_t AnswerMs = 0; // from the end of the notes to Validate

    bool FirstRight() const { return !AnsweredFirst || *AnsweredFirst == FirstDegree; }
    bool SecondRight() const { return !AnsweredSecond || *AnsweredSecond == SecondDegree; }
    bool IntervalRight() const { return !AnsweredInterval || *AnsweredInterval == Interval; }
};

} // namespace sonavel
