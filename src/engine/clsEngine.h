#pragma once

#include "engine/clsNoteBuffer.h"
#include "midi/clsMidi.h"

#include <cstdint>
#include <functional>

namespace sonavel {

class Clock;
class clsErrorHandler;
class clsSettings;
class MidiOutput;

// Chooses questions and plays them: key reference, pause, the two notes.
// Playback is synchronous; the Feedback callback runs at the moments the window
// may update itself (0 question chosen, 1..4 after each chord, 5 before the two
// notes).
class clsEngine {
public:
    clsEngine(MidiOutput& output, Clock& clock);

    clsErrorHandler* MyErr = nullptr;     // not owned; also used by MIDI and buffer
    clsSettings* objSettings = nullptr;   // not owned
    std::function<void(int32_t& code)> Feedback;

    void SetErrorHandler(clsErrorHandler* handler);

    void NewQuestion();
    void PlayAgain();
    void StopPlaying();

    // Asks a question in progress to end at the next note boundary (its notes
    // are stopped first); used when the window closes during playback.
    void RequestStop() { m_stopRequested = true; }
    bool StopRequested() const { return m_stopRequested; }

    int32_t CurrentIntervalType() const { return m_currentIntervalType; }
    int16_t CurrentInterval() const { return m_currentInterval; }
    int16_t FirstNote() const { return m_firstNote; }
    int16_t SecondNote() const { return m_secondNote; }
    int16_t FirstMidiNote() const { return m_firstMidiNote; }
    int16_t SecondMidiNote() const { return m_secondMidiNote; }

    int32_t CalcNoteSpeed() const;
    static int32_t CalcBeatDuration(int16_t tempo);

private:
    void GetRandomInterval();
    void GetRandomTwoNotes();
    void Play();
    void PlayCadence();
    void PlayBuffer(int16_t velocity, int16_t length);
    void ClearBuffer();
    void PlaySingleNote(int16_t note, int16_t velocity, int16_t length);
    void RaiseFeedback(int32_t code);

    Clock& m_clock;
    clsMidi m_midi;
    clsNoteBuffer m_noteBuffer;
    bool m_stopRequested = false;

    int32_t m_currentIntervalType = 0;
    int16_t m_currentInterval = 0;
    int16_t m_firstNote = 0;
    int16_t m_secondNote = 0;
    int16_t m_firstMidiNote = 0;
    int16_t m_secondMidiNote = 0;
};

} // namespace sonavel
