#include "MainWindowHarness.h"

#include <gtest/gtest.h>

namespace sonavel::uitest {
namespace {

TEST(MainWindowKeys, AccessKeysStartAtOnceWithoutAnimatingThePress) {
    MainWindowHarness h;
    QApplication::setActiveWindow(h.Window.get());
    // Alt+S must run the whole question before the key press returns: a
    // button that animates its press first would only click 100 ms later.
    QTest::keyClick(h.Window.get(), Qt::Key_S, Qt::AltModifier);
    EXPECT_EQ(h.Window->State(), frmMain::Answering);
    EXPECT_GT(h.NoteOns(), 0);

    // Play again answers its own key the same way, and a disabled button
    // ignores its key.
    const int notes = h.NoteOns();
    QTest::keyClick(h.Window.get(), Qt::Key_A, Qt::AltModifier);
    EXPECT_GT(h.NoteOns(), notes);
    h.Click(QStringLiteral("cmdStop"));
    const int afterStop = h.NoteOns();
    QTest::keyClick(h.Window.get(), Qt::Key_A, Qt::AltModifier);
    EXPECT_EQ(h.NoteOns(), afterStop);
    EXPECT_EQ(h.Window->State(), frmMain::Idle);
}

TEST(MainWindowKeys, FeedbackHandsEventProcessingToTheGivenPump) {
    MainWindowHarness h;
    std::vector<int64_t> pumpedAt;
    h.Window->SetEventPump([&] { pumpedAt.push_back(h.Clock.NowMicros() / 1000); });
    h.Click(QStringLiteral("cmdStart"));
    ASSERT_EQ(h.Window->State(), frmMain::Answering);
    // Once per feedback: the question, four chords of the cadence, the notes.
    EXPECT_EQ(pumpedAt.size(), 6u);
}

} // namespace
} // namespace sonavel::uitest
