#include "ui/frmStatistics.h"

#include "history/HistoryDb.h"
#include "platform/Desktop.h"
#include "platform/MessageBoxes.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QDir>
#include <QGraphicsSimpleTextItem>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QValueAxis>
#include <fstream>

namespace sonavel {

namespace {

const char* const Directions[] = {"Ascending", "Descending", "Harmonic"};
constexpr int Degrees = 7;

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

double Percent(const Tally& tally) {
    return tally.Count ? 100.0 * double(tally.Right) / double(tally.Count) : 0.0;
}

QString PercentText(const Tally& tally) {
    return QString::number(std::lround(Percent(tally))) + QLatin1Char('%');
}

template <class Widget> Widget* Named(Widget* widget, const char* name, const QString& spoken) {
    widget->setObjectName(QLatin1String(name));
    widget->setAccessibleName(spoken);
    return widget;
}

QChartView* ChartView(const char* name, const QString& spoken) {
    auto* chart = new QChart;
    chart->setAnimationOptions(QChart::NoAnimation);
    chart->legend()->setAlignment(Qt::AlignBottom);
    auto* view = Named(new QChartView(chart), name, spoken);
    view->setRenderHint(QPainter::Antialiasing);
    view->setMinimumSize(640, 320);
    return view;
}

// The chart's series on a time or category axis below and 0-100 % at the left;
// built once, only the values change with the period.
void Axes(QChart* chart, QAbstractSeries* series, QAbstractAxis* below, const QString& title) {
    chart->setTitle(title);
    chart->addSeries(series);
    auto* percent = new QValueAxis;
    percent->setRange(0, 100);
    percent->setLabelFormat(QStringLiteral("%d%"));
    percent->setTitleText(QObject::tr("Right"));
    chart->addAxis(below, Qt::AlignBottom);
    chart->addAxis(percent, Qt::AlignLeft);
    series->attachAxis(below);
    series->attachAxis(percent);
}

QTableWidgetItem* Cell(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    item->setTextAlignment(Qt::AlignCenter);
    return item;
}

} // namespace

frmStatistics::frmStatistics(HistoryDb* history, HistoryNames names, int64_t sessionStartMs,
                             MessageBoxes& boxes, Desktop& desktop, QWidget* parent)
    : QDialog(parent), m_history(history), m_names(std::move(names)),
      m_sessionStartMs(sessionStartMs), m_boxes(boxes), m_desktop(desktop) {
    setObjectName(QStringLiteral("frmStatistics"));
    setWindowTitle(tr("Statistics"));
    BuildControls();
    // Wide enough for thirteen interval names under their bars and the whole matrix.
    resize(1100, 600);
    m_chkRecord->setChecked(Usable() && m_history->Recording());
    for (QWidget* control : {static_cast<QWidget*>(m_chkRecord), static_cast<QWidget*>(m_cmdExport),
                             static_cast<QWidget*>(m_cmdClear)})
        control->setEnabled(Usable());
    connect(m_cboPeriod, &QComboBox::currentIndexChanged, this, &frmStatistics::Refresh);
    connect(m_chkRecord, &QCheckBox::toggled, this, [this](bool on) {
        if (Usable())
            m_history->SetRecording(on);
    });
    connect(m_cmdExport, &QPushButton::clicked, this, &frmStatistics::cmdExport_Click);
    connect(m_cmdClear, &QPushButton::clicked, this, &frmStatistics::cmdClear_Click);
    connect(m_cmdClose, &QPushButton::clicked, this, &QDialog::close);
    connect(m_chtIntervals->chart(), &QChart::plotAreaChanged, this, &frmStatistics::PlaceCounts);
    Refresh();
}

bool frmStatistics::Usable() const {
    return m_history && m_history->IsOpen();
}

void frmStatistics::BuildControls() {
    m_cboPeriod = Named(new QComboBox, "cboPeriod", tr("Period"));
    m_cboPeriod->addItems({tr("This session"), tr("Today"), tr("Last 7 days"), tr("All time")});
    m_cboPeriod->setCurrentIndex(HistoryStats::AllTime);
    auto* lblPeriod = Named(new QLabel(tr("&Period:")), "lblPeriod", tr("Period"));
    lblPeriod->setBuddy(m_cboPeriod);
    m_lblSummary = Named(new QLabel, "lblSummary", tr("Summary"));
    m_lblSummary->setWordWrap(true);

    m_chtIntervals = ChartView("chtIntervals", tr("Accuracy per interval"));
    m_bars = new QBarSeries;
    auto* names = new QBarCategoryAxis;
    for (const std::string& name : m_names.Intervals)
        names->append(Q(name));
    names->setLabelsAngle(-90);
    for (const char* direction : Directions)
        m_bars->append(new QBarSet(tr(direction)));
    Axes(m_chtIntervals->chart(), m_bars, names,
         tr("Interval answers right, with the number of questions on each bar"));
    m_tblConfusion = Named(new QTableWidget, "tblConfusion", tr("Confusions"));
    m_tblConfusion->setWordWrap(true);
    m_tblNotes = Named(new QTableWidget, "tblNotes", tr("Notes"));
    m_chtDaily = ChartView("chtDaily", tr("Daily accuracy"));
    m_daily = new QLineSeries;
    m_daily->setName(tr("Questions right"));
    m_daily->setPointsVisible(true);
    m_dates = new QDateTimeAxis;
    m_dates->setFormat(QStringLiteral("d MMM"));
    Axes(m_chtDaily->chart(), m_daily, m_dates,
         tr("Questions right per day, the last 30 days of practice"));
    m_tabStatistics = Named(new QTabWidget, "tabStatistics", tr("Statistics"));
    m_tabStatistics->addTab(m_chtIntervals, tr("&Intervals"));
    m_tabStatistics->addTab(m_tblConfusion, tr("C&onfusions"));
    m_tabStatistics->addTab(m_tblNotes, tr("&Notes"));
    m_tabStatistics->addTab(m_chtDaily, tr("&Days"));

    m_chkRecord = Named(new QCheckBox(tr("&Keep a history of my answers")), "chkRecord",
                        tr("Keep a history of my answers"));
    m_cmdExport = Named(new QPushButton(tr("&Export...")), "cmdExport", tr("Export"));
    m_cmdClear = Named(new QPushButton(tr("Clear &history...")), "cmdClear", tr("Clear history"));
    m_cmdClose = Named(new QPushButton(tr("&Close")), "cmdClose", tr("Close"));
    m_cmdClose->setDefault(true);

    auto* top = new QHBoxLayout;
    top->addWidget(lblPeriod);
    top->addWidget(m_cboPeriod);
    top->addWidget(m_lblSummary, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_chkRecord);
    buttons->addStretch(1);
    for (QPushButton* button : {m_cmdExport, m_cmdClear, m_cmdClose})
        buttons->addWidget(button);
    auto* page = new QVBoxLayout(this);
    page->addLayout(top);
    page->addWidget(m_tabStatistics, 1);
    page->addLayout(buttons);
}

void frmStatistics::Refresh() {
    if (!Usable()) {
        m_lblSummary->setText(tr("No practice history is open, so there is nothing to show."));
        return;
    }
    const auto period = HistoryStats::Period(m_cboPeriod->currentIndex());
    const int64_t since = HistoryStats::PeriodStartMs(period, NowUtcMs(), m_sessionStartMs);
    try {
        const HistoryStats stats(*m_history);
        const HistoryStats::Intervals intervals = stats.IntervalFigures(since);
        const Tally overall = intervals.Overall;
        m_lblSummary->setText(overall.Count == 0
                                  ? tr("No questions answered in this period.")
                                  : tr("%1 questions, %2 right at the first answer (%3).")
                                        .arg(overall.Count)
                                        .arg(overall.Right)
                                        .arg(PercentText(overall)));
        ShowIntervals(intervals.Accuracy);
        ShowConfusion(intervals.Confusion);
        ShowNotes(stats.NoteFigures(since));
        ShowDaily(stats);
    } catch (const std::exception& error) {
        m_lblSummary->setText(tr("The practice history cannot be read: %1").arg(Q(error.what())));
    }
}

void frmStatistics::ShowIntervals(const std::map<std::pair<int, int>, Tally>& tallies) {
    QChart* chart = m_chtIntervals->chart();
    QFont small = chart->font();
    small.setPointSizeF(small.pointSizeF() * 0.8);
    for (const BarCount& count : m_counts)
        delete count.Text;
    m_counts.clear();
    for (int type = 0; type < 3; ++type) {
        QBarSet* set = m_bars->barSets()[type];
        set->remove(0, set->count());
        for (int interval = 0; interval < int(m_names.Intervals.size()); ++interval) {
            const auto found = tallies.find({type, interval});
            const Tally tally = found == tallies.end() ? Tally{} : found->second;
            *set << Percent(tally);
            if (tally.Count > 0) {
                auto* text = new QGraphicsSimpleTextItem(QString::number(tally.Count), chart);
                text->setData(0, QStringLiteral("%1_%2").arg(type).arg(interval));
                text->setFont(small);
                text->setRotation(-90); // upwards, as narrow as the bar
                m_counts.push_back({type, interval, text});
            }
        }
    }
    PlaceCounts();
}

// Grouped bars share the middle half of their category, a third each.
void frmStatistics::PlaceCounts() {
    QChart* chart = m_chtIntervals->chart();
    const qreal width = m_bars->barWidth();
    const int sets = int(m_bars->count());
    for (const BarCount& count : m_counts) {
        const qreal centre = count.Interval - width / 2 + (count.Type + 0.5) * width / sets;
        const qreal top = m_bars->barSets()[count.Type]->at(count.Interval);
        const QPointF at = chart->mapToPosition(QPointF(centre, top), m_bars);
        // Turned upwards about its top left corner, the text stands on that corner.
        count.Text->setPos(at.x() - count.Text->boundingRect().height() / 2, at.y() - 2);
    }
}

void frmStatistics::ShowConfusion(const std::map<std::pair<int, int>, int64_t>& counts) {
    const int n = int(m_names.Intervals.size());
    QStringList headers;
    for (const std::string& name : m_names.Intervals)
        headers << Q(name);
    m_tblConfusion->clear();
    m_tblConfusion->setRowCount(n);
    m_tblConfusion->setColumnCount(n);
    m_tblConfusion->setVerticalHeaderLabels(headers);
    // Answers across, in two lines so that thirteen columns fit.
    m_tblConfusion->setHorizontalHeaderLabels(
        headers.replaceInStrings(QStringLiteral(" "), QStringLiteral("\n")));
    std::vector<int64_t> rowTotals(std::size_t(n), 0);
    for (const auto& [cell, count] : counts)
        if (cell.first >= 0 && cell.first < n)
            rowTotals[std::size_t(cell.first)] += count;
    for (const auto& [cell, count] : counts) {
        const auto [asked, answered] = cell;
        if (asked < 0 || asked >= n || answered < 0 || answered >= n)
            continue;
        const double share = double(count) / double(rowTotals[std::size_t(asked)]);
        auto* item = Cell(QStringLiteral("%1\n%2%").arg(count).arg(std::lround(100 * share)));
        // Right answers in green, confusions in red, deeper as they take more of the row.
        QColor colour = asked == answered ? QColor(0, 160, 0) : QColor(220, 0, 0);
        colour.setAlphaF(float(0.15 + 0.6 * share));
        item->setBackground(colour);
        m_tblConfusion->setItem(asked, answered, item);
    }
    m_tblConfusion->resizeColumnsToContents();
    m_tblConfusion->resizeRowsToContents();
}

void frmStatistics::ShowNotes(const HistoryStats::Notes& notes) {
    const auto& [degrees, keyTypes] = notes;
    const int types = int(m_names.KeyTypes.size());
    m_tblNotes->clear();
    m_tblNotes->setRowCount(Degrees + types);
    m_tblNotes->setColumnCount(3);
    m_tblNotes->setHorizontalHeaderLabels({tr("Notes named"), tr("Right"), tr("Accuracy")});
    QStringList rows;
    auto row = [&](int at, const std::map<int, Tally>& tallies, int key) {
        const auto found = tallies.find(key);
        const Tally tally = found == tallies.end() ? Tally{} : found->second;
        m_tblNotes->setItem(at, 0, Cell(QString::number(tally.Count)));
        m_tblNotes->setItem(at, 1, Cell(QString::number(tally.Right)));
        m_tblNotes->setItem(at, 2, Cell(tally.Count ? PercentText(tally) : QString()));
    };
    for (int degree = 0; degree < Degrees; ++degree) {
        rows << tr("Degree %1").arg(degree + 1);
        row(degree, degrees, degree);
    }
    for (int type = 0; type < types; ++type) {
        rows << Q(m_names.KeyTypes[std::size_t(type)]);
        row(Degrees + type, keyTypes, type);
    }
    m_tblNotes->setVerticalHeaderLabels(rows);
    m_tblNotes->resizeColumnsToContents();
}

void frmStatistics::ShowDaily(const HistoryStats& stats) {
    const auto days = stats.Daily(30);
    QList<QPointF> points;
    for (const auto& [day, tally] : days)
        points.append(QPointF(double(day), Percent(tally)));
    m_daily->replace(points);
    m_dates->setTickCount(std::clamp(int(days.size()), 2, 8));
    if (!days.empty())
        m_dates->setRange(QDateTime::fromMSecsSinceEpoch(days.front().first).addDays(-1),
                          QDateTime::fromMSecsSinceEpoch(days.back().first).addDays(1));
}

void frmStatistics::cmdExport_Click() {
    const std::string path = m_desktop.ChooseSaveFile(
        tr("Export the practice history").toStdString(),
        QDir::home().filePath(QStringLiteral("sonavel-history.csv")).toStdString());
    if (path.empty())
        return;
    try {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        if (out)
            HistoryStats(*m_history).ExportCsv(out, m_names);
        if (out.flush())
            return;
    } catch (const std::exception& error) {
        m_boxes.Show("Statistics", "The history cannot be exported: " + std::string(error.what()),
                     MsgIcon::Exclamation);
        return;
    }
    m_boxes.Show("Statistics", "The history cannot be written to " + path + ".",
                 MsgIcon::Exclamation);
}

void frmStatistics::cmdClear_Click() {
    if (!m_boxes.Ask("Clear history",
                     "Remove every answer kept in the practice history? This cannot be undone."))
        return;
    m_history->Clear();
    Refresh();
}

} // namespace sonavel
