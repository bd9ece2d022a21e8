#include "SoundFaults.h"

#include <QTemporaryDir>
#include <filesystem>
#include <gtest/gtest.h>

namespace sonavel::uitest {
namespace {

namespace fs = std::filesystem;

// A settings file from a machine that had more MIDI ports: the device number
// means nothing here. The user is told so and picks another device.
TEST(SoundFaults, DeviceNumberThatNoLongerExistsIsReportedUntilAnotherIsChosen) {
    QTemporaryDir temp;
    const fs::path dir = temp.path().toStdString();
    fs::create_directory(dir / "sf2");
    fs::create_symlink(GmSoundFont, dir / "sf2" / "gm.sf2");
    SystemMidiOutput output(SynthIn(dir / "sf2", {"file"}, dir / "sound.wav"));
    MainWindowHarness h(
        [](clsSettings& settings) {
            settings.SetMIDIDevice(7);
            TwoVoices(settings);
        },
        &output);
    VoiceWatch voices(h, output);

    h.Click(QStringLiteral("cmdStart"));
    ASSERT_EQ(h.Presenter.Reports.size(), 1u);
    ExpectCannotOpen(h.Presenter.Reports[0], "MidiOutput::Open()",
                     SystemMidiOutput::ResultBadDevice,
                     {"There is no MIDI device number 7", "built-in synthesizer (0)"},
                     "frmMain::cmdStart_Click()");
    EXPECT_EQ(h.Window->State(), frmMain::Idle);
    EXPECT_EQ(h.Window->cursor().shape(), Qt::ArrowCursor);

    ASSERT_TRUE(ChooseDevice(h, 0));
    EXPECT_EQ(h.Settings.MIDIDevice(), 0);
    h.Click(QStringLiteral("cmdStart"));
    EXPECT_EQ(h.Presenter.Reports.size(), 1u);
    EXPECT_EQ(h.Window->State(), frmMain::Answering);
    EXPECT_GT(voices.Most, 0);
    EXPECT_EQ(output.Synth().Engine()->Program(0), 19);
    EXPECT_EQ(output.Synth().Engine()->Program(1), 40);
}

// The engine keeps its device open between questions, so a device chosen in
// the MIDI setup is taken up by closing the old one: at once when idle, after
// the question when chosen while one plays (the menu stays usable then), and
// not at all when the dialog is cancelled.
TEST(SoundFaults, DeviceChosenInMidiSetupIsUsedFromTheNextQuestion) {
    MainWindowHarness h([](clsSettings& settings) { settings.SetMIDIDevice(0); });
    // Chosen while the first chord sounds.
    bool chosenDuringPlayback = false;
    h.Clock.OnSleep = [&] {
        h.Clock.OnSleep = nullptr;
        chosenDuringPlayback = h.Window->State() == frmMain::Playing && ChooseDevice(h, -1);
    };
    h.Click(QStringLiteral("cmdStart"));
    ASSERT_TRUE(chosenDuringPlayback);
    EXPECT_EQ(h.Settings.MIDIDevice(), -1);
    EXPECT_EQ(h.Output.DroppedSends, 0) << "the question ended on its device";
    EXPECT_TRUE(h.AllNotesStopped());
    EXPECT_EQ(h.Output.Closes, 1) << "closed once the question had sounded";
    EXPECT_FALSE(h.Output.IsOpen());

    h.Click(QStringLiteral("cmdPlayAgain"));
    EXPECT_EQ(h.Output.OpenedDevices, (std::vector<int32_t>{0, -1}));

    ASSERT_TRUE(ChooseDevice(h, 0));
    EXPECT_EQ(h.Output.Closes, 2) << "closed at once when idle";
    h.Click(QStringLiteral("cmdPlayAgain"));
    EXPECT_EQ(h.Output.OpenedDevices, (std::vector<int32_t>{0, -1, 0}));

    QTimer::singleShot(0, h.Window.get(), [] {
        if (QWidget* dialog = QApplication::activeModalWidget())
            dialog->findChild<QPushButton*>(QStringLiteral("cmdCancel"))->click();
    });
    h.Trigger(QStringLiteral("mnuToolsMidiSetup"));
    EXPECT_EQ(h.Output.Closes, 2) << "a cancelled setup leaves the device open";
    EXPECT_TRUE(h.Output.IsOpen());
    EXPECT_TRUE(h.Presenter.Reports.empty());
}

} // namespace
} // namespace sonavel::uitest
