#include "engine_fixture.h"
#include "startup/AppError.h"

#include <map>
#include <string>

using namespace sonavel;
using namespace sonavel::testing;

namespace {

using Chord = std::vector<int>;

void AppendChord(std::vector<Timed>& out, int64_t start, int64_t length, const Chord& notes,
                 int channel, int velocity) {
    for (int n : notes)
        out.push_back({start, NoteOn(channel, n, velocity)});
    for (int n : notes)
        out.push_back({start + length, NoteOff(channel, n)});
}

// Every note that was started was also stopped, on the same channel.
void ExpectEveryNoteStopped(const std::vector<Timed>& messages) {
    std::map<std::pair<int, int>, int> sounding;
    for (const Timed& m : messages) {
        const int status = m.Packed & 0xFF;
        if ((status & 0xF0) != 0x90)
            continue;
        const auto key = std::make_pair(status & 0x0F, int((m.Packed >> 8) & 0xFF));
        sounding[key] += ((m.Packed >> 16) & 0xFF) ? 1 : -1;
    }
    for (const auto& [key, count] : sounding)
        EXPECT_EQ(count, 0) << "note " << key.second << " on wire channel " << key.first;
}

class EnginePlayback : public EngineTest {
protected:
    EnginePlayback() {
        settings.SetCurrentKey(3);     // A
        settings.SetCurrentKeyType(1); // natural minor
        settings.SetPlaybackSpeed(100);
        settings.SetCurrentNoteDuration(1);
        settings.SetCurrentKeyReference(0);
        settings.SetKeyReferenceSettings(0);
        settings.SetMIDIChannelKR(2);
        settings.SetMIDIInstrumentKR(19);
        settings.SetMIDIVolumeKR(90);
        settings.SetMIDIChannelRN(3);
        settings.SetMIDIInstrumentRN(40);
        settings.SetMIDIVolumeRN(110);
        TickOnly(0, {7});
    }

    const std::vector<Chord> aMinorCadence{
        {57, 60, 64, 69}, {50, 62, 65, 69}, {52, 59, 64, 67}, {57, 60, 64, 69}};

