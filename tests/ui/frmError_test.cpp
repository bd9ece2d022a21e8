#include "startup/clsErrorHandler.h"
#include "ui/frmError.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace sonavel {
namespace {

// Two showings, Details pressed once in each: the second opens in the state
// the first left, shows only its own report, and CR LF shows as one line end.
TEST(ErrorDialog, ShowsTheReportAndRemembersTheDetailsState) {
    frmError dialog;
    auto* details = dialog.findChild<QPushButton*>("cmdDetails");
    clsErrorHandler errors;
    errors.SetPresenter(&dialog);
    errors.PrepareError("clsMidi::OpenMIDI()", -3, "Cannot open MIDI device.");
    const bool shownAtFirst = frmError::DetailsVisible();
    for (int showing = 0; showing < 2; ++showing) {
        QString text, report;
        int height = 0;
        QTimer::singleShot(0, &dialog, [&] {
            text = dialog.findChild<QLabel*>("lblError")->text();
            report = dialog.findChild<QPlainTextEdit*>("txtErrorDetails")->toPlainText();
            height = dialog.height();
            QTest::mouseClick(details, Qt::LeftButton);
            QTest::mouseClick(dialog.findChild<QPushButton*>("cmdClose"), Qt::LeftButton);
        });
        errors.ShowError("frmMain::cmdStart_Click()", 5, "Some\r\ntext");
        EXPECT_EQ(text, QStringLiteral("Some\ntext"));
        EXPECT_EQ(report.contains("clsMidi::OpenMIDI()"), showing == 0);
        EXPECT_TRUE(
            report.endsWith("Source: frmMain::cmdStart_Click()\nCode  : 5\nString: Some\ntext"));
        EXPECT_EQ(height, shownAtFirst != (showing == 1) ? frmError::ExpandedHeightPx
                                                         : frmError::CollapsedHeightPx);
    }
    EXPECT_EQ(frmError::DetailsVisible(), shownAtFirst);
}

} // namespace
} // namespace sonavel
