#include "MainWindowHarness.h"

#include <QFileInfo>
#include <QTimer>
#include <cmath>
#include <map>
#include <tuple>

namespace sonavel::uitest {
namespace {

// A correct answer starts the next question at once: while its key reference
// sounds the verdict and the counters show, and the score stays readable while
// everything else of the settings is locked; then the answers are cleared.
// Only answers right at the first try count as correct, until Reset.
TEST(MainWindowFlow, ControlsAndVerdictFollowTheQuestion) {
    MainWindowHarness h;
    const auto enabled = [&h] { // 1 or 0 for each, in this order
        std::string on;
        for (const char* control : {"fraAnswers", "fraKey", "lblScore", "cmdReset", "cmdStop"})
            on += h.On(control) ? '1' : '0';
        return on;
    };
    std::string playing; // at the first wait of a question: the controls, File Exit, the labels
    h.Clock.OnSleep = [&] {
        if (!playing.empty())
            return;
        playing = enabled() + (h.Find<QAction>("mnuFileExit")->isEnabled() ? "|1" : "|0");
        for (const char* label : {"lblFeedback", "lblTotalQ", "lblTotalA", "lblScore"})
            playing += "|" + h.Text(label).toStdString();
    };
    const std::string idle = "01110";
    EXPECT_EQ(enabled(), idle);
    h.Click("cmdStart");
    EXPECT_EQ(playing.substr(0, 7), "00100|1");
    EXPECT_EQ(enabled(), "10101");

    h.AnswerCorrectly();
    playing.clear();
    h.Click("cmdValidate");
    EXPECT_EQ(playing, "00100|1|Correct!|1|1|100%");
    EXPECT_EQ(h.Text("lblFeedback"), QString());
    for (const char* list : {"lstNoteAnswer_0", "lstNoteAnswer_1", "lstIntervalAnswer"})
        EXPECT_TRUE(h.Find<QListWidget>(list)->selectedItems().isEmpty()) << list;

    // Wrong first, then right in the same list: asked, but not answered.
    h.AnswerCorrectly();
    h.Pick("lstNoteAnswer_0", (h.Window->Engine().FirstNote() + 1) % 7);
    h.Click("cmdValidate");
    h.Pick("lstNoteAnswer_0", h.Window->Engine().FirstNote());
    h.Click("cmdValidate");
    EXPECT_EQ(h.Text("lblTotalQ") + ' ' + h.Text("lblTotalA"), QStringLiteral("2 1"));
    h.Click("cmdStop");
    EXPECT_EQ(enabled(), idle) << "after Stop";
    h.Click("cmdReset");
    EXPECT_EQ(h.Text("lblTotalQ") + h.Text("lblTotalA") + h.Text("lblScore"), QStringLiteral("00"));
    h.Click("cmdStart"); // counting starts afresh
    h.AnswerCorrectly();
    h.Click("cmdValidate");
    EXPECT_EQ(h.Text("lblTotalA") + ' ' + h.Text("lblScore"), QStringLiteral("1 100%"));
    EXPECT_TRUE(h.Presenter.Reports.empty());
}

// Without any interval a start only complains; one box of the last row is
// enough. Harmonic questions ask for the lowest and highest note, melodic ones
// for the first and second.
TEST(MainWindowFlow, IntervalBoxesDecideWhatIsAsked) {
    MainWindowHarness h;
    h.Click("chkAscInt_5");
    h.Click("chkAscInt_7");
    h.Click("cmdStart");
    ASSERT_EQ(h.Boxes.Boxes.size(), 1u);
    EXPECT_TRUE(h.Output.OpenedDevices.empty());
    for (const char* box : {"chkHarmInt_12", "chkDescInt_12"}) {
        h.Click(box);
        h.Click("cmdStart");
        EXPECT_EQ(h.Window->Engine().CurrentInterval(), 12);
        const bool harmonic = h.Window->Engine().CurrentIntervalType() == 2;
        EXPECT_EQ(harmonic, box[3] == 'H');
        EXPECT_EQ(h.Text("lblNoteAnswer_0").contains("lowest"), harmonic);
        EXPECT_EQ(h.Text("lblNoteAnswer_1").contains("highest"), harmonic);
        h.Click("cmdStop");
        h.Click("chkHarmInt_12");
    }
}

// The keyboard alone runs a question under each question preference: the
// focus waits on the first list that asks, Enter says the answer is
// incomplete until every list asked has an answer, then validates; Alt+S
// stops.
TEST(MainWindowFlow, KeyboardAloneAnswersWhatEachPreferenceAsks) {
    // Whether each preference asks the first note, the second and the interval.
    const bool table[4][3] = {
        {false, true, true}, {true, false, true}, {false, false, true}, {true, true, false}};
    const char* lists[] = {"lstNoteAnswer_0", "lstNoteAnswer_1", "lstIntervalAnswer"};
    for (int mode = 0; mode < 4; ++mode) {
        SCOPED_TRACE("question preference " + std::to_string(mode));
        const bool* asked = table[mode];
        MainWindowHarness h;
        h.Trigger(At("mnuViewCheatMode", mode));
        h.Key(Qt::Key_S, Qt::AltModifier);
        ASSERT_EQ(h.Window->State(), frmMain::Answering);
        const int answers[] = {h.Window->Engine().FirstNote(), h.Window->Engine().SecondNote(),
                               h.Window->Engine().CurrentInterval()};
        EXPECT_EQ(QApplication::focusWidget(),
                  h.Find<QWidget>(lists[std::find(asked, asked + 3, true) - asked]));
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(h.On(lists[i]), asked[i]) << lists[i];
            if (asked[i]) { // Enter before each list asked is answered
                h.Key(Qt::Key_Return);
                ASSERT_EQ(h.Boxes.Boxes.size(), 1u) << lists[i] << " unanswered";
                EXPECT_EQ(h.Boxes.Boxes[0].Title, "Incomplete answer");
                h.Boxes.Boxes.clear();
                h.Pick(lists[i], answers[i]);
            }
        }
        h.Key(Qt::Key_Enter);
        EXPECT_TRUE(h.Boxes.Boxes.empty());
        EXPECT_EQ(h.Text("lblTotalA"), QStringLiteral("1"));
        h.Key(Qt::Key_S, Qt::AltModifier);
        EXPECT_EQ(QApplication::focusWidget(), h.Find<QWidget>("cmdStart"));
        EXPECT_EQ(h.Window->State(), frmMain::Idle);
    }
}

// A close while a question plays (the window manager's, or File, Exit): the
// settings are saved, the question ends at once with its notes stopped, and
// a modal dialog still open closes with the window.
TEST(MainWindowFlow, ClosingDuringPlaybackEndsTheQuestionAndCloses) {
    for (const bool fromMenu : {false, true}) {
        MainWindowHarness h;
        h.Clock.OnSleep = [&h, fromMenu] {
            h.Clock.OnSleep = nullptr;
            fromMenu ? h.Trigger(QStringLiteral("mnuFileExit")) : void(h.Window->close());
        };
        h.Click("cmdStart");
        EXPECT_FALSE(h.Window->isVisible()) << fromMenu;
        EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(h.SettingsPath)));
        EXPECT_EQ(std::ranges::count_if(
                      h.Output.Messages,
                      [](const auto& m) { return (m.Status() & 0xF0) == 0x90 && m.Data2() > 0; }),
                  4)
            << "the first chord only";
        EXPECT_TRUE(h.Output.AllNotesStopped());
    }
    MainWindowHarness h;
    QTimer::singleShot(0, h.Window.get(), [&h] { h.Window->close(); });
    h.Trigger(QStringLiteral("mnuHelpAbout"));
    EXPECT_FALSE(h.Window->isVisible());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// A percentage to one decimal, an exact half to the even tenth, no ".0".
