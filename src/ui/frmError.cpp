#include "ui/frmError.h"

#include "ui/frmMain.h"

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>

namespace sonavel {

namespace {

QRect Twips(int left, int top, int width, int height) {
    constexpr int t = frmError::TwipsPerPixel;
    return QRect(left / t, top / t, width / t, height / t);
}

template <class Widget> Widget* Named(Widget* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    widget->setAccessibleName(QString::fromLatin1(name));
    return widget;
}

QString FromReport(const std::string& text) {
    QString result = QString::fromStdString(text);
    result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return result;
}

} // namespace

bool frmError::s_detailsVisible = false;

frmError::frmError(QWidget* parent)
    : QDialog(parent), m_imgError(Named(new QLabel(this), "imgError")),
      m_lblError(Named(new QLabel(this), "lblError")),
      m_cmdClose(Named(new QPushButton(tr("&Close"), this), "cmdClose")),
      m_cmdDetails(Named(new QPushButton(this), "cmdDetails")),
      m_txtErrorDetails(Named(new QPlainTextEdit(this), "txtErrorDetails")) {
    setObjectName(QStringLiteral("frmError"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    m_imgError->setGeometry(Twips(150, 165, 480, 480));
    m_imgError->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxCritical).pixmap(32, 32));
    m_imgError->setAlignment(Qt::AlignCenter);

    m_lblError->setGeometry(Twips(930, 255, 3525, 585));
    m_lblError->setWordWrap(true);
    // An error text may hold a path or a line of the settings file, never markup.
    m_lblError->setTextFormat(Qt::PlainText);
    m_lblError->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_lblError->setText(tr("Error - cannot retrieve error number"));
    m_lblError->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_cmdClose->setGeometry(Twips(1725, 975, 1245, 330));
    m_cmdClose->setDefault(true);
    m_cmdDetails->setGeometry(Twips(3285, 990, 1245, 330));

    m_txtErrorDetails->setGeometry(Twips(135, 1500, 4395, 1905));
    m_txtErrorDetails->setReadOnly(true);
    m_txtErrorDetails->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    QPalette grey = m_txtErrorDetails->palette();
    grey.setColor(QPalette::Base, grey.color(QPalette::Window));
    m_txtErrorDetails->setPalette(grey);

    connect(m_cmdClose, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_cmdDetails, &QPushButton::clicked, this, &frmError::cmdDetails_Click);
    Form_Load();
}

void frmError::Form_Load() {
    setWindowTitle(QString::fromStdString(frmMain::ProductName));
    // The main window's icon, which the program sets for every window.
    setWindowIcon(QApplication::windowIcon());
    ResizeForDetails();
}

void frmError::Present(const std::string& text, const std::string& details) {
    // Each showing starts as a fresh load would, in the details state the user
    // last chose.
    Form_Load();
    m_lblError->setText(FromReport(text));
    m_txtErrorDetails->setPlainText(FromReport(details));
    m_cmdClose->setFocus();
    // The dialog has no parent, since it serves the start-up as well; it
    // still opens over the window that failed.
    if (QWidget* over = QApplication::activeWindow(); over && over != this)
        move(over->frameGeometry().center() - QPoint(width() / 2, height() / 2));
    exec();
}

void frmError::cmdDetails_Click() {
    s_detailsVisible = !s_detailsVisible;
    ResizeForDetails();
}

void frmError::ResizeForDetails() {
    m_cmdDetails->setText(s_detailsVisible ? tr("<< &Details") : tr("&Details >>"));
    setFixedSize(ClientWidthPx, s_detailsVisible ? ExpandedHeightPx : CollapsedHeightPx);
}

} // namespace sonavel
