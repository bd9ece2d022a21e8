#include "history/HistoryDb.h"

#include <cstdio>
#include <ctime>
#include <sqlite3.h>
#include <stdexcept>

namespace sonavel {

namespace {

// Step i brings a file of version i to version i + 1. A released step is
// never changed: a new version adds a step.
const char* const kMigrations[] = {
    R"(CREATE TABLE answers(
           id INTEGER PRIMARY KEY,
           asked_at INTEGER NOT NULL,
           key INTEGER NOT NULL, key_type INTEGER NOT NULL, key_reference INTEGER NOT NULL,
           interval_type INTEGER NOT NULL, interval INTEGER NOT NULL,
           first_degree INTEGER NOT NULL, second_degree INTEGER NOT NULL,
           first_note INTEGER NOT NULL, second_note INTEGER NOT NULL,
           answer_first INTEGER, answer_second INTEGER, answer_interval INTEGER,
           cheat_mode INTEGER NOT NULL,
           right_first INTEGER NOT NULL, right_second INTEGER NOT NULL,
           right_interval INTEGER NOT NULL,
           answer_shown INTEGER NOT NULL, played_again INTEGER NOT NULL,
           answer_ms INTEGER NOT NULL);
       CREATE INDEX answers_by_time ON answers(asked_at);
       CREATE INDEX answers_by_interval ON answers(interval_type, interval);
       CREATE TABLE preferences(name TEXT PRIMARY KEY, value TEXT NOT NULL);)",
    // The schedule of "Drill my mistakes", in the order the items were missed.
    R"(CREATE TABLE drill(
           interval_type INTEGER NOT NULL, interval INTEGER NOT NULL,
           first_degree INTEGER NOT NULL, second_degree INTEGER NOT NULL,
           gap INTEGER NOT NULL, streak INTEGER NOT NULL, wait INTEGER NOT NULL);)",
    // The Statistics window's two grouped passes read these instead of the
    // table: all they need, already in the order of their groups.
    R"(CREATE INDEX IF NOT EXISTS answers_intervals ON answers(interval_type, interval,
           answer_interval, right_first, right_second, right_interval, asked_at);
       CREATE INDEX IF NOT EXISTS answers_notes ON answers(key_type, first_degree,
           second_degree, answer_first, right_first, answer_second, right_second, asked_at);
       DROP INDEX IF EXISTS answers_by_interval;)",
};
static_assert(std::size(kMigrations) == HistoryDb::SchemaVersion);

bool IsDamaged(int code) {
    return code == SQLITE_CORRUPT || code == SQLITE_NOTADB;
}

struct DatabaseError : std::runtime_error {
    DatabaseError(sqlite3* db)
        : std::runtime_error(sqlite3_errmsg(db)), Code(sqlite3_extended_errcode(db) & 0xFF) {}
    int Code;
};

// Finalizes its statement however the scope is left.
struct Statement {
    Statement(sqlite3* db, const std::string& sql) {
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &Handle, nullptr) != SQLITE_OK)
            throw DatabaseError(db);
    }
    ~Statement() { sqlite3_finalize(Handle); }
    sqlite3_stmt* Handle = nullptr;
};

std::string LocalStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d-%H%M%S", &local);
    return text;
}

} // namespace

HistoryDb::~HistoryDb() {
    sqlite3_close(m_db);
}

bool HistoryDb::Open(const std::string& path) {
    m_path = path;
    try {
        return OpenFile();
    } catch (const DatabaseError& error) {
        if (!IsDamaged(error.Code)) {
            Fail(error.what());
            return false;
        }
    } catch (const std::exception& error) {
        Fail(error.what());
        return false;
    }
    // A damaged file is kept for whoever wants to rescue it; practice goes on
    // in a new one.
    sqlite3_close(m_db);
    m_db = nullptr;
    const std::string aside = path + ".damaged-" + LocalStamp();
    if (std::rename(path.c_str(), aside.c_str()) != 0) {
        Fail("it is damaged and cannot be moved aside");
        return false;
    }
    for (const char* part : {"-wal", "-shm"})
        std::remove((path + part).c_str());
    m_problem = "The practice history " + path + " was damaged. It was moved to " + aside +
                ", and a new history was begun.";
    try {
        return OpenFile();
    } catch (const std::exception& error) {
        Fail(error.what());
        return false;
    }
}

bool HistoryDb::OpenFile() {
    if (sqlite3_open_v2(m_path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                        nullptr) != SQLITE_OK)
        throw DatabaseError(m_db);
    // Another copy of the program may be writing: wait for it rather than fail.
    sqlite3_busy_timeout(m_db, 3000);
    Execute("PRAGMA journal_mode=WAL");
    Execute("PRAGMA synchronous=NORMAL");
    // The log is copied into the database when the last copy of the program
    // closes it, not by the Validate that happens to fill it (4 ms and more).
    Execute("PRAGMA wal_autocheckpoint=0");
    Migrate();
    return true;
}

