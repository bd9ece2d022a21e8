#pragma once

#include "history/AnswerRecord.h"

#include <cstdint>
#include <optional>

namespace sonavel {

class HistoryDb;

// Follows one question from its draw to its first complete validation, the
// answer the score counts, and hands that to the history. A question stopped
// or never validated leaves nothing.
class QuestionLog {
public:
    // history may be null: then nothing is kept.
    explicit QuestionLog(HistoryDb* history) : m_history(history) {}

    // A new question: its key, key type, reference, interval and notes.
    void Asked(const AnswerRecord& question);
    void PlayedAgain();
    void AnswerShown();
    void NotesEnded(int64_t nowMicros);
    // The answers asked for (empty where the cheat mode gave one), at steady
    // time nowMicros and wall time wallMs. Only the first call of a question
    // is kept.
    void Validated(std::optional<int32_t> first, std::optional<int32_t> second,
                   std::optional<int32_t> interval, int32_t cheatMode, int64_t nowMicros,
                   int64_t wallMs);

private:
    HistoryDb* m_history;
    AnswerRecord m_record;
    bool m_open = false;
    int64_t m_notesEndedMicros = 0;
};

} // namespace sonavel
