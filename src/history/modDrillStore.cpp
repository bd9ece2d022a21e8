#include "history/modDrillStore.h"

#include "engine/clsDrill.h"
#include "history/HistoryDb.h"

#include <stdexcept>

namespace sonavel {

void LoadDrill(HistoryDb& history, clsDrill& drill) {
    if (!history.IsOpen())
        return;
    try {
        clsDrill loaded;
        history.Query("SELECT interval_type, interval, first_degree, second_degree, gap, streak, "
                      "wait FROM drill ORDER BY rowid",
                      {}, [&](const HistoryDb::Row& r) {
                          loaded.Entries.push_back(
                              {{int32_t(*r[0]), int32_t(*r[1]), int32_t(*r[2]), int32_t(*r[3])},
                               int32_t(*r[4]),
                               int32_t(*r[5]),
                               int32_t(*r[6])});
                      });
        // A question counts as missed when an answer asked was wrong or the
        // answer was shown, as for the score.
        history.Query("SELECT interval_type, interval, NOT (right_first AND right_second AND "
                      "right_interval) OR answer_shown FROM answers ORDER BY id",
                      {}, [&](const HistoryDb::Row& r) {
                          loaded.Learn(int32_t(*r[0]), int32_t(*r[1]), *r[2] != 0);
                      });
        drill = std::move(loaded);
    } catch (const std::exception& error) {
        history.Fail(error.what());
    }
}

void SaveDrill(HistoryDb& history, const clsDrill& drill) {
    if (!history.IsOpen())
        return;
    try {
        history.Query("BEGIN IMMEDIATE", {}, nullptr);
        history.Query("DELETE FROM drill", {}, nullptr);
        for (const DrillEntry& e : drill.Entries)
            history.Query("INSERT INTO drill VALUES(?, ?, ?, ?, ?, ?, ?)",
                          {e.Item.Type, e.Item.Interval, e.Item.FirstDegree, e.Item.SecondDegree,
                           e.Gap, e.Streak, e.Wait},
                          nullptr);
        history.Query("COMMIT", {}, nullptr);
    } catch (const std::exception& error) {
        history.Fail(error.what()); // closing the history rolls the change back
    }
}

} // namespace sonavel
