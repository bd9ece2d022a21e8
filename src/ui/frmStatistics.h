#pragma once

#include "history/HistoryStats.h"

#include <QDialog>
#include <cstdint>
#include <vector>

class QCheckBox;
class QComboBox;
class QGraphicsSimpleTextItem;
class QLabel;
class QPushButton;
class QTableWidget;
class QTabWidget;
class QBarSeries;
class QDateTimeAxis;
class QLineSeries;
class QChart;
class QChartView;

namespace sonavel {

class Desktop;
class HistoryDb;
class MessageBoxes;

// The Statistics window: what the practice history says about one period,
// as a bar chart of the intervals, the matrix of their confusions, the notes
// named per scale degree and key type, and a line of the last days of
// practice. It exports the history, clears it, and switches recording.
//
// Controls: cboPeriod, tabStatistics with chtIntervals, tblConfusion,
// tblNotes and chtDaily, lblSummary, chkRecord, cmdExport, cmdClear,
// cmdClose. Each bar's count is a text item of chtIntervals' chart whose
// data(0) is "type_interval".
class frmStatistics : public QDialog {
    Q_OBJECT
public:
    // history may be null or closed: the window then says so. The history,
    // boxes and desktop are not owned and must outlive the window.
    frmStatistics(HistoryDb* history, HistoryNames names, int64_t sessionStartMs,
                  MessageBoxes& boxes, Desktop& desktop, QWidget* parent = nullptr);

    // Reads the figures of the chosen period again.
    void Refresh();

private:
    void BuildControls();
    void ShowIntervals(const std::map<std::pair<int, int>, Tally>& tallies);
    void ShowConfusion(const std::map<std::pair<int, int>, int64_t>& counts);
    void ShowNotes(const HistoryStats::Notes& notes);
    void ShowDaily(const HistoryStats& stats);
    void PlaceCounts();
    void cmdExport_Click();
    void cmdClear_Click();
    bool Usable() const;

    HistoryDb* m_history;
    HistoryNames m_names;
    int64_t m_sessionStartMs;
    MessageBoxes& m_boxes;
    Desktop& m_desktop;

    QComboBox* m_cboPeriod;
    QLabel* m_lblSummary;
    QTabWidget* m_tabStatistics;
    QChartView* m_chtIntervals;
    QBarSeries* m_bars;
    QTableWidget* m_tblConfusion;
    QTableWidget* m_tblNotes;
    QChartView* m_chtDaily;
    QLineSeries* m_daily;
    QDateTimeAxis* m_dates;
    QCheckBox* m_chkRecord;
    QPushButton* m_cmdExport;
    QPushButton* m_cmdClear;
    QPushButton* m_cmdClose;
    // The count on each bar: (type, interval, text) in the chart.
    struct BarCount {
        int Type;
        int Interval;
        QGraphicsSimpleTextItem* Text;
    };
    std::vector<BarCount> m_counts;
};

} // namespace sonavel
