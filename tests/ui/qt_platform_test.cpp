#include "platform/qt/QtMessageBoxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>

namespace sonavel {
namespace {

TEST(QtMessageBoxes, ShowsTheWarningIconAndOneLineEndPerCRLF) {
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        text = box->text();
        icon = box->icon();
        box->accept();
    });
    QtMessageBoxes().Show("Incomplete answer", "First line\r\nsecond line.", MsgIcon::Exclamation);
    EXPECT_EQ(text, QStringLiteral("First line\nsecond line."));
    EXPECT_EQ(icon, QMessageBox::Warning);
}

} // namespace
} // namespace sonavel
