#pragma once

#include <QDialog>
#include <QStringList>
#include <array>
#include <cstdint>
#include <memory>

class QFocusEvent;
class QKeyEvent;
class QLineEdit;

namespace Ui {
class frmMIDISetup;
}

namespace sonavel {

class clsErrorHandler;
class clsSettings;
class MessageBoxes;
class MidiOutput;

// The modal dialog that chooses the MIDI device, channels, volumes and
// instruments. It only reads and writes settings; the engine picks them up at
// the next question. The settings are read when the dialog is constructed, so
// make a new one for every showing.
class frmMIDISetup : public QDialog {
    Q_OBJECT
public:
    frmMIDISetup(clsSettings& settings, MidiOutput& output, MessageBoxes& boxes,
                 clsErrorHandler& errors, QWidget* parent = nullptr);
    ~frmMIDISetup() override;

    // The 128 General MIDI Level 1 programs as the instrument lists show them,
    // in program order: "1.   Acoustic Grand Piano" ... "128. Gunshot".
    static QStringList InstrumentList();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class BoxKind { Channel, Volume };

    void Form_Load();
    void FillDevices();
    void cmdOK_Click();
    void cmdCancel_Click();
    // True when the key is to be discarded.
    bool txt_KeyPress(BoxKind kind, QKeyEvent* event);
    void txt_LostFocus(BoxKind kind, int index, QFocusEvent* event);

    // True when the box holds a number in range; otherwise puts the setting
    // back into the box and tells the user.
    bool CheckBox(BoxKind kind, int index);
    QLineEdit* Box(BoxKind kind, int index) const;
    int16_t Setting(BoxKind kind, int index) const;
    void Store(BoxKind kind, int index, int16_t value);
    bool FindBox(QObject* watched, BoxKind& kind, int& index) const;

    std::unique_ptr<Ui::frmMIDISetup> m_ui;
    clsSettings& m_settings;
    MidiOutput& m_output;
    MessageBoxes& m_boxes;
    clsErrorHandler& m_errors;
    std::array<QLineEdit*, 2> m_txtChannel{};
    std::array<QLineEdit*, 2> m_txtVolume{};
};

} // namespace sonavel
