#include "RecordingMessageBoxes.h"
#include "RecordingMidiOutput.h"
#include "RecordingPresenter.h"
#include "midi/frmMIDISetup.h"
#include "settings/clsSettings.h"
#include "startup/clsErrorHandler.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QWidget>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace sonavel {
namespace {

const char* const ChannelMessage =
    "The channel must be between 1 and 16!\r\nReseting previous value.";
const char* const VolumeMessage =
    "The volume must be between 1 and 127!\r\nReseting previous value.";

// Every value of the settings object, so that a test can tell whether anything
// changed.
std::vector<long long> Snapshot(const clsSettings& s) {
    std::vector<long long> v = {s.CurrentKey(),
                                s.RandomKey(),
                                s.CurrentKeyType(),
                                s.RandomKeyType(),
                                s.PlaybackSpeed(),
                                s.CurrentNoteDuration(),
                                s.CurrentKeyReference(),
                                s.KeyReferenceSettings(),
                                s.NoteDisplayMode(),
                                s.CheatMode(),
                                s.MIDIDevice(),
                                s.MIDIChannelKR(),
                                s.MIDIChannelRN(),
                                s.MIDIVolumeKR(),
                                s.MIDIVolumeRN(),
                                s.MIDIInstrumentKR(),
                                s.MIDIInstrumentRN(),
                                s.MIDIRandomInstrumentKR(),
                                s.MIDIRandomInstrumentRN(),
                                s.CurrentKeyMIDIRoot};
    for (const auto* flags : {&s.SelIntervalsAsc, &s.SelIntervalsDesc, &s.SelIntervalsHarm})
        for (bool b : *flags)
            v.push_back(b);
    return v;
}

class ThrowingDeviceList : public fakes::RecordingMidiOutput {
public:
    std::vector<MidiDeviceInfo> Devices() override { throw std::runtime_error("no MIDI service"); }
};

class MidiSetupTest : public ::testing::Test {
protected:
    MidiSetupTest() {
        m_errors.SetPresenter(&m_presenter);
        // Away from the defaults, so that a value read from the wrong setting
        // or written back wrongly shows.
        m_settings.SetMIDIDevice(1);
        m_settings.SetMIDIChannelKR(3);
        m_settings.SetMIDIChannelRN(10);
        m_settings.SetMIDIVolumeKR(90);
        m_settings.SetMIDIVolumeRN(64);
        m_settings.SetMIDIInstrumentKR(19);
        m_settings.SetMIDIInstrumentRN(40);
        m_settings.SetMIDIRandomInstrumentKR(false);
        m_settings.SetMIDIRandomInstrumentRN(true);
        m_settings.SetCurrentKey(4);
        m_settings.SetPlaybackSpeed(150);
        m_output.DeviceList = {{-1, "Default MIDI output"},
                               {0, "Built-in synthesizer"},
                               {1, "Port One"},
                               {2, "Port Two"}};
    }

    std::unique_ptr<frmMIDISetup> Open(MidiOutput* output = nullptr) {
        auto dialog = std::make_unique<frmMIDISetup>(m_settings, output ? *output : m_output,
                                                     m_boxes, m_errors);
        return dialog;
    }

    // Shows the dialog as the active window, so that focus changes send focus
    // events as they do for a user.
    static void ShowActive(frmMIDISetup& dialog) {
        dialog.show();
        dialog.activateWindow();
        QApplication::setActiveWindow(&dialog);
        QApplication::processEvents();
        ASSERT_TRUE(dialog.isActiveWindow());
    }

