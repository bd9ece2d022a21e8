// How quickly the practice history keeps an answer, and how quickly the
// Statistics window opens, on a history of 100,000 questions made in a
// temporary folder: the median and maximum of 1,000 Records, of the queries of
// each period, and of the window itself (offscreen) opening and changing period.
//
//   history_bench [--screenshots FOLDER]   also saves the window's pictures of the help
#include "history/HistoryDb.h"
#include "history/HistoryStats.h"
#include "platform/qt/QtDesktop.h"
#include "platform/qt/QtMessageBoxes.h"
#include "settings/clsSettings.h"
#include "ui/frmStatistics.h"

#include <QApplication>
#include <QComboBox>
#include <QTabWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <vector>

using namespace sonavel;
using WallClock = std::chrono::steady_clock;

namespace {

constexpr int Questions = 100'000, Timed = 1'000;
constexpr int64_t Day = 86'400'000;

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// A student who hears fifths and octaves better than the tritone and sevenths,
// takes an interval for a near one when wrong, and improves over the year
// (progress 0 to 1).
AnswerRecord Question(std::mt19937& random, int64_t at, double progress) {
    static const double ease[13] = {0.97, 0.70, 0.78, 0.80, 0.82, 0.85, 0.55,
                                    0.92, 0.66, 0.72, 0.60, 0.64, 0.95};
    auto pick = [&](int n) { return int32_t(random() % unsigned(n)); };
    auto chance = [&](double p) { return std::uniform_real_distribution<>(0, 1)(random) < p; };
    AnswerRecord r;
    r.AskedAtMs = at;
    r.Key = pick(15), r.KeyType = pick(4), r.KeyReference = pick(3);
    r.IntervalType = pick(3), r.Interval = pick(13);
    r.FirstDegree = pick(7), r.SecondDegree = pick(7);
    r.FirstMidiNote = 60 + r.FirstDegree, r.SecondMidiNote = 60 + r.SecondDegree;
    const double skill = 0.8 + 0.2 * progress - 0.05 * r.IntervalType;
    r.AnsweredFirst = chance(skill) ? r.FirstDegree : pick(7);
    r.AnsweredSecond = chance(skill * 0.95) ? r.SecondDegree : pick(7);
    r.AnsweredInterval = chance(ease[r.Interval] * skill + 0.1)
                             ? r.Interval
                             : std::clamp(r.Interval + (pick(2) ? 1 : -1) * (1 + pick(2)), 0, 12);
    r.AnswerMs = 1000 + pick(4000);
    return r;
}

// Median, 99th percentile and maximum of the times of body, in milliseconds.
struct Figures {
    double Median, Percentile99, Max;
};
template <class Body> Figures Time(int runs, Body&& body) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        const auto start = WallClock::now();
        body(i);
        ms.push_back(std::chrono::duration<double, std::milli>(WallClock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms[ms.size() * 99 / 100], ms.back()};
}

void Print(const char* what, Figures figures, double goal) {
    std::printf("%-48s median %7.3f ms   99%% %7.3f ms   max %7.3f ms   goal < %g ms\n", what,
                figures.Median, figures.Percentile99, figures.Max, goal);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::string folder = (std::filesystem::temp_directory_path() / "sonavel-bench-XXXXXX").string();
    if (!mkdtemp(folder.data()))
        return 1;
    int status = 0;
    {
        HistoryDb db;
        if (!db.Open(folder + "/" + HistoryDb::FileName)) {
            std::fprintf(stderr, "%s\n", db.TakeProblem().c_str());
            return 1;
        }
        // A year of practice, the newest questions now.
        std::mt19937 random(100'000);
        const int64_t now = NowMs(), first = now - 365 * Day;
        auto at = [&](int i) { return first + int64_t(i) * 365 * Day / Questions; };
        db.Query("BEGIN", {}, nullptr);
        for (int i = 0; i < Questions - Timed; ++i)
            db.Record(Question(random, at(i), double(i) / Questions));
        db.Query("COMMIT", {}, nullptr);
        std::printf("History of %d questions over 365 days in %s\n\n", Questions, folder.c_str());

        Print("Record, one question",
              Time(Timed,
                   [&](int i) { db.Record(Question(random, at(Questions - Timed + i), 1.0)); }),
              2);
        // Earlier sessions' answers are in the database file, as after a close.
        db.Query("PRAGMA wal_checkpoint(TRUNCATE)", {}, nullptr);
        const HistoryStats stats(db);
        const char* names[] = {"Queries of one period: this session (1 hour)",
                               "Queries of one period: today", "Queries of one period: 7 days",
                               "Queries of one period: all time"};
        for (int period = HistoryStats::Session; period <= HistoryStats::AllTime; ++period) {
            const int64_t since =
                HistoryStats::PeriodStartMs(HistoryStats::Period(period), now, now - 3'600'000);
            Print(names[period],
                  Time(20,
                       [&](int) {
                           stats.IntervalFigures(since), stats.NoteFigures(since), stats.Daily(30);
                           stats.Daily(30);
                       }),
                  200);
        }
        QtMessageBoxes boxes;
        QtDesktop desktop;
        const clsSettings settings;
        const HistoryNames labels{settings.KeyArray, settings.KeyTypeArray, settings.IntervalArray};
        Print("Statistics window opening (all time), offscreen",
              Time(10,
                   [&](int) {
                       frmStatistics window(&db, labels, now - 3'600'000, boxes, desktop);
                       window.show();
                       QCoreApplication::processEvents();
                   }),
              200);
        frmStatistics window(&db, labels, now - 3'600'000, boxes, desktop);
        window.show();
        auto* period = window.findChild<QComboBox*>(QStringLiteral("cboPeriod"));
        Print("Statistics window, a period chosen",
              Time(20,
                   [&](int i) {
                       period->setCurrentIndex(i % 4);
                       QCoreApplication::processEvents();
                   }),
              200);
        status = db.TakeProblem().empty() ? 0 : 1;
        // The pictures of the help: the window on this history, a tab each.
        if (argc > 2 && std::string(argv[1]) == "--screenshots") {
            auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("tabStatistics"));
            period->setCurrentIndex(HistoryStats::AllTime);
            window.resize(1100, 600);
            for (const auto& [tab, file] :
                 {std::pair(0, "statistics.png"), {1, "statistics-confusions.png"}}) {
                tabs->setCurrentIndex(tab);
                QCoreApplication::processEvents();
                if (!window.grab().save(QString::fromStdString(std::string(argv[2]) + "/" + file)))
                    status = 1;
            }
        }
    }
    std::filesystem::remove_all(folder);
    return status;
}
