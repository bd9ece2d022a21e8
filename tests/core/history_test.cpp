// The practice history on a real database file: what one question leaves, and
// the faults that must never cost practice.
#include "TempDir.h"
#include "history/HistoryDb.h"
#include "history/QuestionLog.h"

#include <gtest/gtest.h>

using namespace sonavel;

namespace {
std::vector<HistoryDb::Row> Rows(const HistoryDb& db, const std::string& columns) {
    std::vector<HistoryDb::Row> rows;
    db.Query("SELECT " + columns + " FROM answers ORDER BY id", {},
             [&](const HistoryDb::Row& row) { rows.push_back(row); });
    return rows;
}
} // namespace

// Asked: degrees 2 and 4, a third (row 3). Each row answers (or is given) as the cheat mode says.
TEST(History, KeepsTheFirstValidationOfEachQuestionAsItWasAsked) {
    fakes::TempDir dir;
    const std::string path = (dir.Path / HistoryDb::FileName).string();
    HistoryDb db;
    ASSERT_TRUE(db.Open(path));
    QuestionLog log(&db);
    using O = std::optional<int32_t>;
    const struct {
        int cheat;
        O first, second, interval;
        bool shown;
        int again;
        HistoryDb::Row expected; // answers, rights, shown, played again
    } cases[] = {
        {5, 2, 4, 3, false, 0, {2, 4, 3, 1, 1, 1, 0, 0}},
        {5, 1, 4, 5, false, 2, {1, 4, 5, 0, 1, 0, 0, 2}},
        {5, 2, 4, 3, true, 1, {2, 4, 3, 1, 1, 1, 1, 1}},
        {0, {}, 6, 3, false, 0, {{}, 6, 3, 1, 0, 1, 0, 0}},
        {2, {}, {}, 2, false, 0, {{}, {}, 2, 1, 1, 0, 0, 0}},
        {3, 2, 4, {}, false, 0, {2, 4, {}, 1, 1, 1, 0, 0}},
    };
    int64_t now = 0;
    for (const auto& c : cases) {
        AnswerRecord question;
        question.Key = 7;
        question.FirstDegree = 2;
        question.SecondDegree = 4;
        question.Interval = 3;
        question.FirstMidiNote = 62;
        log.Asked(question);
        for (int i = 0; i < c.again; ++i)
            log.PlayedAgain();
        if (c.shown)
            log.AnswerShown();
        log.NotesEnded(now += 1'000'000);
        log.Validated(c.first, c.second, c.interval, c.cheat, now + 1'500'000, 1'700'000'000'000);
        log.Validated(0, 0, 0, c.cheat, now + 2'000'000, 0); // a second try is not kept
    }
    log.Validated(1, 1, 1, 5, now, 0); // no question asked
    const auto rows = Rows(db, "answer_first, answer_second, answer_interval, right_first, "
                               "right_second, right_interval, answer_shown, played_again");
    ASSERT_EQ(rows.size(), std::size(cases));
    for (std::size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(rows[i], cases[i].expected) << "row " << i;
    EXPECT_EQ(Rows(db, "key, first_note, cheat_mode, answer_ms, asked_at")[3],
              (HistoryDb::Row{7, 62, 0, 1500, 1'700'000'000'000}));

    // Switched off, nothing is kept, and the switch holds for the next run.
    db.SetRecording(false);
    HistoryDb again;
    ASSERT_TRUE(again.Open(path));
    EXPECT_FALSE(again.Recording());
    log.Asked({});
    log.Validated(1, 1, 1, 5, now, 0);
    EXPECT_EQ(Rows(again, "id").size(), std::size(cases));
}

// A damaged file is moved aside and named; a history that cannot open says so once and
// records nothing; two copies of the program record into one file side by side.
TEST(History, FaultsAreToldOnceAndNeverStopPractice) {
    fakes::TempDir dir;
    const auto path = dir.Path / HistoryDb::FileName;
    std::ofstream(path) << "not a database, but someone's file";
    HistoryDb db;
    EXPECT_TRUE(db.Open(path.string()));
    const std::string problem = db.TakeProblem();
    EXPECT_EQ(db.TakeProblem(), "");
    const std::size_t at = problem.find(path.string() + ".damaged-");
    ASSERT_NE(at, std::string::npos) << problem;
    const std::string aside = problem.substr(at, problem.find(',', at) - at);
    EXPECT_EQ(fakes::ReadFile(aside), "not a database, but someone's file");

    HistoryDb second;
    ASSERT_TRUE(second.Open(path.string()));
    for (HistoryDb* copy : {&db, &second, &db})
        copy->Record({});
    EXPECT_EQ(Rows(second, "id").size(), 3u);
    EXPECT_EQ(second.TakeProblem(), "");

    HistoryDb nowhere;
    EXPECT_FALSE(nowhere.Open((dir.Path / "gone" / HistoryDb::FileName).string()));
    nowhere.Record({});
    EXPECT_NE(nowhere.TakeProblem().find("cannot be kept"), std::string::npos);
    EXPECT_EQ(nowhere.TakeProblem(), "");
}
