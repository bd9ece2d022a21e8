#pragma once

#include "engine/PlayedAnswer.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <string>

namespace sonavel {

class frmMain;
class HistoryDb;
class MidiInput;

// Answers played on a MIDI keyboard: listens to the input port the student
// chose, which is kept by name in the history's preferences, and turns the
// notes played while a question waits for its answer into selections of the
// main window's answer lists. Notes arrive on the input's thread and reach
// this object, on the window's thread, as queued events. While a port is
// chosen its presence is checked once a second, so that a keyboard unplugged
// is told once and plugged back is listened to again.
class MidiKeyboardAnswers : public QObject {
    Q_OBJECT
public:
    static constexpr int PollMilliseconds = 1000;

    explicit MidiKeyboardAnswers(frmMain& window);
    ~MidiKeyboardAnswers() override;

    // Neither is owned; either may be null. The port kept in the history is
    // listened to once both are there.
    void SetInput(MidiInput* input);
    void SetHistory(HistoryDb* history);

    QStringList Ports() const;
    QString Port() const { return m_port; }
    bool Connected() const { return m_connected; }
    // Listens to this port from now on and keeps the choice; empty for none.
    void ChoosePort(const QString& port);
    bool AutoValidate() const { return m_autoValidate; }
    void SetAutoValidate(bool on);

    // A question begins or is played again: a pair played so far is forgotten.
    void Restart();

    static QString NoteText(int note);

signals:
    void NoteReceived(int note);
    // The port came, went or could not be opened; text says so.
    void PortChanged(const QString& text);

private:
    // Listens to the chosen port; the reason when it cannot, else empty.
    QString Connect();
    // Connect, telling why it failed.
    void Reconnect();
    void CheckPort();
    void TakeNote(int note);
    void Tell(const QString& text);

    frmMain& m_window;
    MidiInput* m_input = nullptr;
    HistoryDb* m_history = nullptr;
    QString m_port;
    bool m_connected = false;
    bool m_autoValidate = true;
    QTimer m_poll;
    PlayedAnswer m_pair;
};

} // namespace sonavel
