#include "platform/qt/HelpBrowser.h"
#include "platform/qt/HelpLocation.h"
#include "platform/qt/QtDesktop.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QUrl>
#include <gtest/gtest.h>
#include <string>

namespace sonavel {
namespace {

void WriteFile(const QString& path, const QByteArray& contents) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(contents);
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

int HelpWindowCount() {
    int count = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<HelpBrowser*>(w) && w->isVisible())
            ++count;
    return count;
}

TEST(HelpLocation, FindsThePagesInTheBuildTreeOrInTheInstallation) {
    const struct {
        const char* Case;
        bool BesideProgram;
        bool Installed;
        bool ExpectInstalled;
    } rows[] = {
        {"build tree", true, false, false},
        {"installed", false, true, true},
        {"both: the build tree wins", true, true, false},
        {"neither: the build tree's path", false, false, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Case);
        QTemporaryDir root;
        ASSERT_TRUE(root.isValid());
        const QString bin = root.filePath("prefix/bin");
        QDir().mkpath(bin);
        const QString beside = bin + "/help/index.htm";
        const QString installed = root.filePath("prefix/share/sonavel/help/index.htm");
        if (row.BesideProgram)
            WriteFile(beside, "<html></html>");
        if (row.Installed)
            WriteFile(installed, "<html></html>");

        const QString found = QString::fromStdString(HelpIndexPath(bin.toStdString()));
        EXPECT_EQ(found, row.ExpectInstalled ? installed : beside);
    }
}

class HelpWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_index = m_dir.filePath("help/index.htm");
        WriteFile(m_index, "<html><head><title>Contents</title></head><body>"
                           "<p>Front page</p><a href=\"second.htm\">on</a></body></html>");
        WriteFile(m_dir.filePath("help/second.htm"),
                  "<html><head><title>Second</title></head><body><p>Second page</p>"
                  "</body></html>");
    }

    QTemporaryDir m_dir;
    QString m_index;
};

TEST_F(HelpWindowTest, ASecondRequestBringsTheOpenWindowForwardWithoutReloading) {
    QtDesktop desktop;
    EXPECT_EQ(desktop.HelpWindow(), nullptr);

    desktop.ShowHelpPage(m_index.toStdString());
    HelpBrowser* window = desktop.HelpWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->CurrentPage(), QUrl::fromLocalFile(m_index));
    EXPECT_TRUE(window->Browser()->toPlainText().contains("Front page"));
    EXPECT_TRUE(window->windowTitle().startsWith("Contents"));

    // The user follows the link, then minimises the window.
    window->Browser()->setSource(QUrl("second.htm"));
    ASSERT_TRUE(window->Browser()->toPlainText().contains("Second page"));
    window->showMinimized();

    desktop.ShowHelpPage(m_index.toStdString());
    EXPECT_EQ(desktop.HelpWindow(), window);
    EXPECT_EQ(HelpWindowCount(), 1);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->isMinimized());
    EXPECT_TRUE(window->Browser()->toPlainText().contains("Second page"));
    EXPECT_TRUE(window->Browser()->isBackwardAvailable());

    // The Contents button leads back to the page that was asked for.
    auto* contents = window->findChild<QPushButton*>("cmdContents");
    ASSERT_NE(contents, nullptr);
    contents->click();
    EXPECT_TRUE(window->Browser()->toPlainText().contains("Front page"));
}

