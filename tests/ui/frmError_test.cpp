#include "RecordingPresenter.h"
#include "startup/clsErrorHandler.h"
#include "ui/frmError.h"

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

namespace sonavel {
namespace {

struct Seen {
    QString Title, Text, Details, DetailsCaption;
    QSize Size;
    bool DetailsShown = false;
};

Seen Look(frmError& dialog) {
    return {dialog.windowTitle(),
            dialog.findChild<QLabel*>("lblError")->text(),
            dialog.findChild<QPlainTextEdit*>("txtErrorDetails")->toPlainText(),
            dialog.findChild<QPushButton*>("cmdDetails")->text(),
            dialog.size(),
            frmError::DetailsVisible()};
}

// Reports one error through the handler; while the dialog is up, look at it,
// run the user's actions and close it with its Close button.
Seen Report(clsErrorHandler& errors, frmError& dialog, const std::function<void()>& act = {}) {
    Seen seen;
    QTimer::singleShot(0, &dialog, [&] {
        seen = Look(dialog);
        if (act)
            act();
        QTest::mouseClick(dialog.findChild<QPushButton*>("cmdClose"), Qt::LeftButton);
    });
    errors.ShowError("frmMain::cmdStart_Click()", 5, "Some text");
    return seen;
}

TEST(ErrorDialog, ShowsTheReportAndRemembersTheDetailsState) {
    frmError dialog;
    EXPECT_EQ(dialog.findChild<QLabel*>("lblError")->text(),
              QStringLiteral("Error - cannot retrieve error number"));
    EXPECT_EQ(dialog.findChild<QPushButton*>("cmdClose")->text(), QStringLiteral("&Close"));
    EXPECT_TRUE(dialog.findChild<QPlainTextEdit*>("txtErrorDetails")->isReadOnly());

    clsErrorHandler errors;
    errors.SetPresenter(&dialog);
    const bool shownAtFirst = frmError::DetailsVisible();
    auto* details = dialog.findChild<QPushButton*>("cmdDetails");
    auto press = [details] { QTest::mouseClick(details, Qt::LeftButton); };

    errors.PrepareError("clsMidi::OpenMIDI()", -3, "Cannot open MIDI device.");
    Seen pressedTwice;
    const Seen first = Report(errors, dialog, [&] {
        press();
        press();
        pressedTwice = Look(dialog);
    });
    EXPECT_EQ(first.Title, QStringLiteral("Sonavel - Advanced"));
    EXPECT_EQ(first.Text, QStringLiteral("Some text"));
    EXPECT_EQ(first.Details, QStringLiteral("Source: clsMidi::OpenMIDI()\nCode  : -3\n"
                                            "String: Cannot open MIDI device.\n\n"
                                            "Source: frmMain::cmdStart_Click()\nCode  : 5\n"
                                            "String: Some text"));
    EXPECT_EQ(pressedTwice.Size, first.Size);
    EXPECT_EQ(pressedTwice.DetailsCaption, first.DetailsCaption);
    EXPECT_TRUE(errors.ErrorDetails().empty());

    // Whatever the user left, the next report opens the same way.
    for (bool expand : {true, false}) {
        const Seen before = Report(errors, dialog, [&] {
            if (frmError::DetailsVisible() != expand)
                press();
        });
        (void)before;
        const Seen after = Report(errors, dialog);
        EXPECT_EQ(after.DetailsShown, expand);
        EXPECT_EQ(after.DetailsCaption,
                  expand ? QStringLiteral("<< &Details") : QStringLiteral("&Details >>"));
        EXPECT_EQ(after.Size, QSize(312, expand ? 236 : 96));
        EXPECT_EQ(after.Details, QStringLiteral("Source: frmMain::cmdStart_Click()\nCode  : 5\n"
                                                "String: Some text"));
    }
    // Leave it as it was for other tests.
    if (frmError::DetailsVisible() != shownAtFirst)
        Report(errors, dialog, press);
}

TEST(ErrorDialog, CollapsedDialogEndsAboveTheDetailsBox) {
    frmError dialog;
    const QRect box = dialog.findChild<QPlainTextEdit*>("txtErrorDetails")->geometry();
    const QRect close = dialog.findChild<QPushButton*>("cmdClose")->geometry();
    EXPECT_EQ(box, QRect(9, 100, 293, 127));
    EXPECT_LT(close.bottom(), frmError::CollapsedHeightPx);
    EXPECT_LT(frmError::CollapsedHeightPx, box.top());
    EXPECT_GT(frmError::ExpandedHeightPx, box.bottom());
    EXPECT_EQ(frmError::ClientWidthPx, 312);
}

} // namespace
} // namespace sonavel
