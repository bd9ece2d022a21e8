#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sonavel {

struct MidiDeviceInfo {
    int32_t Number = 0; // -1 is the default output, 0 the built-in synthesizer
    std::string Name;   // what the setup dialog shows
};

// The program's door to sound: list the output devices, open one by number,
// send packed short messages, close. Messages are packed as status in the low
// byte, then data 1, then data 2; the top byte is 0.
class MidiOutput {
public:
    virtual ~MidiOutput() = default;

    // Every device the user may choose, in order; -1 first.
    virtual std::vector<MidiDeviceInfo> Devices() = 0;
    // Returns 0 and a non-zero handle on success; otherwise a non-zero error
    // number, the handle left 0 and the reason in LastError().
    virtual int32_t Open(int32_t device, uint32_t& handle) = 0;
    // Makes sure that what is sent on an open handle reaches its device; called
    // before each question on a device that stayed open. A port of another
    // program is wired to it only until that program ends, even if it starts
    // again under the same name: such a port is wired again here. Returns 0, or
    // a non-zero error number with the reason in LastError() when the device
    // has gone; the caller then closes the handle.
    virtual int32_t Reconnect(uint32_t handle) {
        (void)handle;
        return 0;
    }
    // While held, a device that saves power in silence (the built-in
    // synthesizer stops feeding the sound server) stays ready: a question holds
    // it through its pauses, whose timing a wake would spoil.
    virtual void Hold(uint32_t handle, bool held) {
        (void)handle;
        (void)held;
    }
    // Sends at once. Returns 0, or a non-zero error number with the reason in
    // LastError() when the device can no longer play (the built-in
    // synthesizer's sound server went away); the caller then closes the
    // handle. A send on a closed or unknown handle is dropped and returns 0.
    virtual int32_t ShortMsg(uint32_t handle, uint32_t message) = 0;
    // Sends a message due at dueNanos (CLOCK_MONOTONIC; 0 for now), with the
    // result of ShortMsg. A device that places messages on its own sound (the
    // built-in synthesizer) plays it its fixed latency after that moment, so a
    // sender that woke late by less than that moves nothing; the others send
    // it at once.
    virtual int32_t ShortMsgAt(uint32_t handle, uint32_t message, int64_t dueNanos) {
        (void)dueNanos;
        return ShortMsg(handle, message);
    }
    virtual void Close(uint32_t handle) = 0;
    // Why the last Open, Reconnect or send failed, in words a user can act on.
    virtual std::string LastError() const = 0;
};

} // namespace sonavel
