#include "platform/qt/QtMessageBoxes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>

namespace sonavel {
namespace {

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