TEST_F(HelpWindowTest, AfterTheUserClosedItARequestOpensItAgainOnThePage) {
    QtDesktop desktop;
    desktop.ShowHelpPage(m_index.toStdString());
    HelpBrowser* window = desktop.HelpWindow();
    ASSERT_NE(window, nullptr);
    window->Browser()->setSource(QUrl("second.htm"));
    window->close();
    ASSERT_EQ(HelpWindowCount(), 0);

    desktop.ShowHelpPage(m_index.toStdString());
    ASSERT_NE(desktop.HelpWindow(), nullptr);
    EXPECT_TRUE(desktop.HelpWindow()->isVisible());
    EXPECT_EQ(HelpWindowCount(), 1);
    EXPECT_EQ(desktop.HelpWindow()->CurrentPage(), QUrl::fromLocalFile(m_index));
    EXPECT_TRUE(desktop.HelpWindow()->Browser()->toPlainText().contains("Front page"));
    // A fresh start: nothing to go back to.
    EXPECT_FALSE(desktop.HelpWindow()->Browser()->isBackwardAvailable());

    // Closed on the very page asked for, which has changed meanwhile.
    desktop.HelpWindow()->close();
    WriteFile(m_index, "<html><head><title>Contents</title></head><body>"
                       "<p>Updated page</p></body></html>");
    desktop.ShowHelpPage(m_index.toStdString());
    EXPECT_TRUE(desktop.HelpWindow()->Browser()->toPlainText().contains("Updated page"));
    EXPECT_EQ(desktop.HelpWindow()->windowTitle(), "Contents - Sonavel Help");
}

TEST(HelpPages, EveryLinkAndPictureLeadsSomewhereAndEveryPageIsReachable) {
    const QDir help(QStringLiteral(SONAVEL_SOURCE_DIR) + "/help");
    const QStringList pages = help.entryList({"*.htm"}, QDir::Files);
    ASSERT_TRUE(pages.contains("index.htm"));

    static const QRegularExpression reference(R"re((href|src)\s*=\s*"([^"]*)")re",
                                              QRegularExpression::CaseInsensitiveOption);
    QSet<QString> reached{"index.htm"};
    for (const QString& page : pages) {
        SCOPED_TRACE(page.toStdString());
        const QString text = QString::fromUtf8(ReadFile(help.filePath(page)));
        EXPECT_TRUE(text.contains(QRegularExpression("<title>[^<]+</title>")));
        auto matches = reference.globalMatch(text);
        while (matches.hasNext()) {
            const auto match = matches.next();
            const QUrl url(match.captured(2));
            if (!url.scheme().isEmpty()) // the pages link nowhere else but a site
                continue;
            const QString target = url.path().isEmpty() ? page : url.path();
            const QString path = help.filePath(target);
            ASSERT_TRUE(QFileInfo(path).isFile()) << match.captured(0).toStdString();
            if (match.captured(1).toLower() == "src" || target.endsWith(".png")) {
                EXPECT_FALSE(QImage(path).isNull()) << target.toStdString();
            }
            if (url.hasFragment()) {
                const QString anchor = url.fragment();
                const QString targetText = QString::fromUtf8(ReadFile(path));
                EXPECT_TRUE(targetText.contains("name=\"" + anchor + "\"") ||
                            targetText.contains("id=\"" + anchor + "\""))
                    << match.captured(0).toStdString();
            }
            if (target.endsWith(".htm"))
                reached.insert(target);
        }
    }
    for (const QString& page : pages)
        EXPECT_TRUE(reached.contains(page)) << page.toStdString() << " has no link to it";
}

TEST(HelpPages, TheHelpWindowShowsTheIndexWithItsPictures) {
    const std::string index = HelpIndexPath(SONAVEL_SOURCE_DIR);
    ASSERT_EQ(index, std::string(SONAVEL_SOURCE_DIR) + "/help/index.htm");
    QtDesktop desktop;
    desktop.ShowHelpPage(index);
    HelpBrowser* window = desktop.HelpWindow();
    ASSERT_NE(window, nullptr);
    QTextBrowser* browser = window->Browser();
    EXPECT_FALSE(browser->documentTitle().isEmpty());

    // Every picture of the page comes through the browser's own loading.
    static const QRegularExpression image(R"re(<img[^>]*src\s*=\s*"([^"]+)")re",
                                          QRegularExpression::CaseInsensitiveOption);
    auto matches = image.globalMatch(browser->toHtml());
    int pictures = 0;
    while (matches.hasNext()) {
        const QString src = matches.next().captured(1);
        const QVariant data = browser->loadResource(QTextDocument::ImageResource, QUrl(src));
        EXPECT_FALSE(QImage::fromData(data.toByteArray()).isNull()) << src.toStdString();
        ++pictures;
    }
    EXPECT_GT(pictures, 0);
}

} // namespace
} // namespace sonavel
