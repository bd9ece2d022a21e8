#include "RecordingMessageBoxes.h"
#include "RecordingMidiOutput.h"
#include "midi/frmMIDISetup.h"
#include "settings/clsSettings.h"
#include "startup/clsErrorHandler.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

namespace sonavel {
namespace {

class MidiSetupTest : public ::testing::Test {
protected:
    MidiSetupTest() {
        // Away from the defaults and from each other, so that a value read
        // from the wrong setting or written back wrongly shows.
        m_settings.SetMIDIDevice(1);
        m_settings.SetMIDIChannelKR(3);
        m_settings.SetMIDIVolumeRN(64);
        m_settings.SetMIDIRandomInstrumentRN(true);
        m_output.DeviceList = {{-1, "Default"}, {0, "Synthesizer"}, {1, "One"}, {2, "Two"}};
    }
    // Shown and active, so that focus changes send focus events as for a user.
    void Open() {
        m_dialog = std::make_unique<frmMIDISetup>(m_settings, m_output, m_boxes, m_errors);
        m_dialog->show();
        QApplication::setActiveWindow(m_dialog.get());
        QApplication::processEvents();
    }
    template <typename T = QLineEdit> T* Find(const char* name) {
        T* widget = m_dialog->findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    clsSettings m_settings;
    fakes::RecordingMidiOutput m_output;
    fakes::RecordingMessageBoxes m_boxes;
    clsErrorHandler m_errors;
    std::unique_ptr<frmMIDISetup> m_dialog;
};

// Typing keeps digits and the point; leaving a box checks its range, at the
// nearest values on either side of each bound, and a refused value puts the
// box's own setting back.
TEST_F(MidiSetupTest, LeavingABoxChecksItsRange) {
    Open();
    Find("txtVolume_1")->clear();
    QTest::keyClicks(Find("txtVolume_1"), "0a9/:-.5 ");
    EXPECT_EQ(Find("txtVolume_1")->text(), "09.5");
    const std::tuple<const char*, const char*, const char*> rows[] = {
        {"txtChannel_0", "0.99", "3"},
        {"txtChannel_0", "1", nullptr},
        {"txtVolume_1", "127", nullptr},
        {"txtVolume_1", "127.01", "64"}};
    for (const auto& [name, text, reset] : rows) {
        SCOPED_TRACE(std::string(name) + " = " + text);
        m_boxes.Boxes.clear();
        Find(name)->setFocus(Qt::TabFocusReason);
        Find(name)->setText(text);
        Find<QWidget>("cboInstrument_0")->setFocus(Qt::TabFocusReason);
        EXPECT_EQ(Find(name)->text(), reset ? reset : text);
        EXPECT_EQ(m_boxes.Boxes.size(), reset ? 1u : 0u);
    }
}

// OK stores every choice, halves going to the even neighbour (3.5 up, 126.5
// down). A click on OK or Cancel moves the focus without the check of the box
// left: OK then checks every box itself, Cancel nothing.
TEST_F(MidiSetupTest, OKStoresEveryChoiceCancelNothing) {
    Open();
    Find("txtChannel_0")->setFocus(Qt::TabFocusReason);
    Find("txtChannel_0")->setText("0");
    Find<QComboBox>("cboInstrument_0")->setCurrentIndex(5);
    QTest::mouseClick(Find<QPushButton>("cmdCancel"), Qt::LeftButton);
    EXPECT_TRUE(m_boxes.Boxes.empty());
    EXPECT_EQ(m_settings.MIDIInstrumentKR(), 0);

    Open();
    Find<QComboBox>("cboDevice")->setCurrentIndex(Find<QComboBox>("cboDevice")->findData(2));
    Find("txtChannel_0")->setText("3.5");
    Find("txtVolume_1")->setText("126.5");
    Find<QComboBox>("cboInstrument_1")->setCurrentIndex(104);
    Find<QRadioButton>("optRandomKeyRefInstruments_1")->setChecked(true);
    Find<QRadioButton>("optRandomNoteInstruments_0")->setChecked(true);
    Find("txtVolume_0")->setFocus(Qt::TabFocusReason);
    Find("txtVolume_0")->setText("0");
    QTest::mouseClick(Find<QPushButton>("cmdOK"), Qt::LeftButton);
    EXPECT_EQ(m_boxes.Boxes.size(), 1u);
    EXPECT_TRUE(m_dialog->isVisible());
    Find<QPushButton>("cmdOK")->click(); // with the value put back
    EXPECT_EQ(m_dialog->result(), QDialog::Accepted);
    const clsSettings& s = m_settings;
    EXPECT_EQ(std::tuple(s.MIDIDevice(), s.MIDIChannelKR(), s.MIDIVolumeRN(), s.MIDIInstrumentRN(),
                         s.MIDIRandomInstrumentKR(), s.MIDIRandomInstrumentRN()),
              std::tuple(2, 4, 126, 104, true, false));
}

} // namespace
} // namespace sonavel
