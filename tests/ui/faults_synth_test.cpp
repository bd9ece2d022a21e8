#include "ScopedEnv.h"
#include "SoundFaults.h"

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>

namespace sonavel::uitest {
namespace {

namespace fs = std::filesystem;

// Faults of the built-in synthesizer, each made real in a folder of the test:
// the window reports the cause, stays usable, and plays once the cause is gone
// without being restarted (nothing about the failure is kept).
TEST(SoundFaults, BuiltInSynthesizerReportsTheCauseAndPlaysOnceItIsMended) {
    struct Row {
        const char* Name;
        std::vector<std::string> Drivers;
        const char* AudioFile;                      // below the test's folder
        std::function<void(const fs::path&)> Break; // on the SoundFont folder
        int Code;                                   // SystemMidiOutput's result
        std::vector<std::string> Texts;             // the reason names these
        std::vector<std::string> Paths;             // and these, below the test's folder
        std::function<void(const fs::path&)> Mend;  // on the test's folder
    };
    const auto linkSoundFont = [](const fs::path& dir) {
        fs::create_symlink(GmSoundFont, dir / "sf2" / "FluidR3_GM.sf2");
    };
    const Row table[] = {
        {"no SoundFont in the folder searched",
         {"file"},
         "sound.wav",
         [](const fs::path&) {},
         SystemMidiOutput::ResultNoSoundFont,
         {"No SoundFont was found"},
         {"sf2/"},
         linkSoundFont},
        {"a corrupt SoundFont",
         {"file"},
         "sound.wav",
         [](const fs::path& sf2) {
             std::ofstream(sf2 / "broken.sf2", std::ios::binary) << "RIFF\x10\0\0\0sfbkjunk bytes";
         },
         SystemMidiOutput::ResultNoSoundFont,
         {"No SoundFont could be loaded"},
         {"sf2/broken.sf2"},
         [](const fs::path& dir) {
             fs::remove(dir / "sf2" / "broken.sf2");
             fs::create_symlink(GmSoundFont, dir / "sf2" / "broken.sf2");
         }},
        // The sound server is missing, and the file to write to cannot be made.
        {"no audio output",
         {"no-such-driver", "jack", "file"},
         "missing/sound.wav",
         [](const fs::path& sf2) { fs::create_symlink(GmSoundFont, sf2 / "gm.sf2"); },
         SystemMidiOutput::ResultNoAudio,
         {"No audio output could be opened", "no-such-driver", "jack (", "file ("},
         {"missing/sound.wav"},
         [](const fs::path& dir) { fs::create_directory(dir / "missing"); }},
    };
    // FluidSynth's JACK driver must find no server, even if the user runs one.
    fakes::ScopedEnv noJack("JACK_DEFAULT_SERVER", "sonavel-absent-" + std::to_string(getpid()));
    fakes::ScopedEnv noJackStart("JACK_NO_START_SERVER", "1");

    for (const Row& row : table) {
        SCOPED_TRACE(row.Name);
        QTemporaryDir temp;
        const fs::path dir = temp.path().toStdString();
        fs::create_directory(dir / "sf2");
        row.Break(dir / "sf2");
        SystemMidiOutput output(SynthIn(dir / "sf2", row.Drivers, dir / row.AudioFile));
        MainWindowHarness h(
            [](clsSettings& settings) {
                settings.SetMIDIDevice(0);
                TwoVoices(settings);
            },
            &output);
        VoiceWatch voices(h, output);
        std::vector<std::string> named = row.Texts;
        for (const std::string& path : row.Paths)
            named.push_back((dir / path).string());

        // Twice: a failure is reported each time, the same way.
        for (int attempt = 0; attempt < 2; ++attempt) {
            h.Click(QStringLiteral("cmdStart"));
            ASSERT_EQ(h.Presenter.Reports.size(), size_t(attempt + 1));
            ExpectCannotOpen(h.Presenter.Reports.back(), "MidiOutput::Open()", row.Code, named,
                             "frmMain::cmdStart_Click()");
            EXPECT_EQ(h.Window->State(), frmMain::Idle);
            EXPECT_TRUE(h.On(QStringLiteral("cmdStart")));
            EXPECT_TRUE(h.On(QStringLiteral("fraKey")));
            EXPECT_EQ(h.Window->cursor().shape(), Qt::ArrowCursor);
        }
        EXPECT_EQ(voices.Most, 0);

        row.Mend(dir);
        h.Click(QStringLiteral("cmdStart"));
        EXPECT_EQ(h.Presenter.Reports.size(), 2u) << "no report once mended";
        EXPECT_EQ(h.Window->State(), frmMain::Answering);
        EXPECT_GT(voices.Most, 0) << "the synthesizer sounded";
        const FluidSynthEngine* engine = output.Synth().Engine();
        ASSERT_NE(engine, nullptr);
        EXPECT_EQ(engine->Program(0), 19) << "key reference instrument on channel 1";
        EXPECT_EQ(engine->Program(1), 40) << "random notes instrument on channel 2";

        // A correct answer goes straight on to the next question.
        voices.Most = 0;
        h.AnswerCorrectly();
        h.Click(QStringLiteral("cmdValidate"));
        EXPECT_EQ(h.Text(QStringLiteral("lblTotalA")), QStringLiteral("1"));
        EXPECT_EQ(h.Window->State(), frmMain::Answering);
        EXPECT_GT(voices.Most, 0);
        EXPECT_EQ(h.Presenter.Reports.size(), 2u);
    }
}

} // namespace
} // namespace sonavel::uitest
