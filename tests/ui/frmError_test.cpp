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

TEST(ErrorDialog, ShowsTheReportAndRemembersTheDetailsState) {
    frmError dialog;
    auto* details = dialog.findChild<QPushButton*>("cmdDetails");
    auto* box = dialog.findChild<QPlainTextEdit*>("txtErrorDetails");
    ASSERT_TRUE(details && box);
    EXPECT_TRUE(box->isReadOnly());
    // Collapsed, the dialog ends between its buttons and the details box.
    EXPECT_LT(dialog.findChild<QPushButton*>("cmdClose")->geometry().bottom(),
              frmError::CollapsedHeightPx);
    EXPECT_LT(frmError::CollapsedHeightPx, box->geometry().top());
    EXPECT_GT(frmError::ExpandedHeightPx, box->geometry().bottom());

    clsErrorHandler errors;
    errors.SetPresenter(&dialog);
    errors.PrepareError("clsMidi::OpenMIDI()", -3, "Cannot open MIDI device.");
    // Two showings, Details pressed once in each: the second opens in the
    // state the first left, and the state is back as it was after both.
    const bool shownAtFirst = frmError::DetailsVisible();
    for (int showing = 0; showing < 2; ++showing) {
        SCOPED_TRACE(showing);
        const bool shown = shownAtFirst != (showing == 1);
        QString title, text, report, caption;
        QSize size;
        QTimer::singleShot(0, &dialog, [&] {
            title = dialog.windowTitle();
            text = dialog.findChild<QLabel*>("lblError")->text();
            report = box->toPlainText();
            caption = details->text();
            size = dialog.size();
            QTest::mouseClick(details, Qt::LeftButton);
            QTest::mouseClick(dialog.findChild<QPushButton*>("cmdClose"), Qt::LeftButton);
        });
        errors.ShowError("frmMain::cmdStart_Click()", 5, "Some\r\ntext");
        EXPECT_EQ(title, QStringLiteral("Sonavel - Advanced"));
        EXPECT_EQ(text, QStringLiteral("Some\ntext"));
        EXPECT_EQ(report, QString(showing == 0 ? "Source: clsMidi::OpenMIDI()\nCode  : -3\n"
                                                 "String: Cannot open MIDI device.\n\n"
                                               : "") +
                              "Source: frmMain::cmdStart_Click()\nCode  : 5\nString: Some\ntext");
        EXPECT_EQ(caption, shown ? QStringLiteral("<< &Details") : QStringLiteral("&Details >>"));
        EXPECT_EQ(size, QSize(frmError::ClientWidthPx,
                              shown ? frmError::ExpandedHeightPx : frmError::CollapsedHeightPx));
    }
    EXPECT_EQ(frmError::DetailsVisible(), shownAtFirst);
    EXPECT_TRUE(errors.ErrorDetails().empty());
}

} // namespace
} // namespace sonavel
