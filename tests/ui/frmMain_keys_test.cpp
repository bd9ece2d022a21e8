#include "MainWindowHarness.h"

#include <gtest/gtest.h>

namespace sonavel::uitest {
namespace {

// The keyboard alone runs a question: Alt+S starts it at once, the focus waits
// on the first list that asks, Enter validates, and Stop gives the focus back
// to Start rather than to the help picture.
TEST(MainWindowKeys, KeyboardAloneStartsAnswersAndStops) {
    MainWindowHarness h([](clsSettings& settings) { settings.SetCheatMode(0); });
    QApplication::setActiveWindow(h.Window.get());
    // No animated press: the question is playing when the key press returns.
    QTest::keyClick(h.Window.get(), Qt::Key_S, Qt::AltModifier);
    EXPECT_EQ(h.Window->State(), frmMain::Playing);
    h.Settle();
    ASSERT_EQ(h.Window->State(), frmMain::Answering);
    // Question 1 is skipped, so its list is passed over.
    EXPECT_EQ(QApplication::focusWidget(), h.Find<QWidget>("lstNoteAnswer_1"));

    h.Key(Qt::Key_Return);
    ASSERT_EQ(h.Boxes.Boxes.size(), 1u);
    EXPECT_EQ(h.Boxes.Boxes[0].Title, "Incomplete answer");
    EXPECT_EQ(h.Text("lblTotalQ"), QStringLiteral("0"));

    h.Pick("lstNoteAnswer_1", h.Window->Engine().SecondNote());
    h.Pick("lstIntervalAnswer", h.Window->Engine().CurrentInterval());
    const int notes = h.NoteOns();
    h.Key(Qt::Key_Enter);
    EXPECT_EQ(h.Text("lblTotalA"), QStringLiteral("1"));
    EXPECT_GT(h.NoteOns(), notes);

    QTest::keyClick(h.Window.get(), Qt::Key_S, Qt::AltModifier);
    h.Settle();
    EXPECT_EQ(h.Window->State(), frmMain::Idle);
    EXPECT_EQ(QApplication::focusWidget(), h.Find<QWidget>("cmdStart"));
    // A disabled button ignores its key.
    const int afterStop = h.NoteOns();
    QTest::keyClick(h.Window.get(), Qt::Key_A, Qt::AltModifier);
    h.Settle();
    EXPECT_EQ(h.NoteOns(), afterStop);
}

} // namespace
} // namespace sonavel::uitest
