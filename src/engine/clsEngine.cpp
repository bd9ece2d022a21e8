#include "engine/clsEngine.h"

#include "engine/modGeneral.h"
#include "platform/Clock.h"
#include "settings/clsSettings.h"
#include "startup/AppError.h"

#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace sonavel {

namespace {

constexpr int16_t NoIntervalSelectedError = 9000;
constexpr int16_t DivisionByZeroError = 11;
constexpr int32_t KeyReferenceNever = 2;
constexpr int32_t Harmonic = 2;
constexpr int32_t Descending = 1;
constexpr int16_t IntervalCount = 13;

// Scale semitones of degree 0..6 per key type: major, natural, harmonic and
// melodic minor.
constexpr int16_t ScaleSemitones[4][7] = {
    {0, 2, 4, 5, 7, 9, 11}, {0, 2, 3, 5, 7, 8, 10}, {0, 2, 3, 5, 7, 8, 11}, {0, 2, 3, 5, 7, 9, 11}};

int16_t ToInt16(int32_t value) {
    if (value > std::numeric_limits<int16_t>::max() || value < std::numeric_limits<int16_t>::min())
        throw std::overflow_error(std::to_string(value) + " does not fit 16 bits");
    return static_cast<int16_t>(value);
}

int16_t RoundToInt16(double value) {
    const double rounded = RoundHalfEven(value);
    if (rounded > std::numeric_limits<int16_t>::max() ||
        rounded < std::numeric_limits<int16_t>::min())
        throw std::overflow_error(std::to_string(rounded) + " does not fit 16 bits");
    return static_cast<int16_t>(rounded);
}

int16_t CountTicked(const std::vector<bool>& selection) {
    int16_t count = 0;
    for (size_t i = 0; i < IntervalCount && i < selection.size(); ++i)
        count += selection[i] ? 1 : 0;
    return count;
}

} // namespace

int16_t clsEngine::ScaleSemitone(int32_t keyType, int16_t degree) {
    if (keyType < 0 || keyType > 3 || degree < 0 || degree > 6)
        return -1;
    return ScaleSemitones[keyType][degree];
}

clsEngine::clsEngine(MidiOutput& output, Clock& clock) : m_clock(clock), m_midi(output) {
    m_midi.SetClock(&m_clock);
}

void clsEngine::SetErrorHandler(clsErrorHandler* handler) {
    MyErr = handler;
    ShareErrorHandler();
}

// The window may also assign MyErr directly; every entry point hands it on.
void clsEngine::ShareErrorHandler() {
    m_midi.MyErr = MyErr;
    m_noteBuffer.MyErr = MyErr;
}

clsSettings& clsEngine::Settings() const {
    if (!objSettings)
        throw std::logic_error("The engine has no settings object");
    return *objSettings;
}

void clsEngine::NewQuestion() {
    try {
        ShareErrorHandler();
        clsSettings& settings = Settings();
        if (settings.RandomKey())
            settings.SetCurrentKey(GetRandomNumber(0, 12));
        if (settings.RandomKeyType())
            settings.SetCurrentKeyType(GetRandomNumber(0, 3));
        if (settings.KeyReferenceSettings() == 1)
            settings.SetCurrentKeyReference(GetRandomNumber(0, 2));
        // Only the first 91 General MIDI programs: the rest are effects and
        // percussion that make poor interval material.
        if (settings.MIDIRandomInstrumentKR())
            settings.SetMIDIInstrumentKR(GetRandomNumber(0, 90));
        if (settings.MIDIRandomInstrumentRN())
            settings.SetMIDIInstrumentRN(GetRandomNumber(0, 90));
        if (Drill) {
            GetDrillQuestion();
        } else {
            GetRandomInterval();
            GetRandomTwoNotes();
        }
        RaiseFeedback(0);
        if (m_stopRequested)
            return;
        Play();
    } catch (...) {
        PassOnFailure(MyErr, "clsEngine::NewQuestion()", std::current_exception());
    }
}