    template <typename T> static T* Find(QWidget& dialog, const char* name) {
        T* widget = dialog.findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    static void Type(QWidget* box, Qt::Key key, const QString& text,
                     Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
        QApplication::sendEvent(box, &press);
        QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
        QApplication::sendEvent(box, &release);
    }

    clsSettings m_settings;
    fakes::RecordingMidiOutput m_output;
    fakes::RecordingMessageBoxes m_boxes;
    fakes::RecordingPresenter m_presenter;
    clsErrorHandler m_errors;
};

TEST_F(MidiSetupTest, ControlsCarryTheirNames) {
    QWidget main;
    QPixmap picture(16, 16);
    picture.fill(Qt::red);
    main.setWindowIcon(QIcon(picture));
    frmMIDISetup dialog(m_settings, m_output, m_boxes, m_errors, &main);

    EXPECT_EQ(dialog.windowTitle(), "MIDI Setup");
    EXPECT_TRUE(dialog.isModal());
    EXPECT_EQ(dialog.windowIcon().cacheKey(), main.windowIcon().cacheKey());

    for (const char* name :
         {"lblDevice", "lblChannel_0", "lblChannel_1", "lblVolume_0", "lblVolume_1",
          "fraMidiChannels", "fraKeyRefInstrument", "fraRandomNotesInstruments",
          "optRandomKeyRefInstruments_0", "optRandomKeyRefInstruments_1",
          "optRandomNoteInstruments_0", "optRandomNoteInstruments_1", "cmdOK", "cmdCancel"})
        Find<QWidget>(dialog, name);
    for (const char* name : {"cboDevice", "cboInstrument_0", "cboInstrument_1"})
        Find<QComboBox>(dialog, name);
    for (const char* name : {"txtChannel_0", "txtChannel_1", "txtVolume_0", "txtVolume_1"})
        Find<QLineEdit>(dialog, name);

    for (QWidget* w : dialog.findChildren<QWidget*>())
        if (!w->objectName().isEmpty() && !w->objectName().startsWith("qt_")) {
            EXPECT_FALSE(w->accessibleName().isEmpty()) << w->objectName().toStdString();
        }
}

TEST_F(MidiSetupTest, DeviceListFollowsTheOutputAndSelectsTheStoredDevice) {
    const std::vector<MidiDeviceInfo> withPorts = {
        {-1, "Default MIDI output"}, {0, "Built-in synthesizer"}, {1, "Port One"}, {2, "Port Two"}};
    const std::vector<MidiDeviceInfo> withoutPorts = {{-1, "Default MIDI output"},
                                                      {0, "Built-in synthesizer"}};
    const std::vector<MidiDeviceInfo> mapperOnly = {{-1, "Default MIDI output"}};
    const struct {
        const char* Case;
        std::vector<MidiDeviceInfo> Devices;
        int16_t Stored;
        int Selected;
    } rows[] = {
        {"ports, stored port", withPorts, 2, 3},
        {"ports, stored default", withPorts, -1, 0},
        {"no ports, stored synthesizer", withoutPorts, 0, 1},
        {"stored port vanished", withoutPorts, 2, 0},
        {"only the default output", mapperOnly, 0, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Case);
        m_output.DeviceList = row.Devices;
        m_settings.SetMIDIDevice(row.Stored);
        auto dialog = Open();
        auto* list = Find<QComboBox>(*dialog, "cboDevice");
        ASSERT_EQ(list->count(), static_cast<int>(row.Devices.size()));
        for (int i = 0; i < list->count(); ++i) {
            EXPECT_EQ(list->itemText(i).toStdString(), row.Devices[i].Name);
            EXPECT_EQ(list->itemData(i).toInt(), row.Devices[i].Number);
        }
        EXPECT_EQ(list->currentIndex(), row.Selected);
    }
    EXPECT_TRUE(m_boxes.Boxes.empty());
}

TEST_F(MidiSetupTest, VanishedDeviceIsReplacedOnlyByOK) {
    m_output.DeviceList = {{-1, "Default MIDI output"}, {0, "Built-in synthesizer"}};
    m_settings.SetMIDIDevice(5);

    Open()->reject();
    EXPECT_EQ(m_settings.MIDIDevice(), 5);

    auto dialog = Open();
    Find<QPushButton>(*dialog, "cmdOK")->click();
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(m_settings.MIDIDevice(), -1);
}

TEST_F(MidiSetupTest, FailingDeviceQueryIsReportedAndTheDialogGoesOn) {
    ThrowingDeviceList output;
    auto dialog = Open(&output);

    ASSERT_EQ(m_boxes.Boxes.size(), 1u);
    EXPECT_EQ(m_boxes.Boxes[0].Text, "Error Obtaining Midi Out Devices");
    EXPECT_EQ(m_boxes.Boxes[0].Title, "Sonavel - Advanced");
    EXPECT_EQ(Find<QComboBox>(*dialog, "cboDevice")->count(), 0);
    EXPECT_EQ(Find<QComboBox>(*dialog, "cboInstrument_1")->currentIndex(), 40);
    EXPECT_EQ(Find<QLineEdit>(*dialog, "txtVolume_1")->text(), "64");

    // Without a list the device setting is left as it is.
    const auto before = Snapshot(m_settings);
    Find<QPushButton>(*dialog, "cmdOK")->click();
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(Snapshot(m_settings), before);
    EXPECT_TRUE(m_presenter.Reports.empty());
}

TEST_F(MidiSetupTest, InstrumentListsHoldTheGeneralMidiProgramsInOrder) {
    auto dialog = Open();
    const struct {
        int Index;
        const char* Text;
    } spots[] = {{0, "1.   Acoustic Grand Piano"}, {9, "10.  Glockenspiel"}, {127, "128. Gunshot"}};
    for (const char* name : {"cboInstrument_0", "cboInstrument_1"}) {
        auto* list = Find<QComboBox>(*dialog, name);
        ASSERT_EQ(list->count(), 128) << name;
        for (const auto& spot : spots)
            EXPECT_EQ(list->itemText(spot.Index), spot.Text) << name;
        for (int i = 0; i < list->count(); ++i) {
            // The number, a dot, blanks to column five, then the name.
            const QString text = list->itemText(i);
            EXPECT_EQ(text.left(5).trimmed(), QString::number(i + 1) + ".") << text.toStdString();
            EXPECT_NE(text.at(5), u' ') << text.toStdString();
        }
    }
}

TEST_F(MidiSetupTest, KeyFilterDiscardsTypedCharactersOtherThanDigitsAndPoint) {
    auto dialog = Open();
    auto* box = Find<QLineEdit>(*dialog, "txtChannel_1");
    box->setText("1");
    box->end(false);

    const struct {
        Qt::Key Key;
        const char* Text;
        const char* After;
    } keys[] = {
        {Qt::Key_A, "a", "1"},       {Qt::Key_5, "5", "15"},          {Qt::Key_Minus, "-", "15"},
        {Qt::Key_Space, " ", "15"},  {Qt::Key_Period, ".", "15."},    {Qt::Key_Plus, "+", "15."},
        {Qt::Key_Comma, ",", "15."}, {Qt::Key_Backspace, "\b", "15"}, {Qt::Key_E, "e", "15"},
        {Qt::Key_0, "0", "150"},
    };
    for (const auto& k : keys) {
        Type(box, k.Key, QString::fromLatin1(k.Text));
        EXPECT_EQ(box->text(), k.After) << "after " << k.Text;
    }

    // The volume boxes filter in the same way.
    auto* volume = Find<QLineEdit>(*dialog, "txtVolume_0");
    volume->setText("");
    for (const char* c : {"1", "x", "2", "%", "7"})
        Type(volume, Qt::Key_unknown, QString::fromLatin1(c));
    EXPECT_EQ(volume->text(), "127");

    // Paste is not filtered; the check when leaving the box catches it.
    QApplication::clipboard()->setText("abc");
    ASSERT_EQ(QApplication::clipboard()->text(), "abc");
    box->selectAll();
    Type(box, Qt::Key_V, QString(QChar(0x16)), Qt::ControlModifier);
    EXPECT_EQ(box->text(), "abc");
    EXPECT_TRUE(m_boxes.Boxes.empty());
}

TEST_F(MidiSetupTest, LeavingABoxChecksItsRange) {
    const struct {
        const char* Box;
        const char* Text;
        const char* Message; // null: accepted
        const char* Reset;   // the setting shown again
    } rows[] = {
        {"txtChannel_0", "0", ChannelMessage, "3"},
        {"txtChannel_0", "17", ChannelMessage, "3"},
        {"txtChannel_0", "", ChannelMessage, "3"},
        {"txtChannel_0", "abc", ChannelMessage, "3"},
        {"txtChannel_0", "0.5", ChannelMessage, "3"},
        {"txtChannel_0", "16.01", ChannelMessage, "3"},
        {"txtChannel_0", "16", nullptr, nullptr},
        {"txtChannel_0", "1", nullptr, nullptr},
        {"txtChannel_0", "2.5", nullptr, nullptr},
        {"txtChannel_1", "17", ChannelMessage, "10"},
        {"txtChannel_1", "", ChannelMessage, "10"},
        {"txtChannel_1", "16", nullptr, nullptr},
        {"txtVolume_0", "128", VolumeMessage, "90"},
        {"txtVolume_0", "0", VolumeMessage, "90"},
        {"txtVolume_0", "", VolumeMessage, "90"},
        {"txtVolume_0", "127", nullptr, nullptr},
        {"txtVolume_0", "1", nullptr, nullptr},
        {"txtVolume_1", "128", VolumeMessage, "64"},
        {"txtVolume_1", "1e9", VolumeMessage, "64"},
        {"txtVolume_1", "127", nullptr, nullptr},
    };
    auto dialog = Open();
    ShowActive(*dialog);
    auto* elsewhere = Find<QComboBox>(*dialog, "cboInstrument_0");
    const auto before = Snapshot(m_settings);
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.Box) + " = \"" + row.Text + "\"");
        m_boxes.Boxes.clear();
        auto* box = Find<QLineEdit>(*dialog, row.Box);
        box->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(box->hasFocus());
        box->setText(row.Text);
        elsewhere->setFocus(Qt::TabFocusReason);

