#pragma once

#include <QDialog>

namespace sonavel {

class clsErrorHandler;
class clsSettings;
class MessageBoxes;
class MidiOutput;

// The modal dialog that chooses the MIDI device, channels, volumes and
// instruments. It only reads and writes settings; the engine picks them up at
// the next question.
class frmMIDISetup : public QDialog {
    Q_OBJECT
public:
    frmMIDISetup(clsSettings& settings, MidiOutput& output, MessageBoxes& boxes,
                 clsErrorHandler& errors, QWidget* parent = nullptr);
};

} // namespace sonavel