TEST(MainWindowFlow, ScoreIsRoundedToOneDecimalHalvesToEven) {
    const std::tuple<int, int, const char*> table[] = {
        {1, 16, "6.2%"}, {3, 16, "18.8%"}, {2, 3, "66.7%"}, {3, 4, "75%"}, {1999, 2000, "100%"}};
    for (const auto& [correct, questions, score] : table)
        EXPECT_EQ(frmMain::ScoreText(correct, questions), QLatin1String(score));
}

double Linear(double v) { // a colour channel's share of relative luminance, as WCAG 2 defines it
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}
double Ratio(const QColor& x, const QColor& y) { // WCAG 2 contrast ratio
    double l[2], *p = l;
    for (const QColor& c : {x, y})
        *p++ = 0.2126 * Linear(c.redF()) + 0.7152 * Linear(c.greenF()) + 0.0722 * Linear(c.blueF());
    return (std::max(l[0], l[1]) + 0.05) / (std::min(l[0], l[1]) + 0.05);
}

// Under a dark theme the verdicts (their text against the window as drawn) and the button rims
// reach the 4.5:1 WCAG asks for normal text; back on a light theme the rims take its colours.
TEST(MainWindowLook, VerdictsAndRimsReadableOnADarkPalette) {
    QApplication::setPalette(QPalette(QColor(53, 53, 53)));
    MainWindowHarness h;
    std::map<QString, double> contrast; // by verdict (and the blank before them) or rim
    const auto measure = [&, label = h.Find<QLabel>("lblFeedback")] {
        contrast.emplace(label->text(), Ratio(label->palette().color(QPalette::WindowText),
                                              h.Window->grab().toImage().pixelColor(
                                                  label->mapTo(h.Window.get(), QPoint(1, 1)))));
    };
    h.Clock.OnSleep = measure; // "Correct!" shows while the next question plays
    for (int wrong : {0, 1}) {
        h.Click("cmdStart");
        h.AnswerCorrectly();
        h.Pick("lstNoteAnswer_0", (h.Window->Engine().FirstNote() + wrong) % 7);
        h.Click("cmdValidate");
    }
    measure();
    for (const char* rim : {"shpStart", "shpPlayAgain", "shpStop"})
        contrast.emplace(rim, Ratio(h.Find(rim)->palette().color(QPalette::Window),
                                    h.Window->palette().color(QPalette::Window)));
    QApplication::setPalette(QApplication::style()->standardPalette());
    QCoreApplication::processEvents();
    EXPECT_EQ(h.Find("shpPlayAgain")->palette().color(QPalette::Window), QColor(Qt::black));
    EXPECT_EQ(contrast.size(), 6u);
    for (const auto& [what, ratio] : contrast)
        EXPECT_GE(ratio, 4.5) << what.toStdString();
}

} // namespace
} // namespace sonavel::uitest
