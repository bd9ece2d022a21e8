#include "VirtualClock.h"
#include "platform/SteadyClock.h"
#include "platform/qt/QtMessageBoxes.h"
#include "ui/RepaintingClock.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>

namespace sonavel {
namespace {

TEST(RepaintingClock, SleepsInSlicesOfTheWrappedClockAndHandlesEvents) {
    fakes::VirtualClock inner;
    RepaintingClock clock(inner);
    int handled = 0;
    QTimer::singleShot(0, [&handled] { ++handled; });
    clock.SleepMs(40);
    EXPECT_EQ(inner.Sleeps, (std::vector<int32_t>{0, 15, 15, 10}));
    EXPECT_EQ(inner.NowMs(), 40);
    EXPECT_EQ(clock.NowMicros(), 40000);
    EXPECT_EQ(handled, 1);

    clock.SleepMs(0);
    EXPECT_EQ(inner.NowMs(), 40);
}

TEST(RepaintingClock, SlowEventsAtTheStartOfAWaitDoNotDelayItsEnd) {
    // The first wait after an idle gap: a repaint of 20 ms at its start must
    // come out of the wait, or every later note of the question is late.
    int64_t now = 5'000'000'000;
    SteadyClock steady([&] { return now; }, [&](int64_t deadline) { now = deadline; });
    RepaintingClock clock(steady);
    QTimer::singleShot(0, [&now] { now += 20'000'000; });
    const int64_t start = now;
    clock.SleepMs(100);
    EXPECT_EQ(now - start, 100'000'000);
}

TEST(QtMessageBoxes, ShowsTitleTextIconAndOk) {
    const std::pair<MsgIcon, QMessageBox::Icon> icons[] = {
        {MsgIcon::Critical, QMessageBox::Critical},
        {MsgIcon::Exclamation, QMessageBox::Warning},
        {MsgIcon::Information, QMessageBox::Information},
    };
    QtMessageBoxes boxes;
    for (const auto& [icon, shown] : icons) {
        QString title, text;
        QMessageBox::Icon seenIcon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            title = box->windowTitle();
            text = box->text();
            seenIcon = box->icon();
            buttons = box->standardButtons();
            box->button(QMessageBox::Ok)->click();
        });
        boxes.Show("Incomplete answer", "First line\r\nsecond line.", icon);
        EXPECT_EQ(title, QStringLiteral("Incomplete answer"));
        EXPECT_EQ(text, QStringLiteral("First line\nsecond line."));
        EXPECT_EQ(seenIcon, shown);
        EXPECT_EQ(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }
}

} // namespace
} // namespace sonavel
