#include "SoundFaults.h"

#include <gtest/gtest.h>

#if __has_include(<jack/jack.h>)

#include "JackServer.h"
#include "JackSink.h"
#include "ScopedEnv.h"
#include "Spawn.h"

#include <QTemporaryDir>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <memory>
#include <sys/wait.h>
#include <thread>

namespace sonavel::uitest {
namespace {

namespace fs = std::filesystem;
using fakes::JackServer;
using fakes::JackSink;
using Bytes = JackSink::Bytes;

const char* const SynthClient = "sonavel-synth";

int32_t DeviceNumber(SystemMidiOutput& output, const std::string& port) {
    for (const MidiDeviceInfo& device : output.Devices())
        if (device.Name == port + " (JACK)")
            return device.Number;
    return -100;
}

// The server tells its clients of a port that comes or goes a moment later.
bool WaitUntilListed(SystemMidiOutput& output, const std::string& port, bool listed) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while ((DeviceNumber(output, port) >= 0) != listed) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// A whole question reached the sink: each instrument (key reference on wire
// channel 0, random notes on 1) before the first note on its channel, both
// notes of the question, and every note stopped.
void ExpectWholeQuestion(const std::vector<Bytes>& received, const clsEngine& engine) {
    bool programmed[2] = {};
    int played = 0;
    std::map<std::pair<int, int>, int> sounding;
    for (const Bytes& message : received) {
        if (message == Bytes{0xC0, 19} || message == Bytes{0xC1, 40})
            programmed[message[0] & 1] = true;
        if (message.size() != 3 || (message[0] & 0xFE) != 0x90)
            continue;
        EXPECT_TRUE(programmed[message[0] & 1]) << "instrument first on status " << message[0];
        sounding[{message[0], message[1]}] += message[2] > 0 ? 1 : -1;
        played += message[0] == 0x91 && message[2] > 0 &&
                  (message[1] == engine.FirstMidiNote() || message[1] == engine.SecondMidiNote());
    }
    EXPECT_EQ(played, 2) << "both notes of the question";
    EXPECT_GT(sounding.size(), 2u) << "the key reference sounded";
    for (const auto& [note, count] : sounding)
        EXPECT_EQ(count, 0) << "note " << note.second << " on status " << note.first;
}

// The program at the other end of a MIDI port goes away in the middle of a
// question: by leaving the server, or by being killed. The question ends
// without a crash or a hang; the next one says the port has gone; when the
// program is back under the same name the trainer plays to it again, also when
// it came back between two questions without any error in between; and the
// built-in synthesizer can be chosen instead.
TEST(SoundFaults, MidiPortThatGoesDuringAQuestion) {
    for (const bool killProcess : {false, true}) {
        SCOPED_TRACE(killProcess ? "the client's process is killed"
                                 : "the client leaves the server");
        JackServer server;
        if (!server.Running())
            GTEST_SKIP() << "no JACK server for this test: " << server.Why();
        // RtMidi talks to the default server; make that ours for this test.
        fakes::ScopedEnv defaultServer("JACK_DEFAULT_SERVER", server.Name());
        QTemporaryDir temp;
        const fs::path dir = temp.path().toStdString();
        fs::create_directory(dir / "sf2");
        fs::create_symlink(GmSoundFont, dir / "sf2" / "gm.sf2");
        SystemMidiOutput::Options options = SynthIn(dir / "sf2", {"file"}, dir / "sound.wav");
        options.UseJack = true;
        SystemMidiOutput output(options);

        std::unique_ptr<JackSink> sink;
        pid_t dump = 0;
        struct Reap {
            pid_t& Pid;
            ~Reap() {
                if (Pid > 0 && kill(Pid, SIGKILL) == 0)
                    waitpid(Pid, nullptr, 0);
            }
        } reap{dump};
        const std::string port = std::string(SynthClient) + ":input";
        if (killProcess) {
            std::string why;
            dump =
                fakes::SpawnLogged({"jack_midi_dump", SynthClient}, {}, {}, dir / "dump.log", why);
            ASSERT_NE(dump, 0) << why;
        } else {
            sink =
                std::make_unique<JackSink>(server, std::vector<std::string>{"input"}, SynthClient);
            ASSERT_TRUE(sink->Ok());
        }
        ASSERT_TRUE(WaitUntilListed(output, port, true));
        const int32_t number = DeviceNumber(output, port);

        MainWindowHarness h(
            [number](clsSettings& settings) {
                settings.SetMIDIDevice(static_cast<int16_t>(number));
                TwoVoices(settings);
            },
            &output);

        std::vector<Bytes> beforeItWent;
        bool gone = false;
        h.Clock.OnSleep = [&] {
            if (gone)
                return;
            gone = true;
            if (killProcess) {
                kill(dump, SIGKILL);
                waitpid(dump, nullptr, 0);
                dump = 0;
            } else {
                beforeItWent = sink->Received(5); // the instrument and the first chord
                sink->Close();
            }
        };
        h.Click(QStringLiteral("cmdStart"));
        EXPECT_EQ(h.Window->State(), frmMain::Answering) << "the question ended";
        EXPECT_TRUE(h.Presenter.Reports.empty());
        if (!killProcess) {
            ASSERT_GE(beforeItWent.size(), 5u) << "it was playing there";
            EXPECT_EQ(beforeItWent.front(), (Bytes{0xC0, 19}));
        }

        ASSERT_TRUE(WaitUntilListed(output, port, false));
        h.Click(QStringLiteral("cmdPlayAgain"));
        ASSERT_EQ(h.Presenter.Reports.size(), 1u);
        ExpectCannotOpen(h.Presenter.Reports[0], "MidiOutput::Reconnect()",
                         SystemMidiOutput::ResultError, {"\"" + port + "\"", "no longer there"},
                         "frmMain::cmdPlayAgain_Click()");
        EXPECT_EQ(h.Window->State(), frmMain::Answering);
        EXPECT_TRUE(h.On(QStringLiteral("cmdPlayAgain")));
        EXPECT_EQ(h.Window->cursor().shape(), Qt::ArrowCursor);

        // Back under the same name.
        auto again =
            std::make_unique<JackSink>(server, std::vector<std::string>{"input"}, SynthClient);
        ASSERT_TRUE(WaitUntilListed(output, port, true));
        EXPECT_EQ(DeviceNumber(output, port), number);
        const Bytes lastNoteOff{0x91,
                                static_cast<unsigned char>(h.Window->Engine().SecondMidiNote()), 0};
        h.Click(QStringLiteral("cmdPlayAgain"));
        EXPECT_EQ(h.Presenter.Reports.size(), 1u);
        EXPECT_EQ(h.Window->State(), frmMain::Answering);
        ExpectWholeQuestion(again->ReceivedThrough(lastNoteOff), h.Window->Engine());

        // Gone and back between two questions: nothing to report, and the
        // new program hears the instruments too.
        again->Close();
        ASSERT_TRUE(WaitUntilListed(output, port, false));
        JackSink third(server, {"input"}, SynthClient);
        ASSERT_TRUE(WaitUntilListed(output, port, true));
        h.Click(QStringLiteral("cmdPlayAgain"));
        EXPECT_EQ(h.Presenter.Reports.size(), 1u);
        ExpectWholeQuestion(third.ReceivedThrough(lastNoteOff), h.Window->Engine());

        // The built-in synthesizer instead, chosen while the port is open.
        ASSERT_TRUE(ChooseDevice(h, 0));
        VoiceWatch voices(h, output);
        h.Click(QStringLiteral("cmdPlayAgain"));
        EXPECT_EQ(h.Presenter.Reports.size(), 1u);
        EXPECT_GT(voices.Most, 0);
        EXPECT_TRUE(third.Received(0).empty()) << "nothing more to the port";
    }
}

} // namespace
} // namespace sonavel::uitest

#else

TEST(SoundFaults, MidiPortThatGoesDuringAQuestion) {
    GTEST_SKIP() << "built without the JACK headers (package libjack-jackd2-dev)";
}

#endif