void HistoryDb::Migrate() {
    int version = 0;
    Query("PRAGMA user_version", {}, [&](const Row& row) { version = int(row[0].value_or(0)); });
    if (version > SchemaVersion)
        throw std::runtime_error("it was written by a newer version of the program");
    for (; version < SchemaVersion; ++version) {
        Execute("BEGIN IMMEDIATE");
        try {
            Execute(kMigrations[version]);
            Execute(("PRAGMA user_version=" + std::to_string(version + 1)).c_str());
            Execute("COMMIT");
        } catch (...) {
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    }
}

void HistoryDb::Execute(const char* sql) const {
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        throw DatabaseError(m_db);
}

void HistoryDb::Fail(const std::string& what) {
    if (m_problem.empty())
        m_problem = "The practice history " + m_path + " cannot be kept: " + what +
                    ". Practice goes on without it.";
    sqlite3_close(m_db);
    m_db = nullptr;
}

std::string HistoryDb::TakeProblem() {
    if (m_problemTaken)
        return {};
    if (!m_problem.empty())
        m_problemTaken = true;
    return m_problem;
}

void HistoryDb::Query(const std::string& sql, const Row& parameters,
                      const std::function<void(const Row&)>& row) const {
    Statement statement(m_db, sql);
    for (std::size_t i = 0; i < parameters.size(); ++i)
        if (parameters[i])
            sqlite3_bind_int64(statement.Handle, int(i + 1), *parameters[i]);
    Row values;
    for (;;) {
        const int step = sqlite3_step(statement.Handle);
        if (step == SQLITE_DONE)
            return;
        if (step != SQLITE_ROW)
            throw DatabaseError(m_db);
        values.resize(std::size_t(sqlite3_column_count(statement.Handle)));
        for (std::size_t c = 0; c < values.size(); ++c)
            values[c] = sqlite3_column_type(statement.Handle, int(c)) == SQLITE_NULL
                            ? std::nullopt
                            : std::optional(sqlite3_column_int64(statement.Handle, int(c)));
        if (row)
            row(values);
    }
}

void HistoryDb::Record(const AnswerRecord& r) {
    if (!m_db || !Recording())
        return;
    try {
        Query(R"(INSERT INTO answers(asked_at, key, key_type, key_reference, interval_type,
                     interval, first_degree, second_degree, first_note, second_note,
                     answer_first, answer_second, answer_interval, cheat_mode, right_first,
                     right_second, right_interval, answer_shown, played_again, answer_ms)
                 VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?))",
              {r.AskedAtMs,        r.Key,
               r.KeyType,          r.KeyReference,
               r.IntervalType,     r.Interval,
               r.FirstDegree,      r.SecondDegree,
               r.FirstMidiNote,    r.SecondMidiNote,
               r.AnsweredFirst,    r.AnsweredSecond,
               r.AnsweredInterval, r.CheatMode,
               r.FirstRight(),     r.SecondRight(),
               r.IntervalRight(),  r.AnswerShown,
               r.PlayedAgain,      r.AnswerMs},
              nullptr);
    } catch (const std::exception& error) {
        Fail(error.what());
    }
}

bool HistoryDb::Recording() const {
    if (!m_recording)
        m_recording = Preference("record").value_or("1") != "0";
    return *m_recording;
}

void HistoryDb::SetRecording(bool on) {
    SetPreference("record", on ? "1" : "0");
    m_recording = on;
}

std::optional<std::string> HistoryDb::Preference(const std::string& name) const {
    if (!m_db)
        return std::nullopt;
    try {
        Statement statement(m_db, "SELECT value FROM preferences WHERE name = ?");
        sqlite3_bind_text(statement.Handle, 1, name.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(statement.Handle) == SQLITE_ROW)
            return reinterpret_cast<const char*>(sqlite3_column_text(statement.Handle, 0));
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

void HistoryDb::SetPreference(const std::string& name, const std::string& value) {
    if (!m_db)
        return;
    try {
        Statement statement(m_db, "INSERT OR REPLACE INTO preferences(name, value) VALUES(?, ?)");
        sqlite3_bind_text(statement.Handle, 1, name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(statement.Handle, 2, value.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(statement.Handle) != SQLITE_DONE)
            throw DatabaseError(m_db);
    } catch (const std::exception& error) {
        Fail(error.what());
    }
}

void HistoryDb::Clear() {
    if (!m_db)
        return;
    try {
        Execute("DELETE FROM answers; DELETE FROM drill");
    } catch (const std::exception& error) {
        Fail(error.what());
    }
}

} // namespace sonavel
