#include "MainWindowHarness.h"

#include <QPushButton>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <random>
#include <unistd.h>

namespace sonavel::uitest {
namespace {

// Resident memory of this process in bytes.
int64_t ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    int64_t size = 0, resident = 0;
    statm >> size >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

// The score as a person would work it out: correct / questions as a percentage
// to one decimal, an exact half going to the even tenth, no trailing ".0".
QString ExpectedScore(int64_t correct, int64_t questions) {
    const int64_t twice = 2000 * correct; // twice the percentage in tenths, times questions
    int64_t tenths = (twice + questions) / (2 * questions);
    if (twice % (2 * questions) == questions && tenths % 2 == 1)
        --tenths;
    QString text = QString::number(tenths / 10);
    if (tenths % 10 != 0)
        text += QLatin1Char('.') + QString::number(tenths % 10);
    return text + QLatin1Char('%');
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool MemoryIsMeasurable = false; // freed memory is held in quarantine
#else
constexpr bool MemoryIsMeasurable = true;
#endif

int QuestionCount() {
    if (const char* count = std::getenv("SONAVEL_SOAK_QUESTIONS"))
        return std::max(100, std::atoi(count));
    return 2000;
}

// Many questions through the real window, every setting drawn at random and
// every way of answering taken at random: the counters and the score follow an
// independent count, and after a warm-up the memory stays where it was.
// SONAVEL_SOAK_QUESTIONS sets how many (at least 100); 2,000 keep the normal
// run short, 10,000 take about a minute.
TEST(Soak, ManyQuestionsAnsweredAtRandomKeepTheScoreAndTheMemory) {
    MainWindowHarness h([](clsSettings& settings) {
        settings.SetRandomKey(true);
        settings.SetRandomKeyType(true);
        settings.SetKeyReferenceSettings(1);
        settings.SetMIDIRandomInstrumentKR(true);
        settings.SetMIDIRandomInstrumentRN(true);
        settings.SelIntervalsAsc.assign(13, true);
        settings.SelIntervalsDesc.assign(13, true);
        settings.SelIntervalsHarm.assign(13, true);
    });
    const int questions = QuestionCount();
    const int warmUp = questions / 10;
    std::mt19937 random(20260101);
    enum Answer { Right, Wrong, Shown, Stopped };
    std::discrete_distribution<int> answers{4, 2, 1, 1};
    int64_t counted = 0, correct = 0, asked = 0, stopped = 0, wrong = 0;
    int64_t residentAfterWarmUp = 0;
    int64_t notes = 0;
    const auto started = std::chrono::steady_clock::now();

    h.Click(QStringLiteral("cmdStart"));
    while (asked < questions) {
        ++asked;
        ASSERT_EQ(h.Window->State(), frmMain::Answering) << "question " << asked;
        if (asked == warmUp)
            residentAfterWarmUp = ResidentBytes();
        bool missed = false;
        bool next = false;
        while (!next) {
            switch (answers(random)) {
            case Right:
                h.AnswerCorrectly();
                h.Click(QStringLiteral("cmdValidate"));
                ++counted;
                correct += missed ? 0 : 1;
                next = true;
                break;
            case Wrong: {
                const clsEngine& engine = h.Window->Engine();
                h.Pick(QStringLiteral("lstNoteAnswer_0"), (engine.FirstNote() + 1) % 7);
                h.Pick(QStringLiteral("lstNoteAnswer_1"), engine.SecondNote());
                h.Pick(QStringLiteral("lstIntervalAnswer"), engine.CurrentInterval());
                h.Click(QStringLiteral("cmdValidate"));
                ASSERT_EQ(h.Text(QStringLiteral("lblFeedback")),
                          QStringLiteral("No,\nnot correct."));
                missed = true;
                ++wrong;
                break;
            }
            case Shown:
                h.Click(QStringLiteral("cmdShowAnswer"));
                h.Click(QStringLiteral("cmdValidate"));
                ++counted;
                next = true;
                break;
            case Stopped:
                h.Click(QStringLiteral("cmdStop"));
                ASSERT_EQ(h.Window->State(), frmMain::Idle);
                ++stopped;
                if (asked < questions)
                    h.Click(QStringLiteral("cmdStart"));
                next = true;
                break;
            }
        }
        if (counted > 0) {
            ASSERT_EQ(h.Text(QStringLiteral("lblTotalQ")), QString::number(counted)) << asked;
            ASSERT_EQ(h.Text(QStringLiteral("lblTotalA")), QString::number(correct)) << asked;
            ASSERT_EQ(h.Text(QStringLiteral("lblScore")), ExpectedScore(correct, counted)) << asked;
        }
        // The recorders keep everything; the window must not.
        notes += h.NoteOns();
        ASSERT_TRUE(h.AllNotesStopped()) << asked;
        h.Output.Messages.clear();
        h.Clock.Sleeps.clear();
    }
    const int64_t growth = ResidentBytes() - residentAfterWarmUp;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::cout << questions << " questions (" << counted << " counted, " << correct << " correct, "
              << wrong << " wrong answers, " << stopped << " stopped), " << notes << " notes, "
              << seconds << " s; resident " << ResidentBytes() / 1024 << " KiB, grew "
              << growth / 1024 << " KiB after question " << warmUp << "\n";

    EXPECT_TRUE(h.Presenter.Reports.empty());
    EXPECT_TRUE(h.Boxes.Boxes.empty());
    EXPECT_EQ(h.Output.Opens, 1) << "the device stayed open";
    EXPECT_GT(stopped, 0);
    EXPECT_GT(wrong, 0);
    EXPECT_GT(counted - correct, 0);
    if (MemoryIsMeasurable) {
        EXPECT_LT(growth, 1024 * 1024) << "bytes of resident memory gained";
    }
}

} // namespace
} // namespace sonavel::uitest
