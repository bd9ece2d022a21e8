#include "MainWindowHarness.h"
#include "PulseServer.h"
#include "ScopedEnv.h"
#include "platform/SystemMidiOutput.h"

#include <QPushButton>
#include <QTimer>
#include <filesystem>
#include <fluidsynth.h>

#if __has_include(<jack/jack.h>)
#define SONAVEL_JACK_TESTS 1
#include "JackServer.h"
#include "JackSink.h"
#endif

// The real window with the real MIDI output driven into each fault of the
// sound path and out of it again.
namespace sonavel::uitest {
namespace {

namespace fs = std::filesystem;

const char* const GmSoundFont = "/usr/share/sounds/sf2/FluidR3_GM.sf2";

// The built-in synthesizer finds SoundFonts only in dir/sf2 (made here) and plays through
// FluidSynth's drivers in order, the last one the "file" driver (no sound card)
// into dir/audioFolder.
SystemMidiOutput::Options SynthIn(const fs::path& dir, const char* audioFolder) {
    fs::create_directory(dir / "sf2");
    SystemMidiOutput::Options options;
    options.Synth.SoundFontFiles.clear();
    options.Synth.SoundFontFolders = {(dir / "sf2").string()};
    options.Synth.AudioDrivers = {"no-such-driver", "file"};
    options.Synth.AudioFile = (dir / audioFolder / "sound.wav").string();
    options.UseAlsa = options.UseJack = false;
    return options;
}

// Distinct channels (the reference keeps channel 1) and fixed instruments, so
// that each program change can be told where it went.
void TwoVoices(clsSettings& settings) {
    settings.SetMIDIInstrumentKR(19);
    settings.SetMIDIChannelRN(2);
    settings.SetMIDIInstrumentRN(40);
}

// Tools, MIDI setup: picks the device with this number (none when cancel) and
// presses OK, or Cancel. False when the dialog did not list the device.
bool ChooseDevice(MainWindowHarness& h, int32_t device, bool cancel = false) {
    bool listed = false;
    QTimer::singleShot(0, h.Window.get(), [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (dialog == nullptr)
            return;
        auto* devices = dialog->findChild<QComboBox*>(QStringLiteral("cboDevice"));
        devices->setCurrentIndex(devices->findData(device));
        listed = devices->currentIndex() >= 0;
        dialog->findChild<QPushButton*>(cancel ? "cmdCancel" : "cmdOK")->click();
    });
    h.Trigger(QStringLiteral("mnuToolsMidiSetup"));
    return listed;
}

// A failed open reports the device's reason (naming each of named) under
// step and code, "Cannot open MIDI device." and the handler on top.
void ExpectCannotOpen(const std::string& report, const std::string& step, int code,
                      std::vector<std::string> named, const std::string& handler) {
    named.push_back("Source: " + step + "\r\nCode  : " + std::to_string(code) + "\r\n");
    named.push_back("Source: clsMidi::Initialize()\r\nCode  : " + std::to_string(code) +
                    "\r\nString: Cannot open MIDI device.");
    named.push_back("Source: " + handler);
    for (const std::string& text : named)
        EXPECT_NE(report.find(text), std::string::npos) << text << " in " << report;
}

// Each fault of the built-in synthesizer made real in a folder of the test,
// and a device number from a machine with more ports: the window reports the
// cause each time, stays usable, and plays once the cause is gone without a
// restart, the instruments on their channels.
TEST(SoundFaults, BuiltInSynthesizerReportsTheCauseAndPlaysOnceItIsMended) {
    struct Row {
        int16_t Device;
        bool SoundFont;          // else the folder searched has none
        const char* AudioFolder; // missing until mended
        int Code;
        std::vector<std::string> Named; // "@" is the test's folder
    };
    const Row table[] = {
        {0, false, "", SystemMidiOutput::ResultNoSoundFont, {"No SoundFont was found", "@/sf2/"}},
        {0,
         true,
         "missing",
         SystemMidiOutput::ResultNoAudio,
         {"No audio output could be opened", "no-such-driver", "@/missing/sound.wav"}},
        {7,
         true,
         "",
         SystemMidiOutput::ResultBadDevice,
         {"There is no MIDI device number 7", "built-in synthesizer (0)"}},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.Named[0]);
        QTemporaryDir temp;
        const fs::path dir = temp.path().toStdString();
        SystemMidiOutput output(SynthIn(dir, row.AudioFolder));
        if (row.SoundFont)
            fs::create_symlink(GmSoundFont, dir / "sf2" / "gm.sf2");
        MainWindowHarness h(
            [&row](clsSettings& settings) {
                settings.SetMIDIDevice(row.Device);
                TwoVoices(settings);
            },
            &output);
        int voices = 0; // the most sounding at any wait of the playback
        h.Clock.OnSleep = [&] {
            if (const FluidSynthEngine* engine = output.Synth().Engine())
                voices = std::max(voices, fluid_synth_get_active_voice_count(engine->Synth()));
        };
        std::vector<std::string> named;
        for (const std::string& text : row.Named)
            named.push_back(text[0] == '@' ? dir.string() + text.substr(1) : text);

        for (size_t attempt = 1; attempt <= 2; ++attempt) { // nothing of the failure is kept
            h.Click(QStringLiteral("cmdStart"));
            ASSERT_EQ(h.Presenter.Reports.size(), attempt);
            ExpectCannotOpen(h.Presenter.Reports.back(), "MidiOutput::Open()", row.Code, named,
                             "frmMain::cmdStart_Click()");
            EXPECT_EQ(std::tuple(h.Window->State(), h.On("fraKey"), h.Window->cursor().shape()),
                      std::tuple(frmMain::Idle, true, Qt::ArrowCursor));
        }
        EXPECT_EQ(voices, 0);

        if (!row.SoundFont)
            fs::create_symlink(GmSoundFont, dir / "sf2" / "gm.sf2");
        fs::create_directories(dir / row.AudioFolder);
        if (row.Device != 0) {
            ASSERT_TRUE(ChooseDevice(h, 0));
        }
        h.Click(QStringLiteral("cmdStart"));
        EXPECT_EQ(h.Presenter.Reports.size(), 2u) << "no report once mended";
        EXPECT_EQ(h.Window->State(), frmMain::Answering);
        EXPECT_GT(voices, 0) << "the synthesizer sounded";
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
    EXPECT_TRUE(h.Output.AllNotesStopped());
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

// The sound server of the synthesizer's stream is killed while a chord sounds: the question ends
// with the cause, and the next question plays through the server that runs by then.
TEST(SoundFaults, SoundServerKilledDuringAQuestion) {
    fakes::PulseServer server;
    if (!server.Running())
        GTEST_SKIP() << "no PulseAudio server for this test: " << server.Why();
    fakes::ScopedEnv address("PULSE_SERVER", server.Address());
    QTemporaryDir temp;
    SystemMidiOutput::Options options = SynthIn(temp.path().toStdString(), "");
    options.Synth.AudioDrivers = {FluidSynthOutput::StreamDriver};
    fs::create_symlink(GmSoundFont, temp.filePath("sf2/gm.sf2").toStdString());
    SystemMidiOutput output(options);
    MainWindowHarness h({}, &output);
    h.Clock.OnSleep = [&] {
        h.Clock.OnSleep = nullptr;
        server.Kill();
        for (int i = 0; i < 500 && !output.Synth().HasFailed(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    };
    h.Click(QStringLiteral("cmdStart"));
    ASSERT_EQ(h.Presenter.Reports.size(), 1u);
    const std::string& report = h.Presenter.Reports[0];
    EXPECT_NE(report.find("the sound server closed the connection"), std::string::npos) << report;
    EXPECT_EQ(h.Window->State(), frmMain::Idle);

    fakes::PulseServer again;
    fakes::ScopedEnv addressAgain("PULSE_SERVER", again.Address());
    h.Click(QStringLiteral("cmdStart"));
    EXPECT_EQ(std::pair(h.Presenter.Reports.size(), h.Window->State()),
              std::pair(size_t{1}, frmMain::Answering));
}

#ifdef SONAVEL_JACK_TESTS

using Bytes = fakes::JackSink::Bytes;

// The port's device number, waiting until it is listed or gone (-1): the
// server tells its clients of a port that comes or goes a moment later.
int32_t DeviceNumber(SystemMidiOutput& output, const std::string& port, bool listed) {
    for (int tries = 0;; ++tries, std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
        int32_t number = -1;
        for (const MidiDeviceInfo& device : output.Devices())
            if (device.Name == port + " (JACK)")
                number = device.Number;
        if ((number >= 0) == listed || tries == 500)
            return number;
    }
}

// The program at the other end of a MIDI port leaves in the middle of a
// question: the question ends, the next one says the port has gone, and once
// a program is back under the same name the trainer plays to it again.
TEST(SoundFaults, MidiPortThatGoesDuringAQuestion) {
    fakes::JackServer server;
    if (!server.Running())
        GTEST_SKIP() << "no JACK server for this test: " << server.Why();
    // RtMidi talks to the default server; make that ours for this test.
    fakes::ScopedEnv defaultServer("JACK_DEFAULT_SERVER", server.Name());
    QTemporaryDir temp;
    const fs::path dir = temp.path().toStdString();
    SystemMidiOutput::Options options = SynthIn(dir, "");
    fs::create_symlink(GmSoundFont, dir / "sf2" / "gm.sf2");
    options.UseJack = true;
    SystemMidiOutput output(options);
    const std::string port = "sonavel-synth:input";
    auto sink = std::make_unique<fakes::JackSink>(server, "sonavel-synth");
    ASSERT_TRUE(sink->Ok());
    const int32_t number = DeviceNumber(output, port, true);
    ASSERT_GE(number, 0);
    MainWindowHarness h(
        [number](clsSettings& settings) {
            settings.SetMIDIDevice(static_cast<int16_t>(number));
            TwoVoices(settings);
        },
        &output);

    std::vector<Bytes> beforeItWent;
    h.Clock.OnSleep = [&] {
        h.Clock.OnSleep = nullptr;
        beforeItWent = sink->Received(5); // the instrument and the first chord
        sink->Close();
    };
    h.Click(QStringLiteral("cmdStart"));
    EXPECT_EQ(h.Window->State(), frmMain::Answering) << "the question ended";
    EXPECT_TRUE(h.Presenter.Reports.empty());
    ASSERT_GE(beforeItWent.size(), 5u) << "it was playing there";
    EXPECT_EQ(beforeItWent.front(), (Bytes{0xC0, 19}));

    ASSERT_EQ(DeviceNumber(output, port, false), -1);
    h.Click(QStringLiteral("cmdPlayAgain"));
    ASSERT_EQ(h.Presenter.Reports.size(), 1u);
    ExpectCannotOpen(h.Presenter.Reports[0], "MidiOutput::Reconnect()",
                     SystemMidiOutput::ResultError, {"\"" + port + "\"", "no longer there"},
                     "frmMain::cmdPlayAgain_Click()");
    EXPECT_EQ(h.Window->State(), frmMain::Answering);
    EXPECT_EQ(h.Window->cursor().shape(), Qt::ArrowCursor);

    // Back under the same name: the whole question, both instruments again.
    sink = std::make_unique<fakes::JackSink>(server, "sonavel-synth");
    EXPECT_EQ(DeviceNumber(output, port, true), number);
    h.Click(QStringLiteral("cmdPlayAgain"));
    EXPECT_EQ(h.Presenter.Reports.size(), 1u);
    const Bytes lastNoteOff{0x91, uint8_t(h.Window->Engine().SecondMidiNote()), 0};
    const std::vector<Bytes> received = sink->Received(SIZE_MAX, lastNoteOff);
    for (const Bytes& message : {Bytes{0xC0, 19}, Bytes{0xC1, 40}, lastNoteOff})
        EXPECT_GT(std::ranges::count(received, message), 0) << int(message[0]);
}

#else

TEST(SoundFaults, MidiPortThatGoesDuringAQuestion) {
    GTEST_SKIP() << "built without the JACK headers (package libjack-jackd2-dev)";
}

#endif

} // namespace
} // namespace sonavel::uitest
