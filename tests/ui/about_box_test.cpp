#include "RecordingPresenter.h"
#include "platform/qt/Artwork.h"
#include "startup/clsErrorHandler.h"
#include "ui/frmAbout.h"

#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QStringList>
#include <QWidget>
#include <cstdlib>
#include <gtest/gtest.h>

namespace sonavel {
namespace {

TEST(AboutBox, ShowsTheProgramAndTakesCaptionAndIconFromTheMainWindow) {
    QWidget main;
    main.setWindowTitle("Sonavel - Advanced");
    main.setWindowIcon(ProgramIcon());
    fakes::RecordingPresenter presenter;
    clsErrorHandler errors;
    errors.SetPresenter(&presenter);

    frmAbout about(&main, &errors);
    EXPECT_EQ(about.windowTitle(), "About Sonavel - Advanced");
    EXPECT_EQ(about.windowIcon().cacheKey(), main.windowIcon().cacheKey());
    EXPECT_FALSE(main.windowIcon().isNull());

    auto* title = about.findChild<QLabel*>("lblTitle");
    auto* scream = about.findChild<QLabel*>("lblScream");
    auto* text = about.findChild<QLabel*>("lblAbout");
    auto* picture = about.findChild<QLabel*>("imgScream");
    auto* ok = about.findChild<QPushButton*>("cmdOK");
    ASSERT_TRUE(title && scream && text && picture && ok);

    EXPECT_EQ(title->text(), "Sonavel - Advanced");
    EXPECT_TRUE(scream->text().isEmpty());
    EXPECT_LT(scream->font().pointSizeF(), text->font().pointSizeF());
    EXPECT_EQ(ok->text(), "OK");
    EXPECT_FALSE(picture->pixmap().isNull()) << "the picture is not compiled in";

    // Nine lines, each ended by CR LF; lines 3 and 4 are ours to word.
    const QStringList lines = text->text().split("\r\n");
    ASSERT_EQ(lines.size(), 10);
    EXPECT_EQ(lines[0], "Version 1.0 - 27 January 2008");
    EXPECT_EQ(lines[1], "");
    EXPECT_FALSE(lines[2].trimmed().isEmpty());
    EXPECT_FALSE(lines[3].trimmed().isEmpty());
    EXPECT_EQ(lines[4], "");
    EXPECT_EQ(lines[5], "Thanks to all the Sonavel fans");
    EXPECT_EQ(lines[6], "for their feedback and support!");
    EXPECT_EQ(lines[7], "");
    EXPECT_EQ(lines[8], "");
    EXPECT_EQ(lines[9], "");
    for (const QString& line : lines)
        EXPECT_FALSE(line.contains('\n') || line.contains('\r'));

    for (QWidget* w :
         {static_cast<QWidget*>(title), static_cast<QWidget*>(scream), static_cast<QWidget*>(text),
          static_cast<QWidget*>(picture), static_cast<QWidget*>(ok)})
        EXPECT_FALSE(w->accessibleName().isEmpty()) << w->objectName().toStdString();
    EXPECT_TRUE(presenter.Reports.empty());
}

TEST(AboutBox, OKIsCentredAndClosesTheBox) {
    QWidget main;
    main.setWindowTitle("Main");
    frmAbout about(&main);
    about.show();
    QApplication::processEvents();
    auto* ok = about.findChild<QPushButton*>("cmdOK");
    ASSERT_NE(ok, nullptr);
    EXPECT_LE(std::abs(ok->geometry().center().x() - about.width() / 2), 1)
        << "button at " << ok->x() << " width " << ok->width() << " in " << about.width();

    ok->click();
    EXPECT_FALSE(about.isVisible());
    EXPECT_EQ(about.result(), QDialog::Accepted);
}

} // namespace
} // namespace sonavel