    // The key reference chords from t0 on, one beat each, then the two notes
    // after the pause; the program changes of the channel switch are left out.
    std::vector<Timed> CadenceAndNotes(int64_t t0, const std::vector<uint32_t>& switchMessages) {
        std::vector<Timed> out;
        int64_t t = t0;
        for (const Chord& chord : aMinorCadence) {
            AppendChord(out, t, 600, chord, 2, 90);
            t += 600;
        }
        t += 800;
        for (uint32_t m : switchMessages)
            out.push_back({t, m});
        out.push_back({t, NoteOn(3, engine.FirstMidiNote(), 110)});
        out.push_back({t + 600, NoteOff(3, engine.FirstMidiNote())});
        out.push_back({t + 600, NoteOn(3, engine.SecondMidiNote(), 110)});
        out.push_back({t + 1200, NoteOff(3, engine.SecondMidiNote())});
        return out;
    }
};

TEST_F(EnginePlayback, WholeQuestionFollowsTheTimeline) {
    engine.NewQuestion();

    ASSERT_EQ(engine.CurrentIntervalType(), 0);
    ASSERT_EQ(engine.CurrentInterval(), 7);
    EXPECT_EQ(engine.SecondMidiNote(), engine.FirstMidiNote() + 7);
    EXPECT_GE(engine.FirstMidiNote(), 72 + 9);
    EXPECT_LE(engine.FirstMidiNote(), 72 + 9 + 11);

    std::vector<Timed> expected{{0, ProgramChange(2, 19)}};
    for (const Timed& m : CadenceAndNotes(0, {ProgramChange(3, 19), ProgramChange(3, 40)}))
        expected.push_back(m);
    EXPECT_EQ(Recorded(), expected);

    const std::vector<FeedbackEvent> expectedFeedback{{0, 0},    {1, 600},  {2, 1200},
                                                      {3, 1800}, {4, 2400}, {5, 3200}};
    EXPECT_EQ(feedback, expectedFeedback);
    EXPECT_EQ(clock.NowMs(), 4400) << "the question ends with the second note's off";
    EXPECT_EQ(device.Opens, 1);
    EXPECT_TRUE(device.IsOpen()) << "the device stays open for the next question";
    EXPECT_EQ(device.Holds, (std::vector<bool>{true, false})) << "held through the pauses only";
}

TEST_F(EnginePlayback, PlayAgainRepeatsTheQuestionWithoutCodeZero) {
    engine.NewQuestion();
    const auto first = engine.FirstMidiNote();
    const auto second = engine.SecondMidiNote();
    Forget();
    clock.Advance(5000); // the user listens and thinks
    const int64_t t0 = clock.NowMs();

    engine.PlayAgain();

    EXPECT_EQ(engine.FirstMidiNote(), first);
    EXPECT_EQ(engine.SecondMidiNote(), second);
    // Back to the key-reference channel: the channel setter selects the notes'
    // instrument there first, the instrument setter then corrects it; the open
    // device needs no further program change.
    std::vector<Timed> expected{{t0, ProgramChange(2, 40)}, {t0, ProgramChange(2, 19)}};
    for (const Timed& m : CadenceAndNotes(t0, {ProgramChange(3, 19), ProgramChange(3, 40)}))
        expected.push_back(m);
    EXPECT_EQ(Recorded(), expected);
    EXPECT_EQ(FeedbackCodes(), (std::vector<int32_t>{1, 2, 3, 4, 5}));
    EXPECT_EQ(device.Opens, 1);
}

TEST_F(EnginePlayback, WithoutKeyReferenceOnlyTheQuestionAndTheNotesAreAnnounced) {
    settings.SetKeyReferenceSettings(2);
    settings.SetMIDIChannelRN(2);
    settings.SetMIDIInstrumentRN(19);

    engine.NewQuestion();

    const std::vector<FeedbackEvent> expectedFeedback{{0, 0}, {5, 800}};
    EXPECT_EQ(feedback, expectedFeedback);
    // Same channel and instrument for both: no switch before the notes.
    const std::vector<Timed> expected{{0, ProgramChange(2, 19)},
                                      {800, NoteOn(2, engine.FirstMidiNote(), 110)},
                                      {1400, NoteOff(2, engine.FirstMidiNote())},
                                      {1400, NoteOn(2, engine.SecondMidiNote(), 110)},
                                      {2000, NoteOff(2, engine.SecondMidiNote())}};
    EXPECT_EQ(Recorded(), expected);
}

TEST_F(EnginePlayback, HarmonicIntervalSoundsBothNotesTogether) {
    settings.SetKeyReferenceSettings(2);
    settings.SetCurrentNoteDuration(0);
    TickOnly(2, {4});

    engine.NewQuestion();

    ASSERT_EQ(engine.CurrentIntervalType(), 2);
    EXPECT_EQ(engine.SecondMidiNote(), engine.FirstMidiNote() + 4);
    const std::vector<Timed> expected{{0, ProgramChange(2, 19)},
                                      {800, ProgramChange(3, 19)},
                                      {800, ProgramChange(3, 40)},
                                      {800, NoteOn(3, engine.FirstMidiNote(), 110)},
                                      {800, NoteOn(3, engine.SecondMidiNote(), 110)},
                                      {1100, NoteOff(3, engine.FirstMidiNote())},
                                      {1100, NoteOff(3, engine.SecondMidiNote())}};
    EXPECT_EQ(Recorded(), expected);
}

struct ReferenceCase {
    const char* Name;
    int16_t Key;
    int32_t KeyType;
    int32_t Reference;
    std::vector<Chord> Chords;
};

TEST_F(EnginePlayback, KeyReferencesPlayTheirChordsOneBeatEach) {
    // clang-format off
    const std::vector<ReferenceCase> cases{
        {"C major cadence", 0, 0, 0,
         {{48, 52, 55, 60}, {41, 53, 57, 60}, {43, 50, 55, 59}, {48, 52, 55, 60}}},
        {"E melodic minor cadence", 4, 3, 0,
         {{52, 55, 59, 64}, {45, 57, 60, 64}, {47, 54, 59, 62}, {52, 55, 59, 64}}},
        {"C major progression", 0, 0, 1, {{50, 62, 65, 69, 72}, {55, 62, 65, 71}, {48, 64, 67, 71}}},
        {"C harmonic minor progression", 0, 2, 1,
         {{50, 62, 65, 68, 72}, {55, 62, 65, 68, 71}, {48, 63, 67, 72}}},
        {"B natural minor progression", 5, 1, 1,
         {{49, 61, 64, 67, 71}, {54, 61, 64, 67, 70}, {47, 62, 66, 71}}},
        {"Bb major tonic chord", 8, 0, 2, {{46, 50, 53, 58}}},
        {"G melodic minor tonic chord", 1, 3, 2, {{55, 58, 62, 67}}},
    };
    // clang-format on
    // The note duration of the question does not stretch the chords.
    settings.SetPlaybackSpeed(120);
    settings.SetCurrentNoteDuration(3);

    for (const ReferenceCase& c : cases) {
        SCOPED_TRACE(c.Name);
        settings.SetCurrentKey(c.Key);
        settings.SetCurrentKeyType(c.KeyType);
        settings.SetCurrentKeyReference(c.Reference);
        Forget();
        const int64_t t0 = clock.NowMs();

        engine.NewQuestion();

        std::vector<Timed> chordMessages;
        for (const Timed& m : Recorded())
            if ((m.Packed & 0xFF) == 0x91)
                chordMessages.push_back({m.TimeMs - t0, m.Packed});
        std::vector<Timed> expected;
        std::vector<FeedbackEvent> expectedFeedback{{0, 0}};
        for (size_t i = 0; i < c.Chords.size(); ++i) {
            AppendChord(expected, int64_t(i) * 500, 500, c.Chords[i], 2, 90);
            expectedFeedback.push_back({int32_t(i + 1), int64_t(i + 1) * 500});
        }
        // The pause is one beat at three quarters of the tempo: 60000 / 90, rounded.
        expectedFeedback.push_back({5, int64_t(c.Chords.size()) * 500 + 667});
        EXPECT_EQ(chordMessages, expected);
        for (FeedbackEvent& e : feedback)
            e.TimeMs -= t0;
        EXPECT_EQ(feedback, expectedFeedback);
    }
}

TEST_F(EnginePlayback, UnknownKeyReferencePlaysNothingButStillPauses) {
    settings.SetCurrentKeyReference(3);

    engine.NewQuestion();

    const std::vector<FeedbackEvent> expectedFeedback{{0, 0}, {5, 800}};
    EXPECT_EQ(feedback, expectedFeedback);
    for (const Timed& m : Recorded())
        EXPECT_NE(m.Packed & 0xFF, 0x91u) << "no key-reference note: " << m;
}

// A clock whose sleeps a stop request cuts short, as the real clock's are when
// the window closes during a question: the request comes halfway through the
// given sleep.
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

// The window closes while a question plays: the wait in progress ends at once,
// the notes that sound are stopped, nothing more is played, and the request
// holds until it is cleared for the next question.
TEST_F(EnginePlayback, RequestStopEndsTheWaitAndTheQuestionAtOnce) {
    struct Row {
        const char* During;
        int StopAtSleep;
        int64_t StopMs;       // half of that sleep
        int32_t LastFeedback; // the chord's feedback still comes; 5 only after the pause
    };
    const Row rows[] = {
        {"chord 1", 1, 300, 1},     {"chord 4", 4, 2100, 4},     {"pause", 5, 2800, 4},
        {"first note", 6, 3500, 5}, {"second note", 7, 4100, 5},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string("stop requested during the ") + r.During);
        StopDuringSleepClock stopping;
        fakes::RecordingMidiOutput out(&stopping.Inner);
        clsEngine playing(out, stopping);
        playing.objSettings = &settings;
        playing.SetErrorHandler(&err);
        stopping.Engine = &playing;
        stopping.StopAtSleep = r.StopAtSleep;
        std::vector<int32_t> codes;
        playing.Feedback = [&](int32_t& code) { codes.push_back(code); };

        playing.NewQuestion();

        std::vector<int32_t> expectedCodes;
        for (int32_t c = 0; c <= r.LastFeedback; ++c)
            expectedCodes.push_back(c);
        EXPECT_EQ(codes, expectedCodes);
        EXPECT_EQ(stopping.Inner.NowMs(), r.StopMs) << "no sleep after the stop";
        std::vector<Timed> sent;
        for (const auto& m : out.Messages) {
            sent.push_back({m.TimeMs, m.Packed});
            if (m.TimeMs == r.StopMs) {
                EXPECT_EQ(m.Data2(), 0) << "only note offs when the stop takes effect";
            }
            EXPECT_LE(m.TimeMs, r.StopMs);
        }
        ExpectEveryNoteStopped(sent);
        EXPECT_TRUE(out.Holds.empty() || !out.Holds.back())
            << "a stopped question still holds the device";

        // A request made before a question plays nothing of it; cleared, the
        // next question plays whole.
        const size_t before = out.Messages.size();
        playing.PlayAgain();
        EXPECT_EQ(out.Messages.size(), before);
        playing.ClearStopRequest();
        codes.clear();
        playing.PlayAgain();
        EXPECT_EQ(codes, (std::vector<int32_t>{1, 2, 3, 4, 5}));
    }

