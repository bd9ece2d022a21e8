#include "engine_fixture.h"

using namespace sonavel;
using namespace sonavel::testing;

namespace {

class EnginePlayback : public EngineTest {
protected:
    EnginePlayback() {
        settings.SetMIDIChannelKR(2);
        settings.SetMIDIVolumeKR(90);
        settings.SetMIDIChannelRN(3);
        settings.SetMIDIVolumeRN(110);
        Tick({{{7}, {}, {}}});
    }
};

// Each key reference, one beat a chord, then the pause and a harmonic interval:
// both notes start and stop together.
TEST_F(EnginePlayback, KeyReferencesAndHarmonicInterval) {
    struct Row {
        int16_t Key;
        int KeyType, Reference;
        std::vector<std::vector<int>> Chords;
    };
    const Row rows[] = {
        {3, 1, 0, {{57, 60, 64, 69}, {50, 62, 65, 69}, {52, 59, 64, 67}, {57, 60, 64, 69}}},
        {0, 0, 1, {{50, 62, 65, 69, 72}, {55, 62, 65, 71}, {48, 64, 67, 71}}},
        {0, 2, 1, {{50, 62, 65, 68, 72}, {55, 62, 65, 68, 71}, {48, 63, 67, 72}}},
        {0, 0, 2, {{48, 52, 55, 60}}},
        {0, 2, 2, {{48, 51, 55, 60}}},
    };
    Tick({{{}, {}, {4}}});
    for (const Row& row : rows) {
        SCOPED_TRACE("key type " + std::to_string(row.KeyType) + ", reference " +
                     std::to_string(row.Reference));
        settings.SetCurrentKey(row.Key);
        settings.SetCurrentKeyType(row.KeyType);
        settings.SetCurrentKeyReference(row.Reference);
        Ask();
        const int64_t t0 = clock.NowMs() - int64_t(row.Chords.size()) * 600 - 800 - 600;
        std::vector<Timed> expected;
        for (size_t i = 0; i < row.Chords.size(); ++i)
            for (int velocity : {90, 0})
                for (int n : row.Chords[i])
                    expected.push_back(
                        {t0 + int64_t(i) * 600 + (velocity ? 0 : 600), Note(2, n, velocity)});
        const int64_t notesAt = t0 + int64_t(row.Chords.size()) * 600 + 800;
        for (int velocity : {110, 0})
            for (int n : {engine.FirstMidiNote(), engine.SecondMidiNote()})
                expected.push_back({notesAt + (velocity ? 0 : 600), Note(3, n, velocity)});
        std::vector<Timed> notes;
        std::ranges::copy_if(device.Messages, std::back_inserter(notes),
                             [](const Timed& m) { return (m.Packed & 0xF0) == 0x90; });
        EXPECT_EQ(notes, expected);
        EXPECT_EQ(engine.SecondMidiNote() - engine.FirstMidiNote(), 4);
    }
}

// A clock whose sleeps a stop request cuts short, as the real clock's are when the window
// closes during a question: the request comes halfway through the given sleep.
struct StopDuringSleepClock : fakes::VirtualClock {
    void SleepMs(int32_t ms) override {
        VirtualClock::SleepMs(ms / 2);
        if (++Sleeps == StopAtSleep)
            Engine->RequestStop();
        if (!Interrupted)
            VirtualClock::SleepMs(ms - ms / 2);
    }
    void Interrupt() override { Interrupted = true; }
    void Resume() override { Interrupted = false; }
    clsEngine* Engine = nullptr;
    int StopAtSleep = 0, Sleeps = 0;
    bool Interrupted = false;
};

// The window closes while a question plays: the wait in progress ends at once, the notes that
// sound are stopped, nothing more is played, and the request holds until it is cleared.
TEST_F(EnginePlayback, RequestStopEndsTheWaitAndTheQuestionAtOnce) {
    struct Row {
        int StopAtSleep;
        int64_t StopMs;        // half of that sleep
        uint32_t LastFeedback; // the chord's feedback still comes; 5 only after the pause
    };
    // During chord 1, chord 4, the pause, the first note, the second note.
    const Row rows[] = {{1, 300, 1}, {4, 2100, 4}, {5, 2800, 4}, {6, 3500, 5}, {7, 4100, 5}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.StopAtSleep);
        StopDuringSleepClock stopping;
        fakes::RecordingMidiOutput out(&stopping);
        clsEngine playing(out, stopping);
        playing.objSettings = &settings;
        stopping.Engine = &playing;
        stopping.StopAtSleep = r.StopAtSleep;
        uint32_t last = 99;
        playing.Feedback = [&](int32_t& code) { last = uint32_t(code); };

        playing.NewQuestion();

        EXPECT_EQ(last, r.LastFeedback);
        EXPECT_EQ(stopping.NowMs(), r.StopMs) << "no sleep after the stop";
        for (const auto& m : out.Messages) {
            EXPECT_LE(m.TimeMs, r.StopMs);
            if (m.TimeMs == r.StopMs) {
                EXPECT_EQ(m.Data2(), 0) << "only note offs when the stop takes effect";
            }
        }
        EXPECT_TRUE(out.AllNotesStopped());
        EXPECT_TRUE(out.Holds.empty() || !out.Holds.back());

        const size_t before = out.Messages.size();
        playing.PlayAgain();
        EXPECT_EQ(out.Messages.size(), before) << "the request holds";
        playing.ClearStopRequest();
        playing.PlayAgain();
        EXPECT_EQ(last, 5u) << "cleared, the next question plays whole";
    }
}

// A send refused mid-chord or between a melodic note's on and off closes the device: every note
// started gets one off before, on its own channel, and the next question starts clean.
TEST_F(EnginePlayback, NotesStartedBeforeARefusedSendAreStoppedOnTheirChannel) {
    const std::tuple<const char*, int, int> rows[] = {{"third note of the chord", 0, 3},
                                                      {"second harmonic note", 2, 10},
                                                      {"off of the first melodic note", 0, 10}};
    settings.SetCurrentKeyReference(2); // one chord of four notes
    for (const auto& [where, type, failNote] : rows) {
        SCOPED_TRACE(where);
        const std::vector<int> fifth{7}, none;
        Tick({{type == 0 ? fifth : none, {}, type == 2 ? fifth : none}});
        device.FailNote = failNote;
        EXPECT_THROW(Ask(), AppError);
        EXPECT_TRUE(device.AllNotesStopped());
        device.Messages.clear();
        engine.PlayAgain();
        EXPECT_TRUE(device.AllNotesStopped());
        EXPECT_EQ(std::ranges::count_if(device.Messages, [](const Timed& m) { return m.Data2(); }),
                  6)
            << "the chord cut short is not played again";
    }
}

} // namespace
