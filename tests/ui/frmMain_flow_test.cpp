#include "MainWindowHarness.h"

#include <QFileInfo>
#include <QGroupBox>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>
#include <set>

namespace sonavel::uitest {
namespace {

const QString IdleStatus = QStringLiteral(
    "You may change program settings if you want. Then press the Start button and listen "
    "carefully.");
const QString AnsweringStatus =
    QStringLiteral("Select the correct answers from the lists. Press Stop to cancel this "
                   "question or press Play Again to repeat the question.");
const QString KeyReferenceStatus =
    QStringLiteral("Listen to the key reference... (establish the tonality)");
const QString TwoNotesStatus =
    QStringLiteral("Listen to the 2 notes... (hear how they fit in the current key)");

QColor TextColour(QLabel* label) {
    return label->palette().color(QPalette::WindowText);
}

// Only row 7 (the perfect fifth) in the given column.
auto OnlyFifth(int column) {
    return [column](clsSettings& settings) {
        settings.SelIntervalsAsc.assign(13, false);
        settings.SelIntervalsDesc.assign(13, false);
        settings.SelIntervalsHarm.assign(13, false);
        (column == 0   ? settings.SelIntervalsAsc
         : column == 1 ? settings.SelIntervalsDesc
                       : settings.SelIntervalsHarm)[7] = true;
    };
}

TEST(MainWindowFlow, WholeQuestionThenCorrectAnswerStartsTheNextQuestion) {
    MainWindowHarness h;
    EXPECT_EQ(h.Status(), IdleStatus);
    EXPECT_EQ(h.Window->windowTitle(), QStringLiteral("Sonavel - Advanced"));

    h.Click("cmdStart");
    EXPECT_EQ(h.Window->State(), frmMain::Answering);
    EXPECT_EQ(h.Status(), AnsweringStatus);
    // The cadence (four chords of four notes), then the two notes of the question.
    ASSERT_EQ(h.NoteOns(), 18);
    std::vector<int> started;
    for (const auto& message : h.Output.Messages)
        if ((message.Status() & 0xF0) == 0x90 && message.Data2() > 0)
            started.push_back(message.Data1());
    EXPECT_EQ(started[16], h.Window->Engine().FirstMidiNote());
    EXPECT_EQ(started[17], h.Window->Engine().SecondMidiNote());
    EXPECT_TRUE(h.AllNotesStopped());
    EXPECT_EQ(h.Text("lblNoteAnswer_0"), QStringLiteral("1. What was the first note?"));
    EXPECT_EQ(h.Text("lblNoteAnswer_1"), QStringLiteral("2. What was the second note?"));

    h.AnswerCorrectly();
    // What the next question's key reference shows: the verdict and score stay
    // until its two notes begin.
    QString verdict, status, total, correct, score;
    QColor colour;
    frmMain::QuestionState state = frmMain::Idle;
    h.Clock.OnSleep = [&] {
        if (!verdict.isEmpty())
            return;
        verdict = h.Text("lblFeedback");
        colour = TextColour(h.Find<QLabel>("lblFeedback"));
        status = h.Status();
        total = h.Text("lblTotalQ");
        correct = h.Text("lblTotalA");
        score = h.Text("lblScore");
        state = h.Window->State();
    };
    h.Click("cmdValidate");
    EXPECT_EQ(verdict, QStringLiteral("Correct!"));
    EXPECT_EQ(colour, QColor(0, 192, 0));
    EXPECT_EQ(status, KeyReferenceStatus);
    EXPECT_EQ(total, QStringLiteral("1"));
    EXPECT_EQ(correct, QStringLiteral("1"));
    EXPECT_EQ(score, QStringLiteral("100%"));
    EXPECT_EQ(state, frmMain::Playing);

    EXPECT_EQ(h.NoteOns(), 36);
    EXPECT_EQ(h.Window->State(), frmMain::Answering);
    EXPECT_EQ(h.Text("lblFeedback"), QString());
    for (const char* list : {"lstNoteAnswer_0", "lstNoteAnswer_1", "lstIntervalAnswer"})
        EXPECT_EQ(h.SelectedRow(list), -1) << list;
    EXPECT_TRUE(h.Presenter.Reports.empty());
}

TEST(MainWindowFlow, WrongThenRightCountsOneQuestionAndNoCorrectAnswer) {
    MainWindowHarness h;
    h.Click("cmdStart");
    const clsEngine& engine = h.Window->Engine();
    const int wrongInterval = (engine.CurrentInterval() + 1) % 13;
    h.Pick("lstNoteAnswer_0", engine.FirstNote());
    h.Pick("lstNoteAnswer_1", engine.SecondNote());
    h.Pick("lstIntervalAnswer", wrongInterval);
    const int notesBefore = h.NoteOns();

    h.Click("cmdValidate");
    EXPECT_EQ(h.Text("lblFeedback"), QStringLiteral("No,\nnot correct."));
    EXPECT_EQ(TextColour(h.Find<QLabel>("lblFeedback")), QColor(255, 0, 0));
    EXPECT_EQ(h.Text("lblTotalQ"), QStringLiteral("0"));
    EXPECT_EQ(h.Text("lblTotalA"), QStringLiteral("0"));
    EXPECT_EQ(h.Text("lblScore"), QString());
    EXPECT_EQ(h.Window->State(), frmMain::Answering);
    EXPECT_EQ(h.SelectedRow("lstIntervalAnswer"), wrongInterval);
    EXPECT_EQ(h.NoteOns(), notesBefore);

    h.Pick("lstIntervalAnswer", engine.CurrentInterval());
    h.Click("cmdValidate");
    EXPECT_EQ(h.Text("lblTotalQ"), QStringLiteral("1"));
    EXPECT_EQ(h.Text("lblTotalA"), QStringLiteral("0"));
    EXPECT_EQ(h.Text("lblScore"), QStringLiteral("0%"));
    EXPECT_GT(h.NoteOns(), notesBefore);
}

TEST(MainWindowFlow, ShownAnswerIsCorrectButNotCounted) {
    MainWindowHarness h;
    h.Click("cmdStart");
    h.Click("cmdShowAnswer");
    const clsEngine& engine = h.Window->Engine();
    EXPECT_EQ(h.SelectedRow("lstNoteAnswer_0"), engine.FirstNote());
    EXPECT_EQ(h.SelectedRow("lstNoteAnswer_1"), engine.SecondNote());
    EXPECT_EQ(h.SelectedRow("lstIntervalAnswer"), engine.CurrentInterval());
    EXPECT_EQ(h.Window->State(), frmMain::Answering);

    QString verdict;
    h.Clock.OnSleep = [&] {
        if (verdict.isEmpty())
            verdict = h.Text("lblFeedback");
    };
    h.Click("cmdValidate");
    EXPECT_EQ(verdict, QStringLiteral("Correct!"));
    EXPECT_EQ(h.Text("lblTotalQ"), QStringLiteral("1"));
    EXPECT_EQ(h.Text("lblTotalA"), QStringLiteral("0"));
    EXPECT_EQ(h.Text("lblScore"), QStringLiteral("0%"));

    // The next question starts with a clear missed flag.
    h.AnswerCorrectly();
    h.Click("cmdValidate");
    EXPECT_EQ(h.Text("lblTotalQ"), QStringLiteral("2"));
    EXPECT_EQ(h.Text("lblTotalA"), QStringLiteral("1"));
    EXPECT_EQ(h.Text("lblScore"), QStringLiteral("50%"));

    h.Click("cmdStop");
    h.Click("cmdReset");
    EXPECT_EQ(h.Text("lblTotalQ"), QStringLiteral("0"));
    EXPECT_EQ(h.Text("lblTotalA"), QStringLiteral("0"));
    EXPECT_EQ(h.Text("lblScore"), QString());
}

TEST(MainWindowFlow, StopDuringAnsweringKeepsTheAnswersUntilTheNextStart) {
    MainWindowHarness h;
    h.Click("cmdStart");
    h.Pick("lstNoteAnswer_0", 2);
    h.Pick("lstIntervalAnswer", 4);
    const size_t messages = h.Output.Messages.size();

    h.Click("cmdStop");
    EXPECT_EQ(h.Window->State(), frmMain::Idle);
    EXPECT_EQ(h.Status(), IdleStatus);
    EXPECT_EQ(h.Output.Messages.size(), messages);
    EXPECT_EQ(h.SelectedRow("lstNoteAnswer_0"), 2);
    EXPECT_EQ(h.SelectedRow("lstIntervalAnswer"), 4);
    EXPECT_EQ(h.Text("lblTotalQ"), QStringLiteral("0"));

    h.Click("cmdStart");
    EXPECT_EQ(h.SelectedRow("lstNoteAnswer_0"), -1);
    EXPECT_EQ(h.SelectedRow("lstIntervalAnswer"), -1);
}

TEST(MainWindowFlow, StartWithoutAnyIntervalOnlyComplains) {
    MainWindowHarness h;
    h.Click("chkAscInt_5");
    h.Click("chkAscInt_7");
    ASSERT_FALSE(h.Ticked("chkAscInt_5"));

    h.Click("cmdStart");
    ASSERT_EQ(h.Boxes.Boxes.size(), 1u);
    EXPECT_EQ(h.Boxes.Boxes[0].Title, "Sonavel - Advanced");
    EXPECT_EQ(h.Boxes.Boxes[0].Text,
              "Select at least one ascending, descending or harmonic interval.");
    EXPECT_EQ(h.Boxes.Boxes[0].Icon, MsgIcon::Critical);
    EXPECT_EQ(h.Window->State(), frmMain::Idle);
    EXPECT_TRUE(h.Output.Messages.empty());
    EXPECT_EQ(h.Output.Opens, 0);

    // One box in the last row is enough.
    h.Click("chkHarmInt_12");
    h.Click("cmdStart");
    EXPECT_EQ(h.Window->State(), frmMain::Answering);
    EXPECT_EQ(h.Window->Engine().CurrentInterval(), 12);
}

TEST(MainWindowFlow, ControlsFollowTheQuestionState) {
    struct Row {
        const char* Control;
        bool Idle, Playing, Answering;
    };
    // Answering leaves the frames and Start as Playing left them.
    const Row table[] = {
        {"fraAnswers", false, false, true},
        {"fraCadence", true, false, false},
        {"fraIntervalChoices", true, false, false},
        {"fraKey", true, false, false},
        {"fraKeyType", true, false, false},
        // The score stays readable while practising; only Reset follows.
        {"lblScore", true, true, true},
        {"cmdReset", true, false, false},
        {"fraTempo", true, false, false},
        {"cmdPlayAgain", false, false, true},
        {"cmdStart", true, false, false},
        {"cmdStop", false, false, true},
        {"cmdShowAnswer", false, false, true},
        {"cmdValidate", false, false, true},
        {"cboKey", true, false, false},
        {"chkAscInt_0", true, false, false},
    };
    MainWindowHarness h;
    std::map<std::string, bool> playing;
    std::vector<bool> menus;
    h.Clock.OnSleep = [&] {
        if (!playing.empty())
            return;
        for (const Row& row : table)
            playing[row.Control] = h.On(row.Control);
        for (const char* menu : {"mnuFile", "mnuView", "mnuTools", "mnuHelp", "mnuFileExit"})
            menus.push_back(h.Find<QAction>(menu)->isEnabled());
    };
    for (const Row& row : table)
        EXPECT_EQ(h.On(row.Control), row.Idle) << row.Control << " when idle";
    h.Click("cmdStart");
    for (const Row& row : table) {
        EXPECT_EQ(playing[row.Control], row.Playing) << row.Control << " when playing";
        EXPECT_EQ(h.On(row.Control), row.Answering) << row.Control << " when answering";
    }
    EXPECT_EQ(menus, std::vector<bool>(5, true));

    // A disabled frame keeps its controls' own state: after Stop they work again.
    h.Click("cmdStop");
    for (const Row& row : table)
        EXPECT_EQ(h.On(row.Control), row.Idle) << row.Control << " after Stop";
}

TEST(MainWindowFlow, StatusTextsAndHarmonicCaptions) {
    MainWindowHarness h(OnlyFifth(2));
    std::vector<QString> statuses;
    h.Clock.OnSleep = [&] {
        if (statuses.empty() || statuses.back() != h.Status())
            statuses.push_back(h.Status());
    };
    h.Click("cmdStart");
    EXPECT_EQ(statuses, (std::vector<QString>{KeyReferenceStatus, TwoNotesStatus}));
    EXPECT_EQ(h.Status(), AnsweringStatus);
    EXPECT_EQ(h.Window->Engine().CurrentIntervalType(), 2);
    EXPECT_EQ(h.Text("lblNoteAnswer_0"), QStringLiteral("1. What was the lowest note?"));
    EXPECT_EQ(h.Text("lblNoteAnswer_1"), QStringLiteral("2. What was the highest note?"));

    // A melodic question switches the captions back.
    h.Click("cmdStop");
    h.Click("chkHarmInt_7");
    h.Click("chkDescInt_7");
    h.Click("cmdStart");
    EXPECT_EQ(h.Window->Engine().CurrentIntervalType(), 1);
    EXPECT_EQ(h.Text("lblNoteAnswer_0"), QStringLiteral("1. What was the first note?"));
    EXPECT_EQ(h.Text("lblNoteAnswer_1"), QStringLiteral("2. What was the second note?"));
}

TEST(MainWindowFlow, RandomChoicesOfAQuestionShowInThePanels) {
    MainWindowHarness h([](clsSettings& settings) {
        settings.SetRandomKey(true);
        settings.SetRandomKeyType(true);
        settings.SetKeyReferenceSettings(1);
    });
    std::set<std::tuple<int, int, int>> shown;
    for (int question = 0; question < 6; ++question) {
        h.Click("cmdStart");
        const auto keyShown = h.Find<QComboBox>("cboKey")->currentIndex();
        const auto typeShown = h.Find<QComboBox>("cboKeyType")->currentIndex();
        const auto referenceShown = h.Find<QComboBox>("cboKeyReference")->currentIndex();
        EXPECT_EQ(keyShown, h.Settings.CurrentKey());
        EXPECT_EQ(typeShown, h.Settings.CurrentKeyType());
        EXPECT_EQ(referenceShown, h.Settings.CurrentKeyReference());
        shown.insert({keyShown, typeShown, referenceShown});
        // The lists name the notes of the question's key.
        const auto names = h.Entries("lstNoteAnswer_0");
        EXPECT_EQ(names.size(), 7);
        EXPECT_EQ(names.value(0).toStdString(), h.Settings.NotesArray.at(0));
        // The random options survive the question.
        EXPECT_TRUE(h.Ticked("optKey_1"));
        EXPECT_TRUE(h.Ticked("optKeyType_1"));
        EXPECT_TRUE(h.Ticked("optReference_1"));
        EXPECT_TRUE(h.Settings.RandomKey());
        h.Click("cmdStop");
    }
    EXPECT_GT(shown.size(), 1u);
}

TEST(MainWindowFlow, EachQuestionPreferenceSkipsItsLists) {
    struct Row {
        int Mode;
        bool First, Second, Interval;
    };
    const Row table[] = {{0, false, true, true},
                         {1, true, false, true},
                         {2, false, false, true},
                         {3, true, true, false},
                         {5, true, true, true}};
    for (const Row& row : table) {
        SCOPED_TRACE("question preference " + std::to_string(row.Mode));
        MainWindowHarness h;
        h.Trigger(MainWindowHarness::Indexed("mnuViewCheatMode", row.Mode));
        EXPECT_EQ(h.Settings.CheatMode(), row.Mode);
        for (int i : {0, 1, 2, 3, 5})
            EXPECT_EQ(
                h.Find<QAction>(MainWindowHarness::Indexed("mnuViewCheatMode", i))->isChecked(),
                i == row.Mode);

        h.Click("cmdStart");
        EXPECT_EQ(h.On("lblNoteAnswer_0"), row.First);
        EXPECT_EQ(h.On("lstNoteAnswer_0"), row.First);
        EXPECT_EQ(h.On("lblNoteAnswer_1"), row.Second);
        EXPECT_EQ(h.On("lstNoteAnswer_1"), row.Second);
        EXPECT_EQ(h.On("lblIntervalAnswer"), row.Interval);
        EXPECT_EQ(h.On("lstIntervalAnswer"), row.Interval);

        // Clicks on a skipped list do nothing; the rest is enough.
        h.AnswerCorrectly();
        EXPECT_EQ(h.SelectedRow("lstNoteAnswer_0") != -1, row.First);
        EXPECT_EQ(h.SelectedRow("lstIntervalAnswer") != -1, row.Interval);
        h.Click("cmdValidate");
        EXPECT_TRUE(h.Boxes.Boxes.empty());
        EXPECT_EQ(h.Text("lblTotalA"), QStringLiteral("1"));

        // A question that is asked must be answered.
        if (row.Interval) {
            h.Pick("lstNoteAnswer_0", h.Window->Engine().FirstNote());
            h.Pick("lstNoteAnswer_1", h.Window->Engine().SecondNote());
            h.Click("cmdValidate");
            ASSERT_EQ(h.Boxes.Boxes.size(), 1u);
            EXPECT_EQ(h.Boxes.Boxes[0].Title, "Incomplete answer");
            EXPECT_EQ(h.Boxes.Boxes[0].Text,
                      "Please select the correct notes and interval\r\nfrom the corresponding "
                      "lists in the \"Questions\" frame.");
            EXPECT_EQ(h.Boxes.Boxes[0].Icon, MsgIcon::Exclamation);
            EXPECT_EQ(h.Text("lblTotalQ"), QStringLiteral("1"));
        }

        // The default entry asks all three again.
        h.Trigger(QStringLiteral("mnuViewCheatMode_5"));
        for (const char* control : {"lstNoteAnswer_0", "lstNoteAnswer_1", "lstIntervalAnswer"})
            EXPECT_TRUE(h.On(control)) << control;
    }
}

TEST(MainWindowFlow, FailedPlaybackReturnsToTheStateBefore) {
    MainWindowHarness h;
    h.Output.FailOpenWith = 2;
    h.Click("cmdStart");
    ASSERT_EQ(h.Presenter.Reports.size(), 1u);
    EXPECT_EQ(h.Presenter.Reports[0].Text, "Internal Error");
    EXPECT_NE(h.Presenter.Reports[0].Details.find("Source: frmMain::cmdStart_Click()"),
              std::string::npos);
    EXPECT_EQ(h.Window->State(), frmMain::Idle);
    EXPECT_TRUE(h.On("cmdStart"));
    EXPECT_TRUE(h.On("fraKey"));
    EXPECT_EQ(h.Status(), IdleStatus);
    EXPECT_EQ(h.Window->cursor().shape(), Qt::ArrowCursor);

    // The user fixes the device and tries again.
    h.Output.FailOpenWith = 0;
    h.Click("cmdStart");
    EXPECT_EQ(h.Window->State(), frmMain::Answering);
    EXPECT_EQ(h.NoteOns(), 18);

    // A failing replay goes back to answering.
    h.Settings.SetPlaybackSpeed(0);
    h.Click("cmdPlayAgain");
    ASSERT_EQ(h.Presenter.Reports.size(), 2u);
    EXPECT_NE(h.Presenter.Reports[1].Details.find("Source: frmMain::cmdPlayAgain_Click()"),
              std::string::npos);
    EXPECT_EQ(h.Window->State(), frmMain::Answering);
    EXPECT_TRUE(h.On("cmdPlayAgain"));
    EXPECT_EQ(h.Window->cursor().shape(), Qt::ArrowCursor);
}

TEST(MainWindowFlow, PlayAgainRepeatsTheQuestionAndKeepsTheAnswers) {
    MainWindowHarness h;
    auto notes = [&h] {
        std::vector<uint32_t> packed;
        for (const auto& message : h.Output.Messages)
            if ((message.Status() & 0xF0) == 0x90)
                packed.push_back(message.Packed);
        return packed;
    };
    h.Click("cmdStart");
    const std::vector<uint32_t> first = notes();
    h.Pick("lstNoteAnswer_1", 3);
    h.Click("cmdPlayAgain");
    std::vector<uint32_t> twice = first;
    twice.insert(twice.end(), first.begin(), first.end());
    EXPECT_EQ(notes(), twice);
    EXPECT_EQ(h.SelectedRow("lstNoteAnswer_1"), 3);
    EXPECT_EQ(h.Window->State(), frmMain::Answering);
}

// A close that arrives while a question plays (the window manager's, or Exit
// from the menu that stays usable): the settings are saved, the question ends
// at once with its notes stopped, and the window closes. A modal dialog still
// open then is closed with it, or the program could not end.
TEST(MainWindowFlow, ClosingDuringPlaybackEndsTheQuestionAndCloses) {
    for (const bool fromMenu : {false, true}) {
        SCOPED_TRACE(fromMenu ? "File, Exit" : "window manager close");
        MainWindowHarness h;
        h.Clock.OnSleep = [&h, fromMenu] {
            h.Clock.OnSleep = nullptr;
            if (fromMenu)
                h.Trigger(QStringLiteral("mnuFileExit"));
            else
                h.Window->close();
        };
        h.Click("cmdStart");
        EXPECT_FALSE(h.Window->isVisible());
        EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(h.SettingsPath)));
        EXPECT_EQ(h.NoteOns(), 4) << "the first chord only";
        EXPECT_TRUE(h.AllNotesStopped());
        EXPECT_EQ(h.Window->cursor().shape(), Qt::ArrowCursor);
        EXPECT_TRUE(h.Presenter.Reports.empty());
    }

    MainWindowHarness h;
    QTimer::singleShot(0, h.Window.get(), [&h] { h.Window->close(); });
    h.Trigger(QStringLiteral("mnuHelpAbout"));
    EXPECT_FALSE(h.Window->isVisible());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST(MainWindowFlow, ScoreIsRoundedToOneDecimalHalvesToEven) {
    struct Row {
        int Correct, Questions;
        const char* Text;
    };
    const Row table[] = {
        {0, 1, "0%"},         {1, 1, "100%"},        {1, 2, "50%"},    {2, 3, "66.7%"},
        {1, 3, "33.3%"},      {1, 6, "16.7%"},       {3, 4, "75%"},    {1, 8, "12.5%"},
        {1, 16, "6.2%"},      {3, 16, "18.8%"},      {5, 16, "31.2%"}, {7, 16, "43.8%"},
        {1999, 2000, "100%"}, {1997, 2000, "99.8%"}, {1, 2000, "0%"},  {3, 2000, "0.2%"},
    };
    for (const Row& row : table)
        EXPECT_EQ(frmMain::ScoreText(row.Correct, row.Questions).toStdString(), row.Text)
            << row.Correct << " of " << row.Questions;
}

} // namespace
} // namespace sonavel::uitest
