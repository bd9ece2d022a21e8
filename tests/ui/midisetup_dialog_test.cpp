#include "RecordingMessageBoxes.h"
#include "RecordingMidiOutput.h"
#include "RecordingPresenter.h"
#include "midi/frmMIDISetup.h"
#include "settings/clsSettings.h"
#include "startup/clsErrorHandler.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <memory>
#include <stdexcept>

namespace sonavel {
namespace {

class MidiSetupTest : public ::testing::Test {
protected:
    MidiSetupTest() {
        m_errors.SetPresenter(&m_presenter);
        // Away from the defaults and from each other, so that a value read
        // from the wrong setting or written back wrongly shows.
        m_settings.SetMIDIDevice(1);
        m_settings.SetMIDIChannelKR(3);
        m_settings.SetMIDIChannelRN(10);
        m_settings.SetMIDIVolumeKR(90);
        m_settings.SetMIDIVolumeRN(64);
        m_settings.SetMIDIInstrumentKR(19);
        m_settings.SetMIDIInstrumentRN(40);
        m_settings.SetMIDIRandomInstrumentRN(true);
        m_output.DeviceList = {{-1, "Default"}, {0, "Synthesizer"}, {1, "One"}, {2, "Two"}};
    }

    // Active when focus changes matter, so that they send focus events as
    // they do for a user.
    std::unique_ptr<frmMIDISetup> Open(bool active = false) {
        auto dialog = std::make_unique<frmMIDISetup>(m_settings, m_output, m_boxes, m_errors);
        if (active) {
            dialog->show();
            QApplication::setActiveWindow(dialog.get());
            QApplication::processEvents();
            EXPECT_TRUE(dialog->isActiveWindow());
        }
        return dialog;
    }
    template <typename T = QLineEdit> static T* Find(QWidget& dialog, const char* name) {
        T* widget = dialog.findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    static void Click(QWidget& dialog, const char* button) {
        Find<QPushButton>(dialog, button)->click();
    }
    // What the settings file would hold: any setting that moved shows.
    std::string Saved() const {
        QTemporaryDir dir;
        const std::string path = dir.filePath(QStringLiteral("s.dat")).toStdString();
        m_settings.SaveToDisk(path);
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    clsSettings m_settings;
    fakes::RecordingMidiOutput m_output;
    fakes::RecordingMessageBoxes m_boxes;
    fakes::RecordingPresenter m_presenter;
    clsErrorHandler m_errors;
};

TEST_F(MidiSetupTest, DeviceListFollowsTheOutputAndSelectsTheStoredDevice) {
    const std::vector<MidiDeviceInfo> withPorts = m_output.DeviceList;
    const std::vector<MidiDeviceInfo> withoutPorts(withPorts.begin(), withPorts.begin() + 2);
    const std::tuple<std::vector<MidiDeviceInfo>, int16_t, int> rows[] = {
        {withPorts, 2, 3}, {withoutPorts, 0, 1}, {withoutPorts, 2, 0} /* vanished */};
    for (const auto& [devices, stored, selected] : rows) {
        m_output.DeviceList = devices;
        m_settings.SetMIDIDevice(stored);
        auto dialog = Open();
        auto* list = Find<QComboBox>(*dialog, "cboDevice");
        ASSERT_EQ(list->count(), int(devices.size()));
        for (int i = 0; i < list->count(); ++i)
            EXPECT_EQ(std::pair(list->itemText(i).toStdString(), list->itemData(i).toInt()),
                      std::pair(devices[i].Name, int(devices[i].Number)));
        EXPECT_EQ(list->currentIndex(), selected) << "stored " << stored;
    }
    // The vanished device gives way to the default only when OK is pressed.
    Open()->reject();
    EXPECT_EQ(m_settings.MIDIDevice(), 2);
    Click(*Open(), "cmdOK");
    EXPECT_EQ(m_settings.MIDIDevice(), -1);

    // A failing device query is reported; the rest of the dialog works, and
    // OK leaves the device as it was.
    struct : fakes::RecordingMidiOutput {
        std::vector<MidiDeviceInfo> Devices() override { throw std::runtime_error("no service"); }
    } failing;
    const std::string before = Saved();
    frmMIDISetup dialog(m_settings, failing, m_boxes, m_errors);
    ASSERT_EQ(m_boxes.Boxes.size(), 1u);
    EXPECT_EQ(m_boxes.Boxes[0].Text, "Error Obtaining Midi Out Devices");
    EXPECT_EQ(Find(dialog, "txtVolume_1")->text(), "64");
    Click(dialog, "cmdOK");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(Saved(), before);
}

TEST_F(MidiSetupTest, StoredInstrumentOutsideTheListIsReportedAsALoadFailure) {
    m_settings.SetMIDIInstrumentRN(128);
    auto dialog = Open();
    EXPECT_EQ(Find<QComboBox>(*dialog, "cboInstrument_1")->count(), 128);
    ASSERT_EQ(m_presenter.Reports.size(), 1u);
    EXPECT_NE(m_presenter.Reports[0].Details.find("frmMIDISetup::Form_Load()"), std::string::npos);
}

TEST_F(MidiSetupTest, KeyFilterDiscardsTypedCharactersOtherThanDigitsAndPoint) {
    auto dialog = Open();
    for (const char* name : {"txtChannel_0", "txtChannel_1", "txtVolume_0", "txtVolume_1"}) {
        auto* box = Find(*dialog, name);
        box->clear();
        // The neighbours of '0' and '9' are refused; Backspace is no text.
        QTest::keyClicks(box, "0a9/:-. ");
        QTest::keyClick(box, Qt::Key_Backspace);
        EXPECT_EQ(box->text(), "09") << name;
    }
    // Paste is not filtered; the check when leaving the box catches it.
    auto* box = Find(*dialog, "txtChannel_1");
    QApplication::clipboard()->setText("abc");
    box->selectAll();
    QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(box->text(), "abc");
    EXPECT_TRUE(m_boxes.Boxes.empty());
}

TEST_F(MidiSetupTest, LeavingABoxChecksItsRange) {
    // The nearest values on either side of each bound; a refused one puts the
    // box's own setting back.
    const std::tuple<const char*, const char*, const char*> rows[] = {
        {"txtChannel_0", "0.99", "3"},   {"txtChannel_0", "1", nullptr},
        {"txtChannel_1", "16", nullptr}, {"txtChannel_1", "16.01", "10"},
        {"txtVolume_0", "0.99", "90"},   {"txtVolume_0", "1", nullptr},
        {"txtVolume_1", "127", nullptr}, {"txtVolume_1", "127.01", "64"},
        {"txtChannel_0", "", "3"},       {"txtVolume_1", "abc", "64"}};
    auto dialog = Open(true);
    const std::string before = Saved();
    for (const auto& [name, text, reset] : rows) {
        SCOPED_TRACE(std::string(name) + " = \"" + text + "\"");
        m_boxes.Boxes.clear();
        auto* box = Find(*dialog, name);
        box->setFocus(Qt::TabFocusReason);
        box->setText(text);
        Find<QWidget>(*dialog, "cboInstrument_0")->setFocus(Qt::TabFocusReason);
        EXPECT_EQ(box->text(), reset ? reset : text);
        ASSERT_EQ(m_boxes.Boxes.size(), reset ? 1u : 0u);
        if (reset) {
            const bool channel = std::string(name).find("Channel") != std::string::npos;
            EXPECT_NE(m_boxes.Boxes[0].Text.find(channel ? "channel must be between 1 and 16"
                                                         : "volume must be between 1 and 127"),
                      std::string::npos);
            EXPECT_EQ(m_boxes.Boxes[0].Icon, MsgIcon::Critical);
        }
    }
    EXPECT_EQ(Saved(), before);
}

TEST_F(MidiSetupTest, OKStoresEveryChoiceAndNothingWhenNothingChanged) {
    const std::string before = Saved();
    Click(*Open(), "cmdOK");
    EXPECT_EQ(Saved(), before);

    auto dialog = Open();
    auto* devices = Find<QComboBox>(*dialog, "cboDevice");
    devices->setCurrentIndex(devices->findData(2));
    const std::pair<const char*, const char*> texts[] = {{"txtChannel_0", "2.5"},
                                                         {"txtChannel_1", "3.5"},
                                                         {"txtVolume_0", "100"},
                                                         {"txtVolume_1", "126.5"}};
    for (const auto& [name, text] : texts)
        Find(*dialog, name)->setText(text);
    Find<QComboBox>(*dialog, "cboInstrument_0")->setCurrentIndex(0);
    auto* instrumentRN = Find<QComboBox>(*dialog, "cboInstrument_1");
    instrumentRN->setCurrentIndex(instrumentRN->findText("105. Sitar"));
    Find<QRadioButton>(*dialog, "optRandomKeyRefInstruments_1")->setChecked(true);
    Find<QRadioButton>(*dialog, "optRandomNoteInstruments_0")->setChecked(true);
    Click(*dialog, "cmdOK");
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    const clsSettings& s = m_settings;
    // Halves go to the even neighbour.
    EXPECT_EQ(std::tuple(s.MIDIDevice(), s.MIDIChannelKR(), s.MIDIChannelRN(), s.MIDIVolumeKR(),
                         s.MIDIVolumeRN(), s.MIDIInstrumentKR(), s.MIDIInstrumentRN()),
              std::tuple(2, 2, 4, 100, 126, 0, 104));
    EXPECT_TRUE(s.MIDIRandomInstrumentKR());
    EXPECT_FALSE(s.MIDIRandomInstrumentRN());
    EXPECT_TRUE(m_boxes.Boxes.empty());
}

// A click on OK or Cancel moves the focus first, without the check of the
// box left; OK then checks every box itself, Cancel checks nothing.
TEST_F(MidiSetupTest, CancelWithABadValueDoesNotComplain) {
    const std::string before = Saved();
    auto withBadValue = [this](const char* name) {
        auto dialog = Open(true);
        Find<QComboBox>(*dialog, "cboInstrument_0")->setCurrentIndex(5);
        Find<QRadioButton>(*dialog, "optRandomKeyRefInstruments_1")->setChecked(true);
        Find(*dialog, name)->setFocus(Qt::TabFocusReason);
        Find(*dialog, name)->setText("0");
        return dialog;
    };
    auto dialog = withBadValue("txtChannel_0");
    Find<QPushButton>(*dialog, "cmdCancel")->setFocus(Qt::MouseFocusReason);
    Click(*dialog, "cmdCancel");
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    dialog = withBadValue("txtVolume_1");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_TRUE(m_boxes.Boxes.empty());
    EXPECT_EQ(Saved(), before);

    // Enter refuses the value and leaves the focus in the box.
    dialog = withBadValue("txtVolume_0");
    auto* box = Find(*dialog, "txtVolume_0");
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_EQ(box->text(), "90");
    EXPECT_TRUE(dialog->isVisible() && box->hasFocus());
    box->setText("0");
    auto* ok = Find<QPushButton>(*dialog, "cmdOK");
    ok->setFocus(Qt::MouseFocusReason);
    ok->click();
    EXPECT_EQ(m_boxes.Boxes.size(), 2u);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(Saved(), before);
    ok->click(); // with the value put back
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(m_settings.MIDIInstrumentKR(), 5);
}

} // namespace
} // namespace sonavel
