// Answering without the mouse: on the computer's keys, or playing a MIDI keyboard.
#include "MainWindowHarness.h"
#include "history/HistoryDb.h"
#include "platform/RtMidiInput.h"

#include <QTimer>

#if __has_include(<jack/jack.h>)
#include "JackSink.h"
#include "ScopedEnv.h"
#endif

namespace sonavel::uitest {
namespace {

// Digits choose degrees in lists of note names; Tab, arrows and Enter do the rest.
TEST(KeyboardOnly, ThreeQuestionsWithoutTheMouse) {
    MainWindowHarness h([](clsSettings& settings) { settings.SetNoteDisplayMode(0); });
    h.Key(Qt::Key_S, Qt::AltModifier);
    for (int question = 0; question < 3; ++question) {
        const clsEngine& engine = h.Window->Engine();
        h.Key(Qt::Key_1 + engine.FirstNote());
        h.Key(Qt::Key_Tab);
        h.Key(Qt::Key_1 + engine.SecondNote(), Qt::KeypadModifier);
        h.Key(Qt::Key_Tab);
        h.Key(Qt::Key_Home);
        for (int row = 0; row < engine.CurrentInterval(); ++row)
            h.Key(Qt::Key_Down);
        h.Key(Qt::Key_Return);
    }
    EXPECT_EQ(h.Text("lblTotalA"), QStringLiteral("3"));
}

#if __has_include(<jack/jack.h>)

// A keyboard on JACK: its port "out" plays each note given and releases it at once.
struct JackKeys {
    explicit JackKeys(const fakes::JackServer& server) : Client(server.OpenClient("kbd")) {
        Port = jack_port_register(Client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        jack_set_process_callback(
            Client,
            [](jack_nframes_t frames, void* data) {
                auto* self = static_cast<JackKeys*>(data);
                void* buffer = jack_port_get_buffer(self->Port, frames);
                jack_midi_clear_buffer(buffer);
                const std::lock_guard lock(self->Mutex);
                jack_nframes_t at = 0;
                for (int note : std::exchange(self->Notes, {}))
                    for (const unsigned char velocity : {100, 0}) {
                        const unsigned char on[3] = {0x90, uint8_t(note), velocity};
                        jack_midi_event_write(buffer, at++, on, 3);
                    }
                return 0;
            },
            this);
        jack_activate(Client);
    }
    ~JackKeys() { jack_client_close(Client); }
    void Play(int note) {
        const std::lock_guard lock(Mutex);
        Notes.push_back(note);
    }
    jack_client_t* Client;
    jack_port_t* Port = nullptr;
    std::mutex Mutex;
    std::vector<int> Notes;
};

// Chosen in Tools, MIDI keyboard (its test line shows a note), it answers wrong, out of
// the key, right an octave lower; unplugged it is told, plugged back it answers again.
TEST(MidiKeyboard, AnswersByPlayingAndComesBackAfterUnplugging) {
    fakes::JackServer server;
    if (!server.Running())
        GTEST_SKIP() << "no JACK server for this test: " << server.Why();
    fakes::ScopedEnv defaultServer("JACK_DEFAULT_SERVER", server.Name());
    auto keys = std::make_unique<JackKeys>(server);
    RtMidiInput input({false, true, "Sonavel"}); // outlives the window that listens to it
    MainWindowHarness h;
    HistoryDb history;
    ASSERT_TRUE(history.Open(h.Dir.filePath(QStringLiteral("h.db")).toStdString()));
    h.Window->SetHistory(&history);
    h.Window->SetMidiInput(&input);
    const QString port = QStringLiteral("kbd:out (JACK)");
    auto until = [&](auto condition) { return QTest::qWaitFor(condition, 5000); };
    QTimer::singleShot(0, h.Window.get(), [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        auto* ports = dialog->findChild<QComboBox*>(QStringLiteral("cboPort"));
        emit ports->activated(ports->findText(port));
        auto* last = dialog->findChild<QLabel*>(QStringLiteral("lblLastNote"));
        EXPECT_TRUE(until([&] { return keys->Play(61), last->text() == "C#4 (61)"; }));
        dialog->close();
    });
    h.Trigger(QStringLiteral("mnuToolsMidiKeyboard"));
    EXPECT_EQ(history.Preference("midi_keyboard_port"), port.toStdString());

    h.Click(QStringLiteral("cmdStart"));
    const clsEngine& engine = h.Window->Engine();
    keys->Play(engine.FirstMidiNote());
    keys->Play(engine.FirstMidiNote() + 12);
    ASSERT_TRUE(until([&] { return h.Text("lblFeedback") == "No,\nnot correct."; }));
    const QString notInKey = QStringLiteral("Not in the key: C#"); // the questions are in C major
    keys->Play(61);
    ASSERT_TRUE(until([&] { return h.Text("stbStatusText") == notInKey; }));
    keys->Play(engine.FirstMidiNote() - 12);
    keys->Play(engine.SecondMidiNote() - 12);
    ASSERT_TRUE(until([&] { return h.Text("lblTotalQ") == "1"; }));
    h.Settle();

    keys.reset();
    EXPECT_TRUE(until([&] { return h.Text("stbStatusText").contains("has gone"); }));
    keys = std::make_unique<JackKeys>(server);
    EXPECT_TRUE(until([&] { return keys->Play(61), h.Text("stbStatusText") == notInKey; }));
    keys->Play(engine.FirstMidiNote());
    keys->Play(engine.SecondMidiNote());
    EXPECT_TRUE(until([&] { return h.Text("lblTotalA") == "1"; }));
}

#endif

} // namespace
} // namespace sonavel::uitest