    // A stop asked for in the question's feedback 0 plays nothing at all.
    Forget();
    OnFeedback = [&](int32_t code) {
        if (code == 0)
            engine.RequestStop();
    };
    engine.NewQuestion();
    EXPECT_EQ(FeedbackCodes(), (std::vector<int32_t>{0}));
    EXPECT_TRUE(Recorded().empty());
}

TEST_F(EnginePlayback, StopPlayingClosesTheDeviceAndTheNextQuestionReopensIt) {
    engine.NewQuestion();
    engine.StopPlaying();
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(device.Closes, 1);

    engine.PlayAgain();
    EXPECT_TRUE(device.IsOpen());
    EXPECT_EQ(device.Opens, 2);
    EXPECT_EQ(device.DroppedSends, 0);
}

TEST_F(EnginePlayback, NoIntervalTickedIsError9000BeforeAnythingSounds) {
    TickOnly(0, {});
    try {
        engine.NewQuestion();
        FAIL() << "NewQuestion must fail";
    } catch (const AppError& e) {
        EXPECT_EQ(e.Code(), 9999);
    }
    EXPECT_EQ(err.ErrorDetails(), "Source: clsEngine::GetRandomInterval()\r\n"
                                  "Code  : 9000\r\n"
                                  "String: \r\n\r\n"
                                  "Source: clsEngine::NewQuestion()\r\n"
                                  "Code  : 9999\r\n"
                                  "String: Internal Error");
    EXPECT_TRUE(feedback.empty());
    EXPECT_TRUE(device.Messages.empty());
    EXPECT_EQ(device.Opens, 0);
}

