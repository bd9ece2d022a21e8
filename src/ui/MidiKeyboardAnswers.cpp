#include "ui/MidiKeyboardAnswers.h"

#include "history/HistoryDb.h"
#include "platform/MidiInput.h"
#include "ui/frmMain.h"

#include <QApplication>
#include <QListWidget>
#include <QMetaObject>

namespace sonavel {

namespace {

const char* const PortPreference = "midi_keyboard_port";
const char* const AutoValidatePreference = "midi_keyboard_validates";

} // namespace

MidiKeyboardAnswers::MidiKeyboardAnswers(frmMain& window) : m_window(window) {
    m_poll.setInterval(PollMilliseconds);
    connect(&m_poll, &QTimer::timeout, this, &MidiKeyboardAnswers::CheckPort);
}

MidiKeyboardAnswers::~MidiKeyboardAnswers() {
    if (m_input)
        m_input->Close();
}

void MidiKeyboardAnswers::SetInput(MidiInput* input) {
    m_input = input;
    Reconnect();
}

void MidiKeyboardAnswers::SetHistory(HistoryDb* history) {
    m_history = history;
    if (!m_history)
        return;
    m_port = QString::fromStdString(m_history->Preference(PortPreference).value_or(""));
    m_autoValidate = m_history->Preference(AutoValidatePreference).value_or("1") == "1";
    Reconnect();
}

QStringList MidiKeyboardAnswers::Ports() const {
    QStringList ports;
    if (m_input)
        for (const std::string& port : m_input->Ports())
            ports << QString::fromStdString(port);
    return ports;
}

void MidiKeyboardAnswers::ChoosePort(const QString& port) {
    m_port = port;
    if (m_history)
        m_history->SetPreference(PortPreference, port.toStdString());
    Reconnect();
}

void MidiKeyboardAnswers::SetAutoValidate(bool on) {
    m_autoValidate = on;
    if (m_history)
        m_history->SetPreference(AutoValidatePreference, on ? "1" : "0");
}

void MidiKeyboardAnswers::Restart() {
    m_pair.Begin(m_window.m_settings.CurrentKeyMIDIRoot, m_window.m_settings.CurrentKeyType());
}

QString MidiKeyboardAnswers::Connect() {
    m_connected = false;
    if (!m_input)
        return {};
    m_input->Close();
    if (m_port.isEmpty()) {
        m_poll.stop();
        return {};
    }
    m_poll.start();
    // Queued: the window's thread takes the note when it is free.
    auto received = [this](int note) {
        QMetaObject::invokeMethod(
            this, [this, note] { TakeNote(note); }, Qt::QueuedConnection);
    };
    std::string error;
    m_connected = m_input->Open(m_port.toStdString(), received, error);
    return QString::fromStdString(error);
}

void MidiKeyboardAnswers::Reconnect() {
    if (const QString error = Connect(); !error.isEmpty())
        Tell(error);
}

// Told once when the port goes; listened to again as soon as it is back. A
// port there that will not open is not told again every second.
void MidiKeyboardAnswers::CheckPort() {
    const bool present = m_input->HasPort(m_port.toStdString());
    if (present && !m_connected) {
        Connect();
        if (m_connected)
            Tell(tr("The MIDI keyboard \"%1\" is connected again.").arg(m_port));
    } else if (!present && m_connected) {
        m_input->Close();
        m_connected = false;
        Tell(tr("The MIDI keyboard \"%1\" has gone; it is listened to again when it is back.")
                 .arg(m_port));
    }
}

void MidiKeyboardAnswers::Tell(const QString& text) {
    m_window.ShowStatus(text);
    emit PortChanged(text);
}

QString MidiKeyboardAnswers::NoteText(int note) {
    return QStringLiteral("%1%2 (%3)")
        .arg(QString::fromStdString(PlayedAnswer::NoteName(note, false)))
        .arg(note / 12 - 1)
        .arg(note);
}

void MidiKeyboardAnswers::TakeNote(int note) {
    emit NoteReceived(note);
    // Under a dialog, such as the one that tests the keyboard, notes answer nothing.
    if (m_window.m_state != frmMain::Answering || QApplication::activeModalWidget())
        return;
    const PlayedAnswer::Step step = m_pair.Play(note);
    auto& c = m_window.m_c;
    switch (step.What) {
    case PlayedAnswer::Kind::NotInKey: {
        const clsSettings& settings = m_window.m_settings;
        const std::string flat = "b";
        bool flats = false;
        for (const std::string& name :
             settings.Scale(settings.CurrentKeyType(), settings.CurrentKey()).Notes)
            flats = flats || name.find(flat, 1) != std::string::npos;
        m_window.ShowStatus(tr("Not in the key: %1")
                                .arg(QString::fromStdString(PlayedAnswer::NoteName(note, flats))));
        break;
    }
    case PlayedAnswer::Kind::First:
        c.lstNoteAnswer[0]->setCurrentRow(step.Degree);
        c.lstNoteAnswer[1]->clearSelection();
        c.lstIntervalAnswer->clearSelection();
        break;
    case PlayedAnswer::Kind::Second:
        c.lstNoteAnswer[1]->setCurrentRow(step.Degree);
        c.lstIntervalAnswer->setCurrentRow(step.Interval);
        if (m_autoValidate)
            m_window.cmdValidate_Click();
        break;
    }
}

} // namespace sonavel
