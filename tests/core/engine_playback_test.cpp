#include "engine_fixture.h"
#include "startup/AppError.h"

#include <map>
#include <string>

using namespace sonavel;
using namespace sonavel::testing;

namespace {

using Chord = std::vector<int>;

void AppendChord(std::vector<Timed>& out, int64_t start, int64_t length, const Chord& notes) {
    for (int n : notes)
        out.push_back({start, Note(2, n, 90)});
    for (int n : notes)
        out.push_back({start + length, Note(2, n, 0)});
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
    // The notes' channel switch, then the two notes one after the other from t.
    std::vector<Timed> Notes(int64_t t) {
        const int first = engine.FirstMidiNote(), second = engine.SecondMidiNote();
        return {{t, Program(3, 19)},
                {t, Program(3, 40)},
                {t, Note(3, first, 110)},
                {t + 600, Note(3, first, 0)},
                {t + 600, Note(3, second, 110)},
                {t + 1200, Note(3, second, 0)}};
    }
};

// A minor cadence one beat each, the pause, the two notes; PlayAgain repeats it without code 0.
TEST_F(EnginePlayback, WholeQuestionFollowsTheTimeline) {
    engine.NewQuestion();
    ASSERT_EQ(engine.CurrentInterval(), 7);
    EXPECT_EQ(engine.SecondMidiNote(), engine.FirstMidiNote() + 7);
    std::vector<Timed> expected{{0, Program(2, 19)}};
    const std::vector<Chord> cadence{
        {57, 60, 64, 69}, {50, 62, 65, 69}, {52, 59, 64, 67}, {57, 60, 64, 69}};
    for (int i = 0; i < 4; ++i)
        AppendChord(expected, i * 600, 600, cadence[i]);
    for (const Timed& m : Notes(3200))
        expected.push_back(m);
    EXPECT_EQ(Recorded(), expected);
    EXPECT_EQ(feedback,
              (std::vector<Timed>{{0, 0}, {600, 1}, {1200, 2}, {1800, 3}, {2400, 4}, {3200, 5}}));
    EXPECT_EQ(clock.NowMs(), 4400);
    EXPECT_EQ(device.Holds, (std::vector<bool>{true, false})) << "held through the pauses only";

    const int first = engine.FirstMidiNote();
    Forget();
    engine.PlayAgain();
    EXPECT_EQ(engine.FirstMidiNote(), first);
    EXPECT_EQ(Codes(), (std::vector<uint32_t>{1, 2, 3, 4, 5}));
    EXPECT_EQ(Recorded().size(), expected.size() + 1) << "the channel switch back adds one";

    engine.StopPlaying();
    EXPECT_FALSE(device.IsOpen());
    engine.PlayAgain();
    EXPECT_EQ(device.Opens, 2) << "the next question opens the device again";
}

// Without key reference only codes 0 and 5; a harmonic interval sounds both notes together.
TEST_F(EnginePlayback, HarmonicIntervalSoundsBothNotesTogether) {
    settings.SetKeyReferenceSettings(2);
    settings.SetCurrentNoteDuration(0);
    TickOnly(2, {4});
    engine.NewQuestion();
    const int first = engine.FirstMidiNote(), second = engine.SecondMidiNote();
    EXPECT_EQ(second, first + 4);
    EXPECT_EQ(Recorded(), (std::vector<Timed>{{0, Program(2, 19)},
                                              {800, Program(3, 19)},
                                              {800, Program(3, 40)},
                                              {800, Note(3, first, 110)},
                                              {800, Note(3, second, 110)},
                                              {1100, Note(3, first, 0)},
                                              {1100, Note(3, second, 0)}}));
    EXPECT_EQ(feedback, (std::vector<Timed>{{0, 0}, {800, 5}}));
}

TEST_F(EnginePlayback, KeyReferencesPlayTheirChordsOneBeatEach) {
    struct Row {
        int16_t Key;
        int32_t KeyType, Reference;
        std::vector<Chord> Chords;
    };
    const Row rows[] = {
        {5, 1, 1, {{49, 61, 64, 67, 71}, {54, 61, 64, 67, 70}, {47, 62, 66, 71}}},
        {8, 0, 2, {{46, 50, 53, 58}}},
    };
    settings.SetPlaybackSpeed(120);
    settings.SetCurrentNoteDuration(3); // does not stretch the chords
    for (const Row& r : rows) {
        SCOPED_TRACE(r.Key);
        settings.SetCurrentKey(r.Key);
        settings.SetCurrentKeyType(r.KeyType);
        settings.SetCurrentKeyReference(r.Reference);
        Forget();
        const int64_t t0 = clock.NowMs();
        engine.NewQuestion();
        std::vector<Timed> chords, expected;
        for (const Timed& m : Recorded())
            if ((m.Packed & 0xFF) == 0x91)
                chords.push_back({m.TimeMs - t0, m.Packed});
        for (size_t i = 0; i < r.Chords.size(); ++i)
            AppendChord(expected, int64_t(i) * 500, 500, r.Chords[i]);
        EXPECT_EQ(chords, expected);
        // The pause is one beat at three quarters of the tempo: 60000 / 90, rounded.
        EXPECT_EQ(feedback.back(), (Timed{t0 + int64_t(r.Chords.size()) * 500 + 667, 5}));
    }
}

// A clock whose sleeps a stop request cuts short, as the real clock's are when the window
// closes during a question: the request comes halfway through the given sleep.
class StopDuringSleepClock : public Clock {
public:
    int64_t NowMicros() override { return Inner.NowMicros(); }
    void SleepMs(int32_t ms) override {
        Inner.SleepMs(ms / 2);
        if (++m_sleeps == StopAtSleep)
            Engine->RequestStop();
        if (!m_interrupted)
            Inner.SleepMs(ms - ms / 2);
    }
    void Interrupt() override { m_interrupted = true; }
    void Resume() override { m_interrupted = false; }
    fakes::VirtualClock Inner;
    clsEngine* Engine = nullptr;
    int StopAtSleep = 0;

private:
    int m_sleeps = 0;
    bool m_interrupted = false;
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
            if (m.TimeMs == r.StopMs)
                EXPECT_EQ(m.Data2(), 0) << "only note offs when the stop takes effect";
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

// A device that cannot open ends the question after code 0, reported through each caller.
TEST_F(EnginePlayback, DeviceThatCannotOpenEndsTheQuestionAfterCodeZero) {
    device.FailOpenWith = 7;
    EXPECT_THROW(engine.NewQuestion(), AppError);
    EXPECT_EQ(Codes(), (std::vector<uint32_t>{0}));
    EXPECT_TRUE(device.Messages.empty());
    const std::string details = err.ErrorDetails();
    const auto cannotOpen = details.find("String: Cannot open MIDI device.");
    EXPECT_LT(cannotOpen, details.find("Source: clsEngine::Play()")) << details;
    EXPECT_LT(details.find("Source: clsEngine::Play()"),
              details.find("Source: clsEngine::NewQuestion()"));
}

} // namespace
