#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sonavel {

class Clock;
class clsErrorHandler;
class MidiOutput;

// One MIDI output device: opens it on demand, keeps the instrument selected on
// the channel and sends note on/off and program changes as short messages.
// Failures are recorded through MyErr and passed on as the internal error.
class clsMidi {
public:
    explicit clsMidi(MidiOutput& output);
    ~clsMidi();
    clsMidi(const clsMidi&) = delete;
    clsMidi& operator=(const clsMidi&) = delete;

    clsErrorHandler* MyErr = nullptr;
    // Messages carry the moment this clock says they are due (see
    // MidiOutput::ShortMsgAt); without one they are due when sent.
    void SetClock(Clock* clock) { m_clock = clock; }

    int32_t Instrument() const { return m_instrument; }
    void SetInstrument(int32_t value); // sends a program change when open
    int32_t Channel() const { return m_channel; }
    void SetChannel(int32_t value); // 1..16; sends a program change when open
    int32_t Device() const { return m_device; }
    void SetDevice(int32_t value) { m_device = value; } // used at the next open

    // Opens the device if closed, or makes sure an open one is still there,
    // then selects Instrument on Channel unless the last open already did. A
    // device that cannot be opened, or has gone, leaves the object closed and
    // fails with "Cannot open MIDI device.".
    void OpenMIDI();
    // Closing stops the notes still sounding (after a failure), each on the
    // channel it was started on, and forgets the program change: the next
    // open sends it again. A send that the device refuses closes it.
    void CloseMIDI();
    bool IsOpen() const { return m_hMidiOut != 0; }
    // Keeps an open device ready through the pauses of a question (see
    // MidiOutput::Hold); does nothing when closed.
    void Hold(bool held);
    void PlayNote(int16_t nn, int16_t vel);
    void StopNote(int16_t nn, int16_t vel); // note on with velocity 0; vel is ignored

    // data2 * 65536 + data1 * 256 + status. data1 * 256 is 16-bit arithmetic,
    // so a data1 of 128 or more (or below -128) fails as an overflow.
    int32_t PackDword(int16_t data2, int16_t data1, int16_t status);

private:
    void ExecuteMidiOutShortMsg(int16_t status, int16_t data1, int16_t data2);
    void SendProgramChange();
    [[noreturn]] void FailToOpen(const char* step, int32_t result, const std::string& reason);
    [[noreturn]] void Fail(const char* src);
    // As far as the device takes them; reports nothing, since it runs on the
    // way out of a failure.
    void StopSounding() noexcept;

    struct Sounding {
        int16_t Status; // note on of the channel it was started on
        int16_t Note;
        bool operator==(const Sounding&) const = default;
    };

    MidiOutput& m_output;
    Clock* m_clock = nullptr;
    uint32_t m_hMidiOut = 0;
    int32_t m_instrument = 0;
    int32_t m_channel = 1;
    int32_t m_device = 0;
    int16_t m_lastInstrument = 0;
    int16_t m_lastChannel = 0;
    std::vector<Sounding> m_sounding; // started and not stopped, oldest first
};

} // namespace sonavel