void clsEngine::PlayAgain() {
    try {
        ShareErrorHandler();
        Play();
    } catch (...) {
        PassOnFailure(MyErr, "clsEngine::PlayAgain()", std::current_exception());
    }
}

void clsEngine::RequestStop() {
    m_stopRequested = true;
    m_clock.Interrupt();
}

void clsEngine::ClearStopRequest() {
    m_stopRequested = false;
    m_clock.Resume();
}

void clsEngine::StopPlaying() {
    try {
        ShareErrorHandler();
        m_midi.CloseMIDI();
    } catch (...) {
        PassOnFailure(MyErr, "clsEngine::StopPlaying()", std::current_exception());
    }
}

// The type is drawn before the interval, so every ticked type is equally likely
// however many intervals it has.
void clsEngine::GetRandomInterval() {
    try {
        const std::vector<bool>* selections[3] = {&Selection(0), &Selection(1), &Selection(2)};
        int16_t counts[3];
        std::vector<int32_t> types;
        for (int32_t type = 0; type < 3; ++type) {
            counts[type] = CountTicked(*selections[type]);
            if (counts[type] > 0)
                types.push_back(type);
        }
        if (types.empty())
            throw AppError(NoIntervalSelectedError, "");

        int32_t chosen = types.front();
        if (types.size() > 1)
            chosen = types.at(GetRandomNumber(1, static_cast<int16_t>(types.size())) - 1);
        m_currentIntervalType = chosen;

        const std::vector<bool>& selection = *selections[chosen];
        const int16_t k = GetRandomNumber(1, counts[chosen]);
        int16_t seen = 0;
        for (int16_t i = 0; i < IntervalCount && i < static_cast<int16_t>(selection.size()); ++i) {
            if (selection[i] && ++seen == k) {
                m_currentInterval = i;
                break;
            }
        }
    } catch (...) {
        PassOnFailure(MyErr, "clsEngine::GetRandomInterval()", std::current_exception());
    }
}

const std::vector<bool>& clsEngine::Selection(int32_t type) const {
    const clsSettings& settings = Settings();
    return type == 0            ? settings.SelIntervalsAsc
           : type == Descending ? settings.SelIntervalsDesc
                                : settings.SelIntervalsHarm;
}

void clsEngine::GetRandomTwoNotes() {
    try {
        const NoteCandidates candidates =
            FindNoteCandidates(m_currentIntervalType, m_currentInterval);
        TakeNotes(candidates, GetRandomNumber(0, candidates.Count - 1));
    } catch (...) {
        PassOnFailure(MyErr, "clsEngine::GetRandomTwoNotes()", std::current_exception());
    }
}

// Every ticked interval of every type, with the notes it may take in this key
// type, goes to the drill, which picks one.
void clsEngine::GetDrillQuestion() {
    try {
        std::vector<DrillOption> options;
        for (int32_t type = 0; type < 3; ++type) {
            const std::vector<bool>& selection = Selection(type);
            for (int16_t i = 0; i < IntervalCount && i < int16_t(selection.size()); ++i) {
                if (!selection[i])
                    continue;
                const NoteCandidates c = FindNoteCandidates(type, i);
                DrillOption& option = options.emplace_back(DrillOption{type, i, {}});
                for (int16_t n = 0; n < c.Count; ++n)
                    option.Pairs.emplace_back(c.Degrees.at(c.Positions[n]),
                                              c.Degrees.at(c.Positions[n] + c.Step));
            }
        }
        if (options.empty())
            throw AppError(NoIntervalSelectedError, "");
        const auto [option, pair] = Drill->Choose(options);
        m_currentIntervalType = option->Type;
        m_currentInterval = int16_t(option->Interval);
        TakeNotes(FindNoteCandidates(m_currentIntervalType, m_currentInterval), int16_t(pair));
    } catch (...) {
        PassOnFailure(MyErr, "clsEngine::GetDrillQuestion()", std::current_exception());
    }
}

