#pragma once

#include "engine/clsDrill.h"
#include "engine/clsNoteBuffer.h"
#include "midi/clsMidi.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>

namespace sonavel {

class Clock;
class clsErrorHandler;
class clsSettings;
class MidiOutput;

// Chooses questions and plays them: key reference, pause, the two notes.
// Playback is synchronous on the calling thread; the Feedback callback runs on
// that thread at the moments the window may update itself (0 question chosen,
// 1..4 after each chord, 5 before the two notes).
class clsEngine {
public:
    // Neither argument is owned; both must outlive the engine.
    clsEngine(MidiOutput& output, Clock& clock);

    clsErrorHandler* MyErr = nullptr;   // not owned; also used by MIDI and buffer
    clsSettings* objSettings = nullptr; // not owned
    std::function<void(int32_t& code)> Feedback;
    // The drill of "Drill my mistakes" while it is on; null while it is off,
    // and then the questions are drawn exactly as without it. Not owned; the
    // window sets it between questions only.
    const clsDrill* Drill = nullptr;

    // Sets MyErr here and on the engine's MIDI output and note buffer.
    void SetErrorHandler(clsErrorHandler* handler);

    // Draws the question (and the random settings asked for) and plays it.
    void NewQuestion();
    // Plays the current question again; nothing is drawn and code 0 is not raised.
    void PlayAgain();
    // Closes the MIDI device; the next question opens it again.
    void StopPlaying();

    // Asks a question in progress to end at once: the wait in progress ends,
    // the notes sounding are stopped and nothing more is played. Safe from any
    // thread; the window calls it when it closes while a question plays. The
    // request holds, for every later question too, until ClearStopRequest.
    void RequestStop();
    void ClearStopRequest();

    int32_t CurrentIntervalType() const { return m_currentIntervalType; }
    int16_t CurrentInterval() const { return m_currentInterval; }
    int16_t FirstNote() const { return m_firstNote; }
    int16_t SecondNote() const { return m_secondNote; }
    int16_t FirstMidiNote() const { return m_firstMidiNote; }
    int16_t SecondMidiNote() const { return m_secondMidiNote; }

    // Semitones above the root of degree 0..6 in key type 0..3; -1 outside.
    static int16_t ScaleSemitone(int32_t keyType, int16_t degree);

    // Length of one question note in milliseconds for the current tempo and
    // note duration; 0 for an unknown duration.
    int32_t CalcNoteSpeed() const;
    // 60000 / tempo in milliseconds, ties to even. Tempo 0 is a division by zero.
    static int32_t CalcBeatDuration(int16_t tempo);

private:
    using ScaleTable = std::array<int16_t, 36>;

    // The places where the first note may lie for an interval of a type, in
    // the question's key type, and the tables that name them.
    struct NoteCandidates {
        std::vector<int16_t> ScalePositions;
        std::vector<int16_t> Degrees;
        std::array<int16_t, 7> Positions{};
        int16_t Count = 0;
        int16_t Step = 0;
    };

    const std::vector<bool>& Selection(int32_t type) const;
    void GetRandomInterval();
    void GetRandomTwoNotes();
    void GetDrillQuestion();
    NoteCandidates FindNoteCandidates(int32_t type, int16_t interval) const;
    void TakeNotes(const NoteCandidates& candidates, int16_t r);
    void Play();
    void PlayCadence();
    void PlayBuffer(int16_t velocity, int16_t length);
    void ClearBuffer();
    void PlaySingleNote(int16_t note, int16_t velocity, int16_t length);
    void RaiseFeedback(int32_t code);

    clsSettings& Settings() const;
    void ShareErrorHandler();
    void Sleep(int32_t ms);

    Clock& m_clock;
    clsMidi m_midi;
    clsNoteBuffer m_noteBuffer;
    // Set from any thread; read between notes and before every wait.
    std::atomic<bool> m_stopRequested = false;

    int32_t m_currentIntervalType = 0;
    int16_t m_currentInterval = 0;
    int16_t m_firstNote = 0;
    int16_t m_secondNote = 0;
    int16_t m_firstMidiNote = 0;
    int16_t m_secondMidiNote = 0;
};

} // namespace sonavel
