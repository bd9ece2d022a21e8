#include "platform/qt/QtDesktop.h"

#include "platform/qt/HelpBrowser.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QString>
#include <QUrl>

namespace sonavel {

QtDesktop::QtDesktop() = default;
QtDesktop::~QtDesktop() = default;

bool QtDesktop::OpenInEditor(const std::string& path) {
    // A file URL hands the path over whole: blanks, quotes and shell
    // characters in it mean nothing to anyone.
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

void QtDesktop::ShowHelpPage(const std::string& path) {
    if (!m_help)
        m_help = std::make_unique<HelpBrowser>();
    if (!m_help->isVisible()) {
        // Closed by the user, or never shown: start again on the page asked for.
        m_help->OpenPage(QUrl::fromLocalFile(QString::fromStdString(path)));
        m_help->show();
    } else if (m_help->isMinimized()) {
        m_help->setWindowState(m_help->windowState() & ~Qt::WindowMinimized);
    }
    m_help->raise();
    m_help->activateWindow();
}

std::string QtDesktop::ChooseSaveFile(const std::string& title, const std::string& suggested) {
    return QFileDialog::getSaveFileName(QApplication::activeWindow(), QString::fromStdString(title),
                                        QString::fromStdString(suggested),
                                        QStringLiteral("CSV files (*.csv);;All files (*)"))
        .toStdString();
}

} // namespace sonavel
