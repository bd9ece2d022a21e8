#include "MainWindowHarness.h"
#include "history/HistoryDb.h"

namespace sonavel::uitest {
namespace {

// Switched on (and kept so), a missed interval is the fourth question after it; due shown.
TEST(MainWindowDrill, AMissedIntervalComesBackAfterThreeOthers) {
    MainWindowHarness h([](clsSettings& s) { s.SelIntervalsAsc.assign(13, true); });
    HistoryDb db;
    ASSERT_TRUE(db.Open(h.Dir.filePath(HistoryDb::FileName).toStdString()));
    h.Window->SetHistory(&db);
    h.Trigger("mnuViewDrill");
    EXPECT_EQ(db.Preference("drill"), "1");
    h.Click("cmdStart");
    const int missed = h.Window->Engine().CurrentInterval();
    h.AnswerCorrectly();
    h.Pick("lstIntervalAnswer", (missed + 1) % 13);
    h.Click("cmdValidate");
    for (int other = 0; other < 4; ++other, h.Click("cmdValidate"))
        h.AnswerCorrectly();
    EXPECT_EQ(h.Text("lblDrillDue"), QStringLiteral("Drill: 1 due"));
    EXPECT_EQ(h.Window->Engine().CurrentInterval(), missed);
}

} // namespace
} // namespace sonavel::uitest