// The first note lies in the octave above middle C moved by the key's root; the
// second an interval above it (below it when descending), inside the scale.
clsEngine::NoteCandidates clsEngine::FindNoteCandidates(int32_t type, int16_t interval) const {
    const int32_t keyType = Settings().CurrentKeyType();
    NoteCandidates c;
    if (keyType >= 0 && keyType <= 3) {
        c.ScalePositions.assign(36, -1);
        c.Degrees.assign(36, -1);
        for (int16_t octave = 0; octave < 3; ++octave) {
            for (int16_t degree = 0; degree < 7; ++degree) {
                const int16_t semitone = ScaleSemitones[keyType][degree];
                c.ScalePositions[octave * 12 + semitone] = semitone;
                c.Degrees[octave * 12 + semitone] = degree;
            }
        }
    }
    c.Step = type == Descending ? -interval : interval;
    for (int16_t p = 12; p <= 23; ++p) {
        if (c.ScalePositions.at(p) != -1 && c.ScalePositions.at(p + c.Step) != -1) {
            c.Positions.at(c.Count) = p;
            ++c.Count;
        }
    }
    return c;
}

void clsEngine::TakeNotes(const NoteCandidates& c, int16_t r) {
    if (r < 0 || r >= c.Count)
        throw std::out_of_range("note candidate " + std::to_string(r) + " of " +
                                std::to_string(c.Count));
    const int16_t p = c.Positions.at(r);
    const int16_t root = Settings().CurrentKeyMIDIRoot;
    m_firstNote = c.Degrees.at(p);
    m_secondNote = c.Degrees.at(p + c.Step);
    m_firstMidiNote = ToInt16(c.ScalePositions.at(p) + 72 + root);
    m_secondMidiNote = ToInt16(c.ScalePositions.at(p) + 72 + c.Step + root);
}

void clsEngine::Play() {
    try {
        if (m_stopRequested)
            return;
        clsSettings& settings = Settings();
        m_midi.SetDevice(settings.MIDIDevice());
        m_midi.SetChannel(settings.MIDIChannelKR());
        m_midi.SetInstrument(settings.MIDIInstrumentKR());
        m_midi.OpenMIDI();
        // The pauses of a question must not put the device to sleep: waking
        // it would move what follows against what came before.
        struct HoldDevice {
            clsMidi& Midi;
            explicit HoldDevice(clsMidi& midi) : Midi(midi) { Midi.Hold(true); }
            ~HoldDevice() { Midi.Hold(false); }
        } hold(m_midi);

        if (settings.KeyReferenceSettings() != KeyReferenceNever) {
            PlayCadence();
            if (m_stopRequested)
                return;
        }

        const double pauseTempo = settings.PlaybackSpeed() * 0.75;
        Sleep(CalcBeatDuration(RoundToInt16(pauseTempo)));
        if (m_stopRequested)
            return;
        RaiseFeedback(5);
        if (m_stopRequested)
            return;

        if (settings.MIDIChannelKR() != settings.MIDIChannelRN() ||
            settings.MIDIInstrumentKR() != settings.MIDIInstrumentRN()) {
            m_midi.SetChannel(settings.MIDIChannelRN());
            m_midi.SetInstrument(settings.MIDIInstrumentRN());
        }

        if (m_currentIntervalType == Harmonic) {
            m_noteBuffer.AddNote(m_firstMidiNote);
            m_noteBuffer.AddNote(m_secondMidiNote);
            PlayBuffer(settings.MIDIVolumeRN(), ToInt16(CalcNoteSpeed()));
            ClearBuffer();
        } else {
            PlaySingleNote(m_firstMidiNote, settings.MIDIVolumeRN(), ToInt16(CalcNoteSpeed()));
            if (m_stopRequested)
                return;
            PlaySingleNote(m_secondMidiNote, settings.MIDIVolumeRN(), ToInt16(CalcNoteSpeed()));
        }
    } catch (...) {
        // A chord cut short is not stopped again by the next question: the
        // MIDI output stops what it started when it closes on a failed send.
        m_noteBuffer.ClearBuffer();
        PassOnFailure(MyErr, "clsEngine::Play()", std::current_exception());
    }
}

