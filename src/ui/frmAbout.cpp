#include "ui/frmAbout.h"

#include "platform/qt/Artwork.h"
#include "startup/clsErrorHandler.h"
#include "ui_frmAbout.h"

#include <exception>

namespace sonavel {

frmAbout::frmAbout(QWidget* parent, clsErrorHandler* errors)
    : QDialog(parent), m_ui(std::make_unique<Ui::frmAbout>()), m_errors(errors) {
    m_ui->setupUi(this);
    connect(m_ui->cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
    Form_Load();
}

frmAbout::~frmAbout() = default;

void frmAbout::Form_Load() {
    try {
        const QWidget* main = parentWidget() ? parentWidget()->window() : nullptr;
        setWindowTitle(QStringLiteral("About ") + (main ? main->windowTitle() : QString()));
        if (main)
            setWindowIcon(main->windowIcon());
        m_ui->lblTitle->setText(QStringLiteral("Sonavel - Advanced"));
        m_ui->lblScream->clear();
        m_ui->lblAbout->setText(QStringLiteral("Version 1.0 - 27 January 2008\r\n"
                                               "\r\n"
                                               "Written by the Sonavel developers\r\n"
                                               "No web site yet: see the help pages\r\n"
                                               "\r\n"
                                               "Thanks to all the Sonavel fans\r\n"
                                               "for their feedback and support!\r\n"
                                               "\r\n"
                                               "\r\n"));
        m_ui->imgScream->setPixmap(AboutPicture());
    } catch (...) {
        if (m_errors)
            m_errors->Show("frmAbout::Form_Load()", std::current_exception());
    }
}

void frmAbout::cmdOK_Click() {
    accept();
}

} // namespace sonavel
