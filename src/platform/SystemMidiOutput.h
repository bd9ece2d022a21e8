#pragma once

#include "platform/FluidSynthOutput.h"
#include "platform/MidiOutput.h"
#include "platform/RtMidiPorts.h"

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace sonavel {

// The program's MIDI output on this system. Devices:
//   -1  "Default MIDI output": the first port of the operating system if there
//       is one when it is opened, otherwise the built-in synthesizer;
//    0  the built-in synthesizer (FluidSynth with a General MIDI SoundFont);
//   1.. every RtMidi output port, ALSA ports first, then JACK ports.
// Open results other than 0 are the numbers below. Safe from any thread: a
// question plays on a thread of its own while the MIDI setup lists the devices.
// The port that "Default MIDI output" (-1) opens: the first one that can make
// a sound. ALSA's "Midi Through" only passes messages on and is skipped, unless
// it is all there is. Returns -1 when names is empty.
int DefaultPortIndex(const std::vector<std::string>& names);

class SystemMidiOutput : public MidiOutput {
public:
    struct Options {
        FluidSynthOutput::Options Synth;
        bool UseAlsa = true;
        bool UseJack = true;
        std::string ClientName = "Sonavel"; // how ALSA and JACK show the program
    };

    static constexpr int32_t ResultError = 1;       // a port failed to open
    static constexpr int32_t ResultBadDevice = 2;   // no device has this number
    static constexpr int32_t ResultNoSoundFont = 3; // the synthesizer has nothing to play with
    static constexpr int32_t ResultNoAudio = 6;     // no sound server or audio device opened

    SystemMidiOutput();
    explicit SystemMidiOutput(Options options);
    ~SystemMidiOutput() override;
    SystemMidiOutput(const SystemMidiOutput&) = delete;
    SystemMidiOutput& operator=(const SystemMidiOutput&) = delete;

    std::vector<MidiDeviceInfo> Devices() override;
    int32_t Open(int32_t device, uint32_t& handle) override;
    // A system port is wired again and sent again the programs sent on it
    // before, since the program at the other end may be a new one.
    int32_t Reconnect(uint32_t handle) override;
    // A send to the built-in synthesizer with no sound to play through fails
    // with ResultNoAudio.
    int32_t ShortMsg(uint32_t handle, uint32_t message) override;
    int32_t ShortMsgAt(uint32_t handle, uint32_t message, int64_t dueNanos) override;
    void Close(uint32_t handle) override;
    void Hold(uint32_t handle, bool held) override;
    std::string LastError() const override;

    // Loads the synthesizer's SoundFont and connects its audio output now, so
    // that the first Open is quick.
    // Meant for a background thread right after the window shows; an Open
    // that comes meanwhile waits for it rather than loading twice. The caller
    // must let it finish before destroying this object.
    void PreloadSynth();

    FluidSynthOutput& Synth() { return m_synth; }

private:
    struct OpenDevice {
        bool IsSynth = false;
        uint32_t PortId = 0;
        std::array<int, 16> Programs; // last program change per wire channel, -1 none
    };

    int32_t OpenSynth(uint32_t& handle);
    int32_t OpenPort(const RtMidiPorts::Port& port, uint32_t& handle);
    std::string PortsProblems() const;

    // Serializes the public calls; PreloadSynth is the synthesizer's business.
    mutable std::mutex m_mutex;
    FluidSynthOutput m_synth;
    RtMidiPorts m_ports;
    std::map<uint32_t, OpenDevice> m_open;
    uint32_t m_nextHandle = 1;
    int m_synthUsers = 0;
    std::string m_lastError;
};

} // namespace sonavel
