#pragma once

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace sonavel {

class MidiKeyboardAnswers;

// Tools, MIDI keyboard: the input port to answer on, a line that shows each
// note as it arrives, so that the student sees the keyboard is heard, and
// whether two notes played validate at once. Every choice applies at once.
class frmMidiKeyboard : public QDialog {
    Q_OBJECT
public:
    // keyboard is not owned and outlives the dialog.
    frmMidiKeyboard(MidiKeyboardAnswers& keyboard, QWidget* parent = nullptr);

    static QString NoPort() { return tr("(none)"); }

private:
    void cboPort_Click(int index);
    void chkAutoValidate_Click(bool checked);

    MidiKeyboardAnswers& m_keyboard;
    QComboBox* m_cboPort;
    QLabel* m_lblLastNote;
    QLabel* m_lblState;
    QCheckBox* m_chkAutoValidate;
    QPushButton* m_cmdClose;
};

} // namespace sonavel