TEST_F(EnginePlayback, WithoutErrorHandlerTheFailureStillReachesTheCaller) {
    engine.SetErrorHandler(nullptr);
    TickOnly(0, {});
    try {
        engine.NewQuestion();
        FAIL() << "NewQuestion must fail";
    } catch (const AppError& e) {
        EXPECT_EQ(e.Code(), 9000);
    }

    clsEngine bare(device, clock);
    EXPECT_THROW(bare.NewQuestion(), std::exception) << "no settings object";
}

TEST_F(EnginePlayback, DeviceThatCannotOpenEndsTheQuestionAfterCodeZero) {
    device.FailOpenWith = 7;

    EXPECT_THROW(engine.NewQuestion(), AppError);

    EXPECT_EQ(FeedbackCodes(), (std::vector<int32_t>{0}));
    EXPECT_TRUE(device.Messages.empty());
    const std::string& details = err.ErrorDetails();
    const auto cannotOpen = details.find("String: Cannot open MIDI device.");
    const auto play = details.find("Source: clsEngine::Play()");
    const auto newQuestion = details.find("Source: clsEngine::NewQuestion()");
    ASSERT_NE(cannotOpen, std::string::npos) << details;
    ASSERT_NE(play, std::string::npos) << details;
    ASSERT_NE(newQuestion, std::string::npos) << details;
    EXPECT_LT(cannotOpen, play);
    EXPECT_LT(play, newQuestion);
}

} // namespace