        if (row.Message) {
            ASSERT_EQ(m_boxes.Boxes.size(), 1u);
            EXPECT_EQ(m_boxes.Boxes[0].Text, row.Message);
            EXPECT_EQ(m_boxes.Boxes[0].Title, "Sonavel - Advanced");
            EXPECT_EQ(m_boxes.Boxes[0].Icon, MsgIcon::Critical);
            EXPECT_EQ(box->text(), row.Reset);
        } else {
            EXPECT_TRUE(m_boxes.Boxes.empty());
            EXPECT_EQ(box->text(), row.Text);
        }
    }
    // Leaving a box never writes a setting.
    EXPECT_EQ(Snapshot(m_settings), before);
    EXPECT_TRUE(m_presenter.Reports.empty());
}

TEST_F(MidiSetupTest, OKWithNothingChangedLeavesEverySettingAsItWas) {
    for (const bool randomKR : {false, true}) {
        m_settings.SetMIDIRandomInstrumentKR(randomKR);
        m_settings.SetMIDIRandomInstrumentRN(!randomKR);
        const auto before = Snapshot(m_settings);
        auto dialog = Open();
        Find<QPushButton>(*dialog, "cmdOK")->click();
        EXPECT_EQ(dialog->result(), QDialog::Accepted);
        EXPECT_EQ(Snapshot(m_settings), before) << "random KR " << randomKR;
    }
    EXPECT_TRUE(m_boxes.Boxes.empty());
    EXPECT_TRUE(m_presenter.Reports.empty());
}

