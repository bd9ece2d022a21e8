#include "platform/qt/HelpBrowser.h"
#include "platform/qt/HelpLocation.h"
#include "platform/qt/QtDesktop.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
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

// The pages beside the program win over the installed ones (the main
// window's Help menu test covers neither).
TEST(HelpLocation, FindsThePagesInTheBuildTreeBeforeTheInstallation) {
    for (const bool besideProgram : {false, true}) {
        QTemporaryDir root;
        const QString bin = root.filePath("prefix/bin");
        const QString installed = root.filePath("prefix/share/sonavel/help/index.htm");
        WriteFile(installed, "<html></html>");
        if (besideProgram)
            WriteFile(bin + "/help/index.htm", "<html></html>");
        EXPECT_EQ(QString::fromStdString(HelpIndexPath(bin.toStdString())),
                  besideProgram ? bin + "/help/index.htm" : installed);
    }
}

// Closed on another page, the help starts afresh on the page asked for.
TEST(HelpWindow, StartsAfreshOnThePageOnceClosed) {
    QTemporaryDir dir;
    const QString index = dir.filePath("help/index.htm");
    WriteFile(index, "<html><body><p>Front page</p></body></html>");
    WriteFile(dir.filePath("help/second.htm"), "<html><body><p>Second page</p></body></html>");
    QtDesktop desktop;
    desktop.ShowHelpPage(index.toStdString());
    HelpBrowser* window = desktop.HelpWindow();
    ASSERT_NE(window, nullptr);
    window->Browser()->setSource(QUrl("second.htm"));
    window->close();
    desktop.ShowHelpPage(index.toStdString());
    EXPECT_TRUE(window->isVisible() && window->Browser()->toPlainText().contains("Front page"));
    EXPECT_FALSE(window->Browser()->isBackwardAvailable());
    window->close();
}

} // namespace
} // namespace sonavel
