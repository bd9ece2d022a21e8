#include "TempDir.h"
#include "platform/qt/HelpBrowser.h"
#include "platform/qt/QtDesktop.h"
#include "platform/qt/QtMessageBoxes.h"
#include "startup/clsErrorHandler.h"
#include "ui/frmError.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>
#include <gtest/gtest.h>

namespace sonavel {
namespace {

// Closed on another page, the help starts afresh on the page asked for.
TEST(HelpWindow, StartsAfreshOnThePageOnceClosed) {
    fakes::TempDir dir;
    std::filesystem::create_directory(dir.Path / "help");
    const std::string index = (dir.Path / "help/index.htm").string();
    std::ofstream(index) << "<html><body><p>Front page</p></body></html>";
    std::ofstream(dir.Path / "help/second.htm") << "<html><body><p>Second page</p></body></html>";
    QtDesktop desktop;
    desktop.ShowHelpPage(index);
    HelpBrowser* window = desktop.HelpWindow();
    ASSERT_NE(window, nullptr);
    window->Browser()->setSource(QUrl("second.htm"));
    window->close();
    desktop.ShowHelpPage(index);
    EXPECT_TRUE(window->isVisible() && window->Browser()->toPlainText().contains("Front page"));
    EXPECT_FALSE(window->Browser()->isBackwardAvailable());
    window->close();
}

// Two showings, Details pressed once in each: the second opens in the state
// the first left, shows only its own report as plain text, and CR LF shows as one line end.
TEST(ErrorDialog, ShowsTheReportAndRemembersTheDetailsState) {
    frmError dialog;
    clsErrorHandler errors;
    errors.SetPresenter(&dialog);
    errors.PrepareError("clsMidi::OpenMIDI()", -3, "Cannot open MIDI device.");
    const bool shownAtFirst = frmError::DetailsVisible();
    for (int showing = 0; showing < 2; ++showing) {
        QString text, report;
        int height = 0;
        QTimer::singleShot(0, &dialog, [&] {
            text = dialog.findChild<QLabel*>("lblError")->text();
            EXPECT_EQ(dialog.findChild<QLabel*>("lblError")->textFormat(), Qt::PlainText);
            report = dialog.findChild<QPlainTextEdit*>("txtErrorDetails")->toPlainText();
            height = dialog.height();
            QTest::mouseClick(dialog.findChild<QPushButton*>("cmdDetails"), Qt::LeftButton);
            QTest::mouseClick(dialog.findChild<QPushButton*>("cmdClose"), Qt::LeftButton);
        });
        errors.ShowError("frmMain::cmdStart_Click()", 5, "Some\r\n<b>text</b>");
        EXPECT_EQ(text, QStringLiteral("Some\n<b>text</b>"));
        EXPECT_EQ(report.contains("clsMidi::OpenMIDI()"), showing == 0);
        EXPECT_EQ(height, shownAtFirst != (showing == 1) ? frmError::ExpandedHeightPx
                                                         : frmError::CollapsedHeightPx);
    }
    EXPECT_EQ(frmError::DetailsVisible(), shownAtFirst);
}

TEST(QtMessageBoxes, ShowsTheWarningIconAndOneLineEndPerCRLF) {
    std::pair<QString, QMessageBox::Icon> shown;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        shown = {box->text(), box->icon()};
        box->accept();
    });
    QtMessageBoxes().Show("Incomplete answer", "First line\r\nsecond line.", MsgIcon::Exclamation);
    EXPECT_EQ(shown, std::pair(QStringLiteral("First line\nsecond line."), QMessageBox::Warning));
}

} // namespace
} // namespace sonavel
