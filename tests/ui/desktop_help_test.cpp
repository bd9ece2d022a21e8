#include "platform/qt/HelpBrowser.h"
#include "platform/qt/HelpLocation.h"
#include "platform/qt/QtDesktop.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QUrl>
#include <gtest/gtest.h>

namespace sonavel {
namespace {

void WriteFile(const QString& path, const QByteArray& contents) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(contents);
}

// Beside the program only, and neither, are what the main window's Help
// menu test finds.
TEST(HelpLocation, FindsThePagesInTheBuildTreeBeforeTheInstallation) {
    for (const bool besideProgram : {false, true}) {
        QTemporaryDir root;
        const QString bin = root.filePath("prefix/bin");
        const QString beside = bin + "/help/index.htm";
        const QString installed = root.filePath("prefix/share/sonavel/help/index.htm");
        WriteFile(installed, "<html></html>");
        if (besideProgram)
            WriteFile(beside, "<html></html>");
        EXPECT_EQ(QString::fromStdString(HelpIndexPath(bin.toStdString())),
                  besideProgram ? beside : installed);
    }
}

TEST(HelpWindow, IsReusedWhileOpenAndStartsAfreshOnThePageOnceClosed) {
    QTemporaryDir dir;
    const QString index = dir.filePath("help/index.htm");
    WriteFile(index, "<html><head><title>Contents</title></head><body><p>Front page</p></body>");
    WriteFile(dir.filePath("help/second.htm"), "<html><body><p>Second page</p></body></html>");
    QtDesktop desktop;
    desktop.ShowHelpPage(index.toStdString());
    HelpBrowser* window = desktop.HelpWindow();
    ASSERT_NE(window, nullptr);
    auto showing = [window](const char* text) {
        return window->isVisible() && window->Browser()->toPlainText().contains(text);
    };
    EXPECT_TRUE(showing("Front page"));
    EXPECT_EQ(window->windowTitle(), "Contents - Sonavel Help");

    // The user goes to another page and minimises the window; a second
    // request brings it forward as it was.
    window->Browser()->setSource(QUrl("second.htm"));
    window->showMinimized();
    desktop.ShowHelpPage(index.toStdString());
    EXPECT_EQ(desktop.HelpWindow(), window);
    EXPECT_FALSE(window->isMinimized());
    EXPECT_TRUE(showing("Second page"));
    window->findChild<QPushButton*>("cmdContents")->click();
    EXPECT_TRUE(showing("Front page"));

    // Closed on another page: the next request starts again on the page.
    window->Browser()->setSource(QUrl("second.htm"));
    window->close();
    desktop.ShowHelpPage(index.toStdString());
    EXPECT_TRUE(showing("Front page"));
    EXPECT_FALSE(window->Browser()->isBackwardAvailable());
    // Closed on the very page, which has changed meanwhile: it is read again.
    window->close();
    WriteFile(index, "<html><body><p>Updated page</p></body></html>");
    desktop.ShowHelpPage(index.toStdString());
    EXPECT_TRUE(showing("Updated page"));
    window->close();
}

} // namespace
} // namespace sonavel
