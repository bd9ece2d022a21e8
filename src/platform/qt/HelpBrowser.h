#pragma once

#include <QUrl>
#include <QWidget>

class QPushButton;
class QTextBrowser;

namespace sonavel {

// The program's help window: a simple browser for the local help pages, with
// back, forward and contents buttons. Links between the pages and their
// pictures work as in a web browser; links to other sites open in the user's
// browser.
class HelpBrowser : public QWidget {
    Q_OBJECT
public:
    explicit HelpBrowser(QWidget* parent = nullptr);

    // Shows the page and makes it the start of a new history and the target
    // of the contents button.
    void OpenPage(const QUrl& page);
    QUrl CurrentPage() const;
    QTextBrowser* Browser() const { return m_browser; }

private:
    void UpdateTitle();

    QUrl m_home;
    QTextBrowser* m_browser;
    QPushButton* m_cmdBack;
    QPushButton* m_cmdForward;
    QPushButton* m_cmdContents;
};

} // namespace sonavel
