#include "platform/qt/HelpBrowser.h"

#include <QHBoxLayout>
#include <QKeySequence>
#include <QPushButton>
#include <QShortcut>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace sonavel {

namespace {
const QString WindowTitle = QStringLiteral("Sonavel Help");
}

HelpBrowser::HelpBrowser(QWidget* parent)
    : QWidget(parent, Qt::Window), m_browser(new QTextBrowser(this)),
      m_cmdBack(new QPushButton(tr("&Back"), this)),
      m_cmdForward(new QPushButton(tr("&Forward"), this)),
      m_cmdContents(new QPushButton(tr("&Contents"), this)) {
    setObjectName(QStringLiteral("HelpBrowser"));
    setAccessibleName(WindowTitle);
    setWindowTitle(WindowTitle);
    // The help must not keep the program running once the main window is gone.
    setAttribute(Qt::WA_QuitOnClose, false);
    resize(1080, 720); // room for the screenshot of the main window

    m_browser->setObjectName(QStringLiteral("txtHelp"));
    m_browser->setAccessibleName(tr("Help page"));
    m_browser->setOpenExternalLinks(true);
    m_cmdBack->setObjectName(QStringLiteral("cmdBack"));
    m_cmdBack->setAccessibleName(tr("Back"));
    m_cmdForward->setObjectName(QStringLiteral("cmdForward"));
    m_cmdForward->setAccessibleName(tr("Forward"));
    m_cmdContents->setObjectName(QStringLiteral("cmdContents"));
    m_cmdContents->setAccessibleName(tr("Contents"));
    m_cmdBack->setEnabled(false);
    m_cmdForward->setEnabled(false);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_cmdBack);
    buttons->addWidget(m_cmdForward);
    buttons->addWidget(m_cmdContents);
    buttons->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(m_browser, 1);

    connect(m_cmdBack, &QPushButton::clicked, m_browser, &QTextBrowser::backward);
    connect(m_cmdForward, &QPushButton::clicked, m_browser, &QTextBrowser::forward);
    connect(m_cmdContents, &QPushButton::clicked, this, [this] { m_browser->setSource(m_home); });
    connect(m_browser, &QTextBrowser::backwardAvailable, m_cmdBack, &QPushButton::setEnabled);
    connect(m_browser, &QTextBrowser::forwardAvailable, m_cmdForward, &QPushButton::setEnabled);
    connect(m_browser, &QTextBrowser::sourceChanged, this, &HelpBrowser::UpdateTitle);

    auto* close = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(close, &QShortcut::activated, this, &QWidget::close);
}

void HelpBrowser::OpenPage(const QUrl& page) {
    m_home = page;
    // The browser only scrolls when asked for the page it shows; the page
    // may have changed on disk since.
    if (m_browser->source() == page)
        m_browser->reload();
    else
        m_browser->setSource(page);
    m_browser->clearHistory();
    UpdateTitle();
}

QUrl HelpBrowser::CurrentPage() const {
    return m_browser->source();
}

void HelpBrowser::UpdateTitle() {
    const QString page = m_browser->documentTitle();
    setWindowTitle(page.isEmpty() ? WindowTitle : page + QStringLiteral(" - ") + WindowTitle);
}

} // namespace sonavel
