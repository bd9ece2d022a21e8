#include "RecordingMidiOutput.h"

namespace sonavel::fakes {

int32_t RecordingMidiOutput::Open(int32_t device, uint32_t& handle) {
    if (FailOpenWith != 0) {
        handle = 0;
        return FailOpenWith;
    }
    ++Opens;
    OpenedDevices.push_back(device);
    m_open = m_nextHandle++;
    handle = m_open;
    return 0;
}

int32_t RecordingMidiOutput::Reconnect(uint32_t handle) {
    ++Reconnects;
    if (handle == 0 || handle != m_open)
        return 1;
    return FailReconnectWith;
}

void RecordingMidiOutput::ShortMsg(uint32_t handle, uint32_t message) {
    if (handle == 0 || handle != m_open) {
        ++DroppedSends;
        return;
    }
    Messages.push_back({m_clock ? m_clock->NowMicros() / 1000 : 0, message});
}

void RecordingMidiOutput::Close(uint32_t handle) {
    if (handle != 0 && handle == m_open) {
        m_open = 0;
        ++Closes;
    }
}

} // namespace sonavel::fakes
