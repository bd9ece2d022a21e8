#include "MainWindowHarness.h"
#include "TempDir.h"
#include "history/HistoryDb.h"

#include <QBarSeries>
#include <QBarSet>
#include <QChartView>
#include <QGraphicsSimpleTextItem>
#include <QTableWidget>

namespace sonavel::uitest {
namespace {

// Three fifths, one answered Unison first: Ctrl+T shows them, Export, Clear once confirmed.
TEST(StatisticsWindow, ShowsExportsAndClearsWhatWasAnswered) {
    MainWindowHarness h(
        [](clsSettings& s) { s.SelIntervalsAsc.assign(13, false), s.SelIntervalsAsc[7] = true; });
    HistoryDb db;
    ASSERT_TRUE(db.Open(h.Dir.filePath(HistoryDb::FileName).toStdString()));
    h.Window->SetHistory(&db);
    h.Click("cmdStart");
    for (const int first : {7, 0, 7}) { // the second asks twice, the others go on at once
        h.AnswerCorrectly();
        h.Pick("lstIntervalAnswer", first);
        h.Click("cmdValidate");
        h.Pick("lstIntervalAnswer", 7);
        h.Click("cmdValidate");
    }
    h.Key(Qt::Key_T, Qt::ControlModifier);
    QChart* chart = h.Find<QChartView>("chtIntervals")->chart();
    EXPECT_EQ(qobject_cast<QBarSeries*>(chart->series().at(0))->barSets()[0]->at(7), 200.0 / 3);
    QStringList counts; // type_interval=count
    for (QGraphicsItem* item : chart->childItems())
        if (item->data(0).isValid())
            counts << item->data(0).toString() + '=' +
                          static_cast<QGraphicsSimpleTextItem*>(item)->text();
    EXPECT_EQ(counts, QStringList("0_7=3"));
    auto* matrix = h.Find<QTableWidget>("tblConfusion");
    EXPECT_EQ(matrix->item(7, 7)->text() + ' ' + matrix->item(7, 0)->text(), "2\n67% 1\n33%");

    h.Desk.SaveAs = h.Dir.filePath("export.csv").toStdString();
    h.Click("cmdExport");
    const auto rows = QString::fromStdString(fakes::ReadFile(h.Desk.SaveAs)).split("\r\n");
    ASSERT_EQ(rows.size(), 5); // a header, three questions and the end of the last line
    EXPECT_EQ(rows[1].section(',', 5, 5) + rows[2].section(',', 12, 12), "Perfect fifthUnison");
    for (const bool yes : {false, true}) {
        h.Boxes.Yes = yes;
        h.Click("cmdClear");
        EXPECT_EQ(h.Text("lblSummary").startsWith("3 questions"), !yes);
    }
    h.Click("chkRecord");
    EXPECT_FALSE(db.Recording());
}

} // namespace
} // namespace sonavel::uitest
