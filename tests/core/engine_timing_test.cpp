#include "RecordingPresenter.h"
#include "engine_fixture.h"
#include "startup/AppError.h"

#include <string>

using namespace sonavel;
using namespace sonavel::testing;

namespace {

TEST(EngineTiming, BeatDurationRoundsHalvesToEven) {
    struct Row {
        int16_t Tempo;
        int32_t Ms;
    };
    const Row rows[] = {
        {100, 600}, {120, 500}, {40, 1500}, {200, 300},
        {400, 150}, {10, 6000}, {64, 938}, // 937.5 up to the even 938
        {192, 312},                        // 312.5 down to the even 312
        {41, 1463},                        // 1463.41
        {7, 8571},                         // 8571.43
        {9, 6667},                         // 6666.67
    };
    for (const Row& r : rows)
        EXPECT_EQ(clsEngine::CalcBeatDuration(r.Tempo), r.Ms) << "tempo " << r.Tempo;
    EXPECT_THROW(clsEngine::CalcBeatDuration(0), AppError);
}

class EngineNoteSpeed : public EngineTest {};

TEST_F(EngineNoteSpeed, NoteLengthFollowsTempoAndDuration) {
    struct Row {
        int16_t Tempo;
        int32_t Duration;
        int32_t Ms;
    };
    const Row rows[] = {
        {100, 0, 300},  {100, 1, 600}, {100, 2, 1200},
        {100, 3, 2400}, {41, 2, 3000}, // 20.5 down to 20
        {43, 2, 2727},                 // 21.5 up to 22
        {64, 1, 938},                  // 937.5 up to 938
        {200, 0, 150},                 // effective tempo 400
        {42, 3, 6000},                 // 10.5 down to 10
        {46, 3, 5000},                 // 11.5 up to 12
        {40, 3, 6000},                 // the longest length the window allows
        {100, 4, 0},                   // unknown duration: no waiting
        {100, -1, 0},
    };
    for (const Row& r : rows) {
        settings.SetPlaybackSpeed(r.Tempo);
        settings.SetCurrentNoteDuration(r.Duration);
        EXPECT_EQ(engine.CalcNoteSpeed(), r.Ms)
            << "tempo " << r.Tempo << ", duration " << r.Duration;
    }
}

TEST_F(EngineNoteSpeed, EffectiveTempoZeroOrBeyond16BitsIsReported) {
    struct Row {
        int16_t Tempo;
        int32_t Duration;
        int16_t Code;
    };
    fakes::RecordingPresenter shown;
    err.SetPresenter(&shown);
    const Row rows[] = {
        {1, 3, 11},    // 0.25 rounds to 0: division by zero
        {1, 2, 11},    // 0.5 rounds to the even 0
        {16384, 0, 6}, // twice the tempo overflows 16 bits
    };
    for (const Row& r : rows) {
        SCOPED_TRACE("tempo " + std::to_string(r.Tempo));
        settings.SetPlaybackSpeed(r.Tempo);
        settings.SetCurrentNoteDuration(r.Duration);
        EXPECT_THROW(engine.CalcNoteSpeed(), AppError);
        EXPECT_EQ(err.ErrorDetails().rfind(
                      "Source: clsEngine::CalcNoteSpeed()\r\nCode  : " + std::to_string(r.Code), 0),
                  0u)
            << err.ErrorDetails();
        err.ShowError("test", 0, "clear the report");
    }
}

class EnginePause : public EngineTest {
protected:
    EnginePause() {
        settings.SetKeyReferenceSettings(2);
        TickOnly(0, {5});
    }
};

TEST_F(EnginePause, PauseIsOneBeatAtThreeQuartersOfTheTempo) {
    struct Row {
        int16_t Tempo;
        int64_t PauseMs;
    };
    const Row rows[] = {
        {100, 800}, {40, 2000}, {200, 400}, {41, 1935}, // 30.75 -> 31
        {42, 1875},                                     // 31.5 up to the even 32
        {46, 1765},                                     // 34.5 down to the even 34
    };
    for (const Row& r : rows) {
        Forget();
        settings.SetPlaybackSpeed(r.Tempo);
        const int64_t t0 = clock.NowMs();
        engine.NewQuestion();
        ASSERT_EQ(FeedbackCodes(), (std::vector<int32_t>{0, 5}));
        EXPECT_EQ(feedback[1].TimeMs - t0, r.PauseMs) << "tempo " << r.Tempo;
        ASSERT_FALSE(device.Messages.empty());
        EXPECT_EQ(device.Messages.back().TimeMs - feedback[1].TimeMs, 2 * engine.CalcNoteSpeed());
    }
}

TEST_F(EnginePause, NoteLengthAbove32767MsIsAnOverflowBeforeTheNoteStarts) {
    settings.SetCurrentNoteDuration(3);
    settings.SetPlaybackSpeed(10); // 2.5 rounds to 2: 30000 ms still fits
    engine.NewQuestion();
    EXPECT_EQ(device.Messages.back().TimeMs - feedback[1].TimeMs, 60000);

    Forget();
    settings.SetPlaybackSpeed(5); // 1.25 rounds to 1: 60000 ms does not
    EXPECT_THROW(engine.NewQuestion(), AppError);
    EXPECT_EQ(FeedbackCodes(), (std::vector<int32_t>{0, 5}));
    for (const auto& m : device.Messages)
        EXPECT_NE(m.Status() & 0xF0, 0x90) << "no note may start";
    const std::string& details = err.ErrorDetails();
    EXPECT_EQ(details.rfind("Source: clsEngine::Play()\r\nCode  : 6\r\n", 0), 0u) << details;
}

TEST(NoteBuffer, HoldsTwentyNotesAndDropsTheRest) {
    clsNoteBuffer buffer;
    EXPECT_EQ(buffer.NoOfNotes, 0);
    EXPECT_EQ(buffer.Notes.size(), 21u);
    for (int16_t n = 0; n < 21; ++n)
        buffer.AddNote(int16_t(40 + n));
    EXPECT_EQ(buffer.NoOfNotes, 20);
    for (int16_t i = 0; i < 20; ++i)
        EXPECT_EQ(buffer.Notes[i], 40 + i);
    EXPECT_EQ(buffer.Notes[20], 0) << "the 21st note was dropped";

    buffer.ClearBuffer();
    EXPECT_EQ(buffer.NoOfNotes, 0);
    buffer.AddNote(99);
    EXPECT_EQ(buffer.NoOfNotes, 1);
    EXPECT_EQ(buffer.Notes[0], 99);
}

} // namespace