TEST_F(MidiSetupTest, OKStoresEveryChoice) {
    auto dialog = Open();
    auto* devices = Find<QComboBox>(*dialog, "cboDevice");
    devices->setCurrentIndex(devices->findText("Port Two"));
    Find<QLineEdit>(*dialog, "txtChannel_0")->setText("2.5");
    Find<QLineEdit>(*dialog, "txtChannel_1")->setText("3.5");
    Find<QLineEdit>(*dialog, "txtVolume_0")->setText("100");
    Find<QLineEdit>(*dialog, "txtVolume_1")->setText("126.5");
    auto* instrumentKR = Find<QComboBox>(*dialog, "cboInstrument_0");
    instrumentKR->setCurrentIndex(instrumentKR->findText("1.   Acoustic Grand Piano"));
    auto* instrumentRN = Find<QComboBox>(*dialog, "cboInstrument_1");
    instrumentRN->setCurrentIndex(instrumentRN->findText("105. Sitar"));
    Find<QRadioButton>(*dialog, "optRandomKeyRefInstruments_1")->setChecked(true);
    Find<QRadioButton>(*dialog, "optRandomNoteInstruments_0")->setChecked(true);

    auto expected = Snapshot(m_settings);
    Find<QPushButton>(*dialog, "cmdOK")->click();
    EXPECT_EQ(dialog->result(), QDialog::Accepted);

    EXPECT_EQ(m_settings.MIDIDevice(), 2);
    EXPECT_EQ(m_settings.MIDIChannelKR(), 2); // halves go to the even neighbour
    EXPECT_EQ(m_settings.MIDIChannelRN(), 4);
    EXPECT_EQ(m_settings.MIDIVolumeKR(), 100);
    EXPECT_EQ(m_settings.MIDIVolumeRN(), 126);
    EXPECT_EQ(m_settings.MIDIInstrumentKR(), 0);
    EXPECT_EQ(m_settings.MIDIInstrumentRN(), 104);
    EXPECT_TRUE(m_settings.MIDIRandomInstrumentKR());
    EXPECT_FALSE(m_settings.MIDIRandomInstrumentRN());

    // Nothing outside the MIDI settings moved.
    const auto after = Snapshot(m_settings);
    for (std::size_t i = 0; i < after.size(); ++i)
        if (i < 10 || i > 18) {
            EXPECT_EQ(after[i], expected[i]) << "value " << i;
        }
    EXPECT_TRUE(m_boxes.Boxes.empty());
}

