#include "ui/frmMidiKeyboard.h"

#include "ui/MidiKeyboardAnswers.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace sonavel {

namespace {

template <class T> T* Named(T* control, const char* name, const QString& accessible) {
    control->setObjectName(QLatin1String(name));
    control->setAccessibleName(accessible);
    return control;
}

} // namespace

frmMidiKeyboard::frmMidiKeyboard(MidiKeyboardAnswers& keyboard, QWidget* parent)
    : QDialog(parent), m_keyboard(keyboard) {
    setObjectName(QStringLiteral("frmMidiKeyboard"));
    setWindowTitle(tr("MIDI keyboard"));
    m_cboPort = Named(new QComboBox(this), "cboPort", tr("MIDI keyboard port"));
    m_lblLastNote = Named(new QLabel(tr("Play a note to test the keyboard."), this), "lblLastNote",
                          tr("Last note received"));
    m_lblState = Named(new QLabel(this), "lblState", tr("Port state"));
    m_lblState->setWordWrap(true);
    m_chkAutoValidate = Named(new QCheckBox(tr("&Validate when all answers are played"), this),
                              "chkAutoValidate", tr("Validate when all answers are played"));
    m_cmdClose = Named(new QPushButton(tr("&Close"), this), "cmdClose", tr("Close"));

    auto* form = new QFormLayout;
    auto* portLabel = new QLabel(tr("&Port:"), this);
    portLabel->setBuddy(m_cboPort);
    form->addRow(portLabel, m_cboPort);
    form->addRow(tr("Last note:"), m_lblLastNote);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_lblState);
    layout->addWidget(m_chkAutoValidate);
    layout->addWidget(m_cmdClose, 0, Qt::AlignRight);

    // A chosen port that is not there now stays listed, so that the choice
    // is not lost while the keyboard is unplugged.
    QStringList ports = m_keyboard.Ports();
    const QString chosen = m_keyboard.Port();
    if (!chosen.isEmpty() && !ports.contains(chosen))
        ports << chosen;
    m_cboPort->addItem(NoPort());
    m_cboPort->addItems(ports);
    m_cboPort->setCurrentIndex(chosen.isEmpty() ? 0 : m_cboPort->findText(chosen));
    if (!chosen.isEmpty() && !m_keyboard.Connected())
        m_lblState->setText(tr("Not connected: the keyboard is unplugged or switched off."));
    m_chkAutoValidate->setChecked(m_keyboard.AutoValidate());

    connect(m_cboPort, &QComboBox::activated, this, &frmMidiKeyboard::cboPort_Click);
    connect(m_chkAutoValidate, &QCheckBox::toggled, this, &frmMidiKeyboard::chkAutoValidate_Click);
    connect(m_cmdClose, &QPushButton::clicked, this, &QDialog::accept);
    connect(&m_keyboard, &MidiKeyboardAnswers::NoteReceived, this,
            [this](int note) { m_lblLastNote->setText(MidiKeyboardAnswers::NoteText(note)); });
    connect(&m_keyboard, &MidiKeyboardAnswers::PortChanged, m_lblState, &QLabel::setText);
}

void frmMidiKeyboard::cboPort_Click(int index) {
    m_lblState->clear();
    m_keyboard.ChoosePort(index <= 0 ? QString() : m_cboPort->itemText(index));
}

void frmMidiKeyboard::chkAutoValidate_Click(bool checked) {
    m_keyboard.SetAutoValidate(checked);
}

} // namespace sonavel
