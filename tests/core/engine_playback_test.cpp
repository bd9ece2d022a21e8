#include "engine_fixture.h"

#include <map>

using namespace sonavel;
using namespace sonavel::testing;

namespace {

uint32_t Program(int channel, int program) {
    return uint32_t(0xC0 + channel - 1) | uint32_t(program) << 8;
}

class EnginePlayback : public EngineTest {
protected:
    EnginePlayback() {
        settings.SetCurrentKey(3);     // A
        settings.SetCurrentKeyType(1); // natural minor
        settings.SetCurrentNoteDuration(1);
        settings.SetMIDIChannelKR(2);
        settings.SetMIDIInstrumentKR(19);
        settings.SetMIDIVolumeKR(90);
        settings.SetMIDIChannelRN(3);
        settings.SetMIDIInstrumentRN(40);
        settings.SetMIDIVolumeRN(110);
        TickOnly(0, {7});
    }
};

// A minor cadence one beat each, the pause, the two notes; PlayAgain repeats it without code 0.
TEST_F(EnginePlayback, WholeQuestionFollowsTheTimeline) {
    engine.NewQuestion();
    ASSERT_EQ(engine.CurrentInterval(), 7);
    const int first = engine.FirstMidiNote(), second = first + 7;
    EXPECT_EQ(engine.SecondMidiNote(), second);
    std::vector<Timed> expected{{0, Program(2, 19)}};
    const std::vector<std::vector<int>> cadence{
        {57, 60, 64, 69}, {50, 62, 65, 69}, {52, 59, 64, 67}, {57, 60, 64, 69}};
    for (int i = 0; i < 4; ++i)
        for (int velocity : {90, 0})
            for (int n : cadence[i])
                expected.push_back({i * 600 + (velocity ? 0 : 600), Note(2, n, velocity)});
    // The notes' channel switch, then the two notes one after the other.
    expected.insert(expected.end(), {{3200, Program(3, 19)},
                                     {3200, Program(3, 40)},
                                     {3200, Note(3, first, 110)},
                                     {3800, Note(3, first, 0)},
                                     {3800, Note(3, second, 110)},
                                     {4400, Note(3, second, 0)}});
    EXPECT_EQ(Recorded(), expected);
    EXPECT_EQ(feedback,
              (std::vector<Timed>{{0, 0}, {600, 1}, {1200, 2}, {1800, 3}, {2400, 4}, {3200, 5}}));
    EXPECT_EQ(clock.NowMs(), 4400);
    EXPECT_EQ(device.Holds, (std::vector<bool>{true, false})) << "held through the pauses only";

    feedback.clear();
    device.Messages.clear();
    engine.PlayAgain();
    EXPECT_EQ(engine.FirstMidiNote(), first);
    EXPECT_EQ(feedback.front().Packed, 1u) << "no code 0 for a repeat";
    EXPECT_EQ(Recorded().size(), expected.size() + 1) << "the channel switch back adds one";

    engine.StopPlaying();
    EXPECT_FALSE(device.IsOpen());
    engine.PlayAgain();
    EXPECT_EQ(device.Opens, 2) << "the next question opens the device again";
}

// The progression and the tonic chord, in C major and C harmonic minor (the cadence
// is in the timeline above), and a harmonic interval: both notes start and stop together.
TEST_F(EnginePlayback, KeyReferencesAndHarmonicInterval) {
    struct Row {
        int KeyType, Reference;
        std::vector<std::vector<int>> Chords;
    };
    const Row rows[] = {
        {0, 1, {{50, 62, 65, 69, 72}, {55, 62, 65, 71}, {48, 64, 67, 71}}},
        {2, 1, {{50, 62, 65, 68, 72}, {55, 62, 65, 68, 71}, {48, 63, 67, 72}}},
        {0, 2, {{48, 52, 55, 60}}},
        {2, 2, {{48, 51, 55, 60}}},
    };
    settings.SetCurrentKey(0);
    TickOnly(2, {4});
    for (const Row& row : rows) {
        SCOPED_TRACE("key type " + std::to_string(row.KeyType) + ", reference " +
                     std::to_string(row.Reference));
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
        for (const Timed& m : Recorded())
            if ((m.Packed & 0xF0) == 0x90)
                notes.push_back(m);
        EXPECT_EQ(notes, expected);
        EXPECT_EQ(engine.SecondMidiNote() - engine.FirstMidiNote(), 4);
    }
}

// A clock whose sleeps a stop request cuts short, as the real clock's are when the window
// closes during a question: the request comes halfway through the given sleep.
struct StopDuringSleepClock : Clock {
    int64_t NowMicros() override { return Inner.NowMicros(); }
    void SleepMs(int32_t ms) override {
        Inner.SleepMs(ms / 2);
        if (++Sleeps == StopAtSleep)
            Engine->RequestStop();
        if (!Interrupted)
            Inner.SleepMs(ms - ms / 2);
    }
    void Interrupt() override { Interrupted = true; }
    void Resume() override { Interrupted = false; }
    fakes::VirtualClock Inner;
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
        fakes::RecordingMidiOutput out(&stopping.Inner);
        clsEngine playing(out, stopping);
        playing.objSettings = &settings;
        stopping.Engine = &playing;
        stopping.StopAtSleep = r.StopAtSleep;
        uint32_t last = 99;
        playing.Feedback = [&](int32_t& code) { last = uint32_t(code); };

        playing.NewQuestion();

        EXPECT_EQ(last, r.LastFeedback);
        EXPECT_EQ(stopping.Inner.NowMs(), r.StopMs) << "no sleep after the stop";
        std::map<int, int> sounding;
        for (const auto& m : out.Messages) {
            EXPECT_LE(m.TimeMs, r.StopMs);
            if (m.TimeMs == r.StopMs) {
                EXPECT_EQ(m.Data2(), 0) << "only note offs when the stop takes effect";
            }
            if ((m.Status() & 0xF0) == 0x90)
                sounding[int(m.Packed & 0xFFFF)] += m.Data2() ? 1 : -1;
        }
        for (const auto& [note, count] : sounding)
            EXPECT_EQ(count, 0) << "note left sounding: " << std::hex << note;
        EXPECT_TRUE(out.Holds.empty() || !out.Holds.back());

        const size_t before = out.Messages.size();
        playing.PlayAgain();
        EXPECT_EQ(out.Messages.size(), before) << "the request holds";
        playing.ClearStopRequest();
        playing.PlayAgain();
        EXPECT_EQ(last, 5u) << "cleared, the next question plays whole";
    }
}

} // namespace
