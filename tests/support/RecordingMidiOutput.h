#pragma once

#include "platform/Clock.h"
#include "platform/MidiOutput.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace sonavel::fakes {

// A MIDI output that records every call, each message with the time it came.
class RecordingMidiOutput : public MidiOutput {
public:
    struct Message {
        int64_t TimeMs;
        uint32_t Packed;
        uint8_t Status() const { return Packed & 0xFF; }
        uint8_t Data1() const { return (Packed >> 8) & 0xFF; }
        uint8_t Data2() const { return (Packed >> 16) & 0xFF; }
        bool operator==(const Message&) const = default;
    };

    explicit RecordingMidiOutput(Clock* clock = nullptr) : m_clock(clock) {}

    std::vector<MidiDeviceInfo> Devices() override { return DeviceList; }
    int32_t Open(int32_t device, uint32_t& handle) override {
        OpenedDevices.push_back(device);
        handle = m_open = m_nextHandle++;
        return 0;
    }
    int32_t Reconnect(uint32_t handle) override { return Mine(handle) ? 0 : 1; }
    int32_t ShortMsg(uint32_t handle, uint32_t message) override {
        if ((message & 0xF0) == 0x90 && FailNote > 0 && --FailNote == 0)
            return 1; // refused, as by a device that went away
        if (Mine(handle))
            Messages.push_back({m_clock ? m_clock->NowMicros() / 1000 : 0, message});
        else
            ++DroppedSends;
        return 0;
    }
    void Close(uint32_t handle) override {
        if (Mine(handle))
            m_open = 0;
    }
    void Hold(uint32_t handle, bool held) override { Holds.push_back(handle != 0 && held); }
    std::string LastError() const override { return {}; }
    bool IsOpen() const { return m_open != 0; }
    // Every note started was stopped afterwards on its channel, and no other.
    bool AllNotesStopped() const {
        std::map<uint32_t, int> sounding; // by status and note
        for (const Message& m : Messages)
            if ((m.Status() & 0xF0) == 0x90)
                sounding[m.Packed & 0xFFFF] += m.Data2() ? 1 : -1;
        return std::ranges::all_of(sounding, [](const auto& note) { return note.second == 0; });
    }

    std::vector<MidiDeviceInfo> DeviceList{{-1, "Default MIDI output"},
                                           {0, "Built-in synthesizer (test)"}};

    std::vector<Message> Messages;
    std::vector<int32_t> OpenedDevices;
    std::vector<bool> Holds;
    int DroppedSends = 0; // sends on a closed or foreign handle
    int FailNote = 0;     // the note on or off with this number (1 the next) is refused

private:
    bool Mine(uint32_t handle) const { return handle != 0 && handle == m_open; }
    Clock* m_clock;
    uint32_t m_open = 0, m_nextHandle = 1;
};

} // namespace sonavel::fakes
