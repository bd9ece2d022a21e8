#include "SoundFaults.h"

#include <QTemporaryDir>
#include <filesystem>
#include <gtest/gtest.h>

namespace sonavel::uitest {
namespace {

namespace fs = std::filesystem;

// Each fault of the built-in synthesizer made real in a folder of the test,
// and a device number from a machine with more ports: the window reports the
// cause each time, stays usable, and plays once the cause is gone without a
// restart, the instruments on their channels.
TEST(SoundFaults, BuiltInSynthesizerReportsTheCauseAndPlaysOnceItIsMended) {
    struct Row {
        const char* Name;
        int16_t Device;
        bool SoundFont;          // else the folder searched has none
        const char* AudioFolder; // missing until mended
        int Code;
        std::vector<std::string> Named; // "@" is the test's folder
    };
    const Row table[] = {
        {"no SoundFont",
         0,
         false,
         "",
         SystemMidiOutput::ResultNoSoundFont,
         {"No SoundFont was found", "@/sf2/"}},
        {"no audio output",
         0,
         true,
         "missing",
         SystemMidiOutput::ResultNoAudio,
         {"No audio output could be opened", "no-such-driver", "@/missing/sound.wav"}},
        {"a device number that does not exist",
         7,
         true,
         "",
         SystemMidiOutput::ResultBadDevice,
         {"There is no MIDI device number 7", "built-in synthesizer (0)"}},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.Name);
        QTemporaryDir temp;
        const fs::path dir = temp.path().toStdString();
        const auto mend = [&](bool soundFont, bool folder) {
            if (soundFont)
                fs::create_symlink(GmSoundFont, dir / "sf2" / "gm.sf2");
            if (folder)
                fs::create_directory(dir / row.AudioFolder);
        };
        fs::create_directory(dir / "sf2");
        mend(row.SoundFont, !*row.AudioFolder);
        SystemMidiOutput output(
            SynthIn(dir / "sf2", {"no-such-driver", "file"}, dir / row.AudioFolder / "sound.wav"));
        MainWindowHarness h(
            [&row](clsSettings& settings) {
                settings.SetMIDIDevice(row.Device);
                TwoVoices(settings);
            },
            &output);
        VoiceWatch voices(h, output);
        std::vector<std::string> named;
        for (const std::string& text : row.Named)
            named.push_back(text[0] == '@' ? dir.string() + text.substr(1) : text);

        for (size_t attempt = 1; attempt <= 2; ++attempt) { // nothing of the failure is kept
            h.Click(QStringLiteral("cmdStart"));
            ASSERT_EQ(h.Presenter.Reports.size(), attempt);
            ExpectCannotOpen(h.Presenter.Reports.back(), "MidiOutput::Open()", row.Code, named,
                             "frmMain::cmdStart_Click()");
            EXPECT_EQ(h.Window->State(), frmMain::Idle);
            EXPECT_TRUE(h.On(QStringLiteral("fraKey")));
            EXPECT_EQ(h.Window->cursor().shape(), Qt::ArrowCursor);
        }
        EXPECT_EQ(voices.Most, 0);

        mend(!row.SoundFont, *row.AudioFolder);
        if (row.Device != 0)
            ASSERT_TRUE(ChooseDevice(h, 0));
        h.Click(QStringLiteral("cmdStart"));
        EXPECT_EQ(h.Presenter.Reports.size(), 2u) << "no report once mended";
        EXPECT_EQ(h.Window->State(), frmMain::Answering);
        EXPECT_GT(voices.Most, 0) << "the synthesizer sounded";
        const FluidSynthEngine* engine = output.Synth().Engine();
        ASSERT_NE(engine, nullptr);
        EXPECT_EQ(std::pair(engine->Program(0), engine->Program(1)), std::pair(19, 40));
    }
}

// The engine keeps its device open between questions, so a device chosen in
// the MIDI setup is taken up by closing the old one: after the question when
// chosen while one plays (the menu stays usable), at once when idle, and not
// at all when the dialog is cancelled.
TEST(SoundFaults, DeviceChosenInMidiSetupIsUsedFromTheNextQuestion) {
    MainWindowHarness h([](clsSettings& settings) { settings.SetMIDIDevice(0); });
    bool chosenDuringPlayback = false;
    h.Clock.OnSleep = [&] {
        h.Clock.OnSleep = nullptr;
        chosenDuringPlayback = h.Window->State() == frmMain::Playing && ChooseDevice(h, -1);
    };
    h.Click(QStringLiteral("cmdStart"));
    ASSERT_TRUE(chosenDuringPlayback);
    EXPECT_EQ(h.Output.DroppedSends, 0) << "the question ended on its device";
    EXPECT_TRUE(h.AllNotesStopped());
    EXPECT_FALSE(h.Output.IsOpen());
    h.Click(QStringLiteral("cmdPlayAgain"));
    ASSERT_TRUE(ChooseDevice(h, 0));
    EXPECT_FALSE(h.Output.IsOpen()) << "closed at once when idle";
    h.Click(QStringLiteral("cmdPlayAgain"));
    EXPECT_EQ(h.Output.OpenedDevices, (std::vector<int32_t>{0, -1, 0}));
    ChooseDevice(h, -1, true);
    EXPECT_TRUE(h.Output.IsOpen()) << "a cancelled setup leaves the device open";
    EXPECT_EQ(h.Settings.MIDIDevice(), 0);
}

} // namespace
} // namespace sonavel::uitest
