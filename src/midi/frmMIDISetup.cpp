#include "midi/frmMIDISetup.h"

#include "platform/MessageBoxes.h"
#include "platform/MidiOutput.h"
#include "settings/clsSettings.h"
#include "engine/modGeneral.h"
#include "settings/modSettingsFile.h"
#include "startup/clsErrorHandler.h"
#include "ui_frmMIDISetup.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace sonavel {

namespace {

const std::string ProductName = "Sonavel - Advanced";

// The General MIDI Level 1 sound set, programs 1 to 128.
const char* const GeneralMidiPrograms[128] = {
    "Acoustic Grand Piano",
    "Bright Acoustic Piano",
    "Electric Grand Piano",
    "Honky-tonk Piano",
    "Electric Piano 1",
    "Electric Piano 2",
    "Harpsichord",
    "Clavi",
    "Celesta",
    "Glockenspiel",
    "Music Box",
    "Vibraphone",
    "Marimba",
    "Xylophone",
    "Tubular Bells",
    "Dulcimer",
    "Drawbar Organ",
    "Percussive Organ",
    "Rock Organ",
    "Church Organ",
    "Reed Organ",
    "Accordion",
    "Harmonica",
    "Tango Accordion",
    "Acoustic Guitar (nylon)",
    "Acoustic Guitar (steel)",
    "Electric Guitar (jazz)",
    "Electric Guitar (clean)",
    "Electric Guitar (muted)",
    "Overdriven Guitar",
    "Distortion Guitar",
    "Guitar harmonics",
    "Acoustic Bass",
    "Electric Bass (finger)",
    "Electric Bass (pick)",
    "Fretless Bass",
    "Slap Bass 1",
    "Slap Bass 2",
    "Synth Bass 1",
    "Synth Bass 2",
    "Violin",
    "Viola",
    "Cello",
    "Contrabass",
    "Tremolo Strings",
    "Pizzicato Strings",
    "Orchestral Harp",
    "Timpani",
    "String Ensemble 1",
    "String Ensemble 2",
    "SynthStrings 1",
    "SynthStrings 2",
    "Choir Aahs",
    "Voice Oohs",
    "Synth Voice",
    "Orchestra Hit",
    "Trumpet",
    "Trombone",
    "Tuba",
    "Muted Trumpet",
    "French Horn",
    "Brass Section",
    "SynthBrass 1",
    "SynthBrass 2",
    "Soprano Sax",
    "Alto Sax",
    "Tenor Sax",
    "Baritone Sax",
    "Oboe",
    "English Horn",
    "Bassoon",
    "Clarinet",
    "Piccolo",
    "Flute",
    "Recorder",
    "Pan Flute",
    "Blown Bottle",
    "Shakuhachi",
    "Whistle",
    "Ocarina",
    "Lead 1 (square)",
    "Lead 2 (sawtooth)",
    "Lead 3 (calliope)",
    "Lead 4 (chiff)",
    "Lead 5 (charang)",
    "Lead 6 (voice)",
    "Lead 7 (fifths)",
    "Lead 8 (bass + lead)",
    "Pad 1 (new age)",
    "Pad 2 (warm)",
    "Pad 3 (polysynth)",
    "Pad 4 (choir)",
    "Pad 5 (bowed)",
    "Pad 6 (metallic)",
    "Pad 7 (halo)",
    "Pad 8 (sweep)",
    "FX 1 (rain)",
    "FX 2 (soundtrack)",
    "FX 3 (crystal)",
    "FX 4 (atmosphere)",
    "FX 5 (brightness)",
    "FX 6 (goblins)",
    "FX 7 (echoes)",
    "FX 8 (sci-fi)",
    "Sitar",
    "Banjo",
    "Shamisen",
    "Koto",
    "Kalimba",
    "Bag pipe",
    "Fiddle",
    "Shanai",
    "Tinkle Bell",
    "Agogo",
    "Steel Drums",
    "Woodblock",
    "Taiko Drum",
    "Melodic Tom",
    "Synth Drum",
    "Reverse Cymbal",
    "Guitar Fret Noise",
    "Breath Noise",
    "Seashore",
    "Bird Tweet",
    "Telephone Ring",
    "Helicopter",
    "Applause",
    "Gunshot",
};

// The same reading of numbers as the settings file's.
std::optional<double> ReadNumber(const QString& text) {
    double value = 0.0;
    if (!ParseNumber(text.toStdString(), value))
        return std::nullopt;
    return value;
}

// A character the boxes take: a digit, the decimal point or Backspace.
// Control characters (Enter, Escape, Tab, Delete) and key combinations with
// Ctrl or Alt are not typed text; they keep their usual meaning, so paste
// still works and is caught when the box loses the focus.
bool IsAcceptedKey(const QKeyEvent& event) {
    if (event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return true;
    for (const QChar c : event.text()) {
        if (c.category() == QChar::Other_Control)
            continue;
        if ((c < u'0' || c > u'9') && c != u'.')
            return false;
    }
    return true;
}

} // namespace

frmMIDISetup::frmMIDISetup(clsSettings& settings, MidiOutput& output, MessageBoxes& boxes,
                           clsErrorHandler& errors, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::frmMIDISetup>()), m_settings(settings),
      m_output(output), m_boxes(boxes), m_errors(errors) {
    m_ui->setupUi(this);
    m_txtChannel = {m_ui->txtChannel_0, m_ui->txtChannel_1};
    m_txtVolume = {m_ui->txtVolume_0, m_ui->txtVolume_1};
    for (QLineEdit* box :
         {m_ui->txtChannel_0, m_ui->txtChannel_1, m_ui->txtVolume_0, m_ui->txtVolume_1})
        box->installEventFilter(this);

    connect(m_ui->cmdOK, &QPushButton::clicked, this, &frmMIDISetup::cmdOK_Click);
    connect(m_ui->cmdCancel, &QPushButton::clicked, this, &frmMIDISetup::cmdCancel_Click);

    Form_Load();
}

frmMIDISetup::~frmMIDISetup() {
    // The boxes outlive this part of the object and still send focus events
    // while they are destroyed.
    for (QLineEdit* box :
         {m_ui->txtChannel_0, m_ui->txtChannel_1, m_ui->txtVolume_0, m_ui->txtVolume_1})
        box->removeEventFilter(this);
}

QStringList frmMIDISetup::InstrumentList() {
    QStringList list;
    list.reserve(128);
    for (int program = 1; program <= 128; ++program)
        list << QStringLiteral("%1.").arg(program).leftJustified(5) +
                    QString::fromLatin1(GeneralMidiPrograms[program - 1]);
    return list;
}

void frmMIDISetup::Form_Load() {
    try {
        if (parentWidget())
            setWindowIcon(parentWidget()->window()->windowIcon());

        FillDevices();

        const QStringList instruments = InstrumentList();
        m_ui->cboInstrument_0->addItems(instruments);
        m_ui->cboInstrument_1->addItems(instruments);

        const int device = m_ui->cboDevice->findData(m_settings.MIDIDevice());
        m_ui->cboDevice->setCurrentIndex(device >= 0 ? device : 0);

        // An instrument outside the list would leave the list without a
        // selection and OK would then store -1.
        const auto selectInstrument = [](QComboBox* list, int16_t program) {
            if (program < 0 || program >= list->count())
                throw std::out_of_range("instrument " + std::to_string(program));
            list->setCurrentIndex(program);
        };
        selectInstrument(m_ui->cboInstrument_0, m_settings.MIDIInstrumentKR());
        selectInstrument(m_ui->cboInstrument_1, m_settings.MIDIInstrumentRN());

        if (m_settings.MIDIRandomInstrumentKR())
            m_ui->optRandomKeyRefInstruments_1->setChecked(true);
        if (m_settings.MIDIRandomInstrumentRN())
            m_ui->optRandomNoteInstruments_1->setChecked(true);

        for (int i = 0; i < 2; ++i) {
            m_txtChannel[i]->setText(QString::number(Setting(BoxKind::Channel, i)));
            m_txtVolume[i]->setText(QString::number(Setting(BoxKind::Volume, i)));
        }
    } catch (...) {
        m_errors.Show("frmMIDISetup::Form_Load()", std::current_exception());
    }
}

void frmMIDISetup::FillDevices() {
    std::vector<MidiDeviceInfo> devices;
    try {
        devices = m_output.Devices();
    } catch (const std::exception&) {
        // The list stays empty (or holds what could be read) and the user can
        // still set up channels and instruments.
        m_boxes.Show(ProductName, "Error Obtaining Midi Out Devices", MsgIcon::None);
    }
    for (const MidiDeviceInfo& device : devices)
        m_ui->cboDevice->addItem(QString::fromStdString(device.Name), device.Number);
}

void frmMIDISetup::cmdOK_Click() {
    try {
        // Enter and the access key press OK without moving the focus, and a
        // click on OK skips the focus-out check, so every box is checked
        // here. A refused value keeps the dialog open on that box.
        for (const BoxKind kind : {BoxKind::Channel, BoxKind::Volume}) {
            for (int i = 0; i < 2; ++i) {
                if (!CheckBox(kind, i)) {
                    Box(kind, i)->setFocus(Qt::OtherFocusReason);
                    return;
                }
            }
        }

        if (m_ui->cboDevice->currentIndex() >= 0) {
            const int device = m_ui->cboDevice->currentData().toInt();
            if (device != m_settings.MIDIDevice())
                m_settings.SetMIDIDevice(static_cast<int16_t>(device));
        }

        for (const BoxKind kind : {BoxKind::Channel, BoxKind::Volume}) {
            for (int i = 0; i < 2; ++i) {
                const double value = ReadNumber(Box(kind, i)->text()).value();
                if (value != Setting(kind, i))
                    Store(kind, i, static_cast<int16_t>(RoundHalfEven(value)));
            }
        }

        if (m_ui->cboInstrument_0->currentIndex() != m_settings.MIDIInstrumentKR())
            m_settings.SetMIDIInstrumentKR(
                static_cast<int16_t>(m_ui->cboInstrument_0->currentIndex()));
        if (m_ui->cboInstrument_1->currentIndex() != m_settings.MIDIInstrumentRN())
            m_settings.SetMIDIInstrumentRN(
                static_cast<int16_t>(m_ui->cboInstrument_1->currentIndex()));

        m_settings.SetMIDIRandomInstrumentKR(m_ui->optRandomKeyRefInstruments_1->isChecked());
        m_settings.SetMIDIRandomInstrumentRN(m_ui->optRandomNoteInstruments_1->isChecked());

        accept();
    } catch (...) {
        m_errors.Show("frmMIDISetup::cmdOK_Click()", std::current_exception());
    }
}

void frmMIDISetup::cmdCancel_Click() {
    reject();
}

bool frmMIDISetup::eventFilter(QObject* watched, QEvent* event) {
    BoxKind kind;
    int index = 0;
    if (!FindBox(watched, kind, index))
        return QDialog::eventFilter(watched, event);

    if (event->type() == QEvent::KeyPress) {
        if (txt_KeyPress(kind, static_cast<QKeyEvent*>(event)))
            return true;
    } else if (event->type() == QEvent::FocusOut) {
        txt_LostFocus(kind, index, static_cast<QFocusEvent*>(event));
    }
    return QDialog::eventFilter(watched, event);
}

bool frmMIDISetup::txt_KeyPress(BoxKind kind, QKeyEvent* event) {
    try {
        return !IsAcceptedKey(*event);
    } catch (...) {
        m_errors.Show(kind == BoxKind::Channel ? "frmMIDISetup::txtChannel_KeyPress()"
                                               : "frmMIDISetup::txtVolume_KeyPress()",
                      std::current_exception());
        return true;
    }
}

void frmMIDISetup::txt_LostFocus(BoxKind kind, int index, QFocusEvent* event) {
    try {
        // Switching to another window (closing this one included) or opening
        // a menu does not leave the box.
        if (event->reason() == Qt::ActiveWindowFocusReason ||
            event->reason() == Qt::PopupFocusReason)
            return;
        const QWidget* next = QApplication::focusWidget();
        // Cancel throws the value away anyway, and OK checks every box itself.
        if (next == m_ui->cmdCancel)
            return;
        if (next == m_ui->cmdOK && event->reason() != Qt::TabFocusReason &&
            event->reason() != Qt::BacktabFocusReason)
            return;
        CheckBox(kind, index);
    } catch (...) {
        m_errors.Show(kind == BoxKind::Channel ? "frmMIDISetup::txtChannel_LostFocus()"
                                               : "frmMIDISetup::txtVolume_LostFocus()",
                      std::current_exception());
    }
}

bool frmMIDISetup::CheckBox(BoxKind kind, int index) {
    const double high = kind == BoxKind::Channel ? 16 : 127;
    const std::optional<double> value = ReadNumber(Box(kind, index)->text());
    if (value && *value >= 1 && *value <= high)
        return true;

    Box(kind, index)->setText(QString::number(Setting(kind, index)));
    m_boxes.Show(ProductName,
                 kind == BoxKind::Channel
                     ? "The channel must be between 1 and 16!\r\nReseting previous value."
                     : "The volume must be between 1 and 127!\r\nReseting previous value.",
                 MsgIcon::Critical);
    return false;
}

QLineEdit* frmMIDISetup::Box(BoxKind kind, int index) const {
    return kind == BoxKind::Channel ? m_txtChannel.at(index) : m_txtVolume.at(index);
}

int16_t frmMIDISetup::Setting(BoxKind kind, int index) const {
    if (kind == BoxKind::Channel)
        return index == 0 ? m_settings.MIDIChannelKR() : m_settings.MIDIChannelRN();
    return index == 0 ? m_settings.MIDIVolumeKR() : m_settings.MIDIVolumeRN();
}

void frmMIDISetup::Store(BoxKind kind, int index, int16_t value) {
    if (kind == BoxKind::Channel) {
        if (index == 0)
            m_settings.SetMIDIChannelKR(value);
        else
            m_settings.SetMIDIChannelRN(value);
    } else {
        if (index == 0)
            m_settings.SetMIDIVolumeKR(value);
        else
            m_settings.SetMIDIVolumeRN(value);
    }
}

bool frmMIDISetup::FindBox(QObject* watched, BoxKind& kind, int& index) const {
    for (int i = 0; i < 2; ++i) {
        if (watched == m_txtChannel[i] || watched == m_txtVolume[i]) {
            kind = watched == m_txtChannel[i] ? BoxKind::Channel : BoxKind::Volume;
            index = i;
            return true;
        }
    }
    return false;
}

} // namespace sonavel