TEST_F(MidiSetupTest, CancelWritesNothing) {
    const auto before = Snapshot(m_settings);
    auto dialog = Open();
    Find<QComboBox>(*dialog, "cboDevice")->setCurrentIndex(0);
    Find<QLineEdit>(*dialog, "txtChannel_0")->setText("7");
    Find<QLineEdit>(*dialog, "txtVolume_1")->setText("1");
    Find<QComboBox>(*dialog, "cboInstrument_0")->setCurrentIndex(104);
    Find<QRadioButton>(*dialog, "optRandomKeyRefInstruments_1")->setChecked(true);
    Find<QRadioButton>(*dialog, "optRandomNoteInstruments_0")->setChecked(true);

    Find<QPushButton>(*dialog, "cmdCancel")->click();
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_EQ(Snapshot(m_settings), before);
}

TEST_F(MidiSetupTest, OKWithABadValueInTheFocusedBoxResetsItAndStaysOpen) {
    auto dialog = Open();
    ShowActive(*dialog);
    auto* box = Find<QLineEdit>(*dialog, "txtVolume_0");
    auto* ok = Find<QPushButton>(*dialog, "cmdOK");
    Find<QComboBox>(*dialog, "cboInstrument_0")->setCurrentIndex(5);
    const auto before = Snapshot(m_settings);

    // Enter: the focus stays in the box.
    box->setFocus(Qt::TabFocusReason);
    box->setText("500");
    Type(box, Qt::Key_Return, "\r");
    ASSERT_EQ(m_boxes.Boxes.size(), 1u);
    EXPECT_EQ(m_boxes.Boxes[0].Text, VolumeMessage);
    EXPECT_EQ(box->text(), "90");
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(box->hasFocus());
    EXPECT_EQ(Snapshot(m_settings), before);

    // A click: the press moves the focus to OK without a check, the click
    // checks once.
    box->setText("0");
    ok->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(m_boxes.Boxes.size(), 1u);
    ok->click();
    ASSERT_EQ(m_boxes.Boxes.size(), 2u);
    EXPECT_EQ(m_boxes.Boxes[1].Text, VolumeMessage);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(Snapshot(m_settings), before);

    // With the value put back, OK goes through.
    ok->click();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(m_settings.MIDIInstrumentKR(), 5);
    EXPECT_EQ(m_settings.MIDIVolumeKR(), 90);
    EXPECT_EQ(m_boxes.Boxes.size(), 2u);
}

TEST_F(MidiSetupTest, CancelWithABadValueDoesNotComplain) {
    const auto before = Snapshot(m_settings);
    {
        // A click on Cancel.
        auto dialog = Open();
        ShowActive(*dialog);
        auto* box = Find<QLineEdit>(*dialog, "txtChannel_0");
        box->setFocus(Qt::TabFocusReason);
        box->setText("0");
        auto* cancel = Find<QPushButton>(*dialog, "cmdCancel");
        cancel->setFocus(Qt::MouseFocusReason);
        cancel->click();
        EXPECT_EQ(dialog->result(), QDialog::Rejected);
        EXPECT_FALSE(dialog->isVisible());
    }
    {
        // Escape, with the focus still in the box.
        auto dialog = Open();
        ShowActive(*dialog);
        auto* box = Find<QLineEdit>(*dialog, "txtVolume_1");
        box->setFocus(Qt::TabFocusReason);
        box->setText("999");
        Type(box, Qt::Key_Escape, "\x1b");
        EXPECT_FALSE(dialog->isVisible());
        EXPECT_EQ(dialog->result(), QDialog::Rejected);
    }
    EXPECT_TRUE(m_boxes.Boxes.empty());
    EXPECT_EQ(Snapshot(m_settings), before);
}

TEST_F(MidiSetupTest, StoredInstrumentOutsideTheListIsReportedAsALoadFailure) {
    m_settings.SetMIDIInstrumentRN(128);
    auto dialog = Open();
    ASSERT_EQ(m_presenter.Reports.size(), 1u);
    EXPECT_NE(m_presenter.Reports[0].Details.find("Source: frmMIDISetup::Form_Load()"),
              std::string::npos);
}

} // namespace
} // namespace sonavel