void clsEngine::PlayCadence() {
    try {
        clsSettings& settings = Settings();
        const int16_t m = settings.CurrentKeyType() == 0 ? 0 : -1;
        const bool minor = m != 0;
        std::vector<std::vector<int16_t>> chords;
        switch (settings.CurrentKeyReference()) {
        case 0: // I - IV - V - I
            chords = {{48, int16_t(52 + m), 55, 60},
                      {41, 53, int16_t(57 + m), 60},
                      {43, 50, 55, int16_t(59 + m)},
                      {48, int16_t(52 + m), 55, 60}};
            break;
        case 1: // II - V - I
            chords = {{50, 62, 65, int16_t(69 + m), 72},
                      minor ? std::vector<int16_t>{55, 62, 65, 68, 71}
                            : std::vector<int16_t>{55, 62, 65, 71},
                      minor ? std::vector<int16_t>{48, 63, 67, 72}
                            : std::vector<int16_t>{48, 64, 67, 71}};
            break;
        case 2: // I
            chords = {{48, int16_t(52 + m), 55, 60}};
            break;
        default:
            return;
        }

        int32_t chordNumber = 0;
        for (const std::vector<int16_t>& chord : chords) {
            for (int16_t offset : chord)
                m_noteBuffer.AddNote(ToInt16(settings.CurrentKeyMIDIRoot + offset));
            // One beat per chord whatever the note duration of the question.
            const int16_t length = ToInt16(CalcBeatDuration(settings.PlaybackSpeed()));
            PlayBuffer(settings.MIDIVolumeKR(), length);
            ClearBuffer();
            RaiseFeedback(++chordNumber);
            if (m_stopRequested)
                return;
        }
    } catch (...) {
        PassOnFailure(MyErr, "clsEngine::PlayCadence()", std::current_exception());
    }
}

void clsEngine::PlayBuffer(int16_t velocity, int16_t length) {
    try {
        for (int16_t i = 0; i < m_noteBuffer.NoOfNotes; ++i)
            m_midi.PlayNote(m_noteBuffer.Notes.at(i), velocity);
        Sleep(length);
    } catch (...) {
        PassOnFailure(MyErr, "clsEngine::PlayBuffer()", std::current_exception());
    }
}

void clsEngine::ClearBuffer() {
    try {
        for (int16_t i = 0; i < m_noteBuffer.NoOfNotes; ++i)
            m_midi.StopNote(m_noteBuffer.Notes.at(i), 0);
        m_noteBuffer.ClearBuffer();
    } catch (...) {
        PassOnFailure(MyErr, "clsEngine::ClearBuffer()", std::current_exception());
    }
}

void clsEngine::PlaySingleNote(int16_t note, int16_t velocity, int16_t length) {
    m_midi.PlayNote(note, velocity);
    Sleep(length);
    m_midi.StopNote(note, 0);
}

int32_t clsEngine::CalcNoteSpeed() const {
    try {
        const clsSettings& settings = Settings();
        const int16_t tempo = settings.PlaybackSpeed();
        int16_t effective = 0;
        switch (settings.CurrentNoteDuration()) {
        case 0:
            effective = ToInt16(2 * int32_t(tempo));
            break;
        case 1:
            effective = tempo;
            break;
        case 2:
            effective = RoundToInt16(tempo / 2.0);
            break;
        case 3:
            effective = RoundToInt16(tempo / 4.0);
            break;
        default:
            return 0;
        }
        return CalcBeatDuration(effective);
    } catch (...) {
        PassOnFailure(MyErr, "clsEngine::CalcNoteSpeed()", std::current_exception());
    }
}

int32_t clsEngine::CalcBeatDuration(int16_t tempo) {
    if (tempo == 0)
        throw AppError(DivisionByZeroError, "Division by zero");
    return static_cast<int32_t>(RoundHalfEven(60000.0 / tempo));
}

void clsEngine::RaiseFeedback(int32_t code) {
    if (Feedback)
        Feedback(code);
}

void clsEngine::Sleep(int32_t ms) {
    if (!m_stopRequested)
        m_clock.SleepMs(ms > 0 ? ms : 0);
}

} // namespace sonavel
