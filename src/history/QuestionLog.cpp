#include "history/QuestionLog.h"

#include "history/HistoryDb.h"

#include <algorithm>

namespace sonavel {

void QuestionLog::Asked(const AnswerRecord& question) {
    m_record = question;
    m_record.PlayedAgain = 0;
    m_record.AnswerShown = false;
    m_open = true;
}

void QuestionLog::PlayedAgain() {
    ++m_record.PlayedAgain;
}

void QuestionLog::AnswerShown() {
    m_record.AnswerShown = true;
}

void QuestionLog::NotesEnded(int64_t nowMicros) {
    m_notesEndedMicros = nowMicros;
}

void QuestionLog::Validated(std::optional<int32_t> first, std::optional<int32_t> second,
                            std::optional<int32_t> interval, int32_t cheatMode, int64_t nowMicros,
                            int64_t wallMs) {
    if (!m_open)
        return;
    m_open = false;
    m_record.AnsweredFirst = first;
    m_record.AnsweredSecond = second;
    m_record.AnsweredInterval = interval;
    m_record.CheatMode = cheatMode;
    m_record.AskedAtMs = wallMs;
    m_record.AnswerMs = int32_t(std::max<int64_t>(0, (nowMicros - m_notesEndedMicros) / 1000));
    if (m_history)
        m_history->Record(m_record);
}

} // namespace sonavel
