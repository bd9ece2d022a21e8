#pragma once

#include "history/AnswerRecord.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace sonavel {

// The practice history, snv2_history.db beside the settings file: one row per
// answered question and a small table of preferences. Faults never stop
// practice: when the database cannot be opened or written (locked by another
// copy for too long, a read-only folder, a full disk), the history says why
// once and goes on without recording; a file that is not a database is moved
// aside with the date in its name and a new one is begun.
class HistoryDb {
public:
    static constexpr const char* FileName = "snv2_history.db";
    // The schema this program writes; older files are brought up to it.
    static constexpr int SchemaVersion = 3;

    HistoryDb() = default;
    ~HistoryDb();
    HistoryDb(const HistoryDb&) = delete;
    HistoryDb& operator=(const HistoryDb&) = delete;

    // Opens or creates the database at path; false when there is none to use.
    // Either way a fault leaves a problem to report: a file that was moved
    // aside is named there although a new history is open.
    bool Open(const std::string& path);
    bool IsOpen() const { return m_db != nullptr; }
    const std::string& Path() const { return m_path; }

    // The first fault of this run, in words for the student, once: empty after
    // it has been taken, and when nothing went wrong.
    std::string TakeProblem();

    // Appends one question; a failure closes the history for the rest of the
    // run. Nothing is written while recording is switched off.
    void Record(const AnswerRecord& record);
    bool Recording() const;
    void SetRecording(bool on);

    std::optional<std::string> Preference(const std::string& name) const;
    void SetPreference(const std::string& name, const std::string& value);

    // Tells what went wrong (once, through TakeProblem) and closes the
    // history for the rest of the run.
    void Fail(const std::string& what);

    // Removes every recorded question and the drill's schedule (preferences
    // stay).
    void Clear();

    // Runs sql with its ? parameters bound in order (nullopt as NULL) and calls row for each
    // result row with its columns as integers (a NULL as nullopt). A failure
    // throws std::runtime_error with SQLite's message.
    using Row = std::vector<std::optional<int64_t>>;
    void Query(const std::string& sql, const Row& parameters,
               const std::function<void(const Row&)>& row) const;

private:
    bool OpenFile();
    void Migrate();
    void Execute(const char* sql) const;

    sqlite3* m_db = nullptr;
    std::string m_path;
    std::string m_problem;
    bool m_problemTaken = false;
    mutable std::optional<bool> m_recording;
};

} // namespace sonavel
