#include "platform/SystemMidiOutput.h"

namespace sonavel {

namespace {

std::array<int, 16> NoPrograms() {
    std::array<int, 16> programs;
    programs.fill(-1);
    return programs;
}

std::vector<RtMidi::Api> ChosenApis(const SystemMidiOutput::Options& options) {
    std::vector<RtMidi::Api> apis;
    if (options.UseAlsa)
        apis.push_back(RtMidi::LINUX_ALSA);
    if (options.UseJack)
        apis.push_back(RtMidi::UNIX_JACK);
    return apis;
}

} // namespace

int DefaultPortIndex(const std::vector<std::string>& names) {
    for (size_t i = 0; i < names.size(); ++i)
        if (names[i].find("Midi Through") == std::string::npos)
            return static_cast<int>(i);
    return names.empty() ? -1 : 0;
}

SystemMidiOutput::SystemMidiOutput() : SystemMidiOutput(Options{}) {}

SystemMidiOutput::SystemMidiOutput(Options options)
    : m_synth(std::move(options.Synth)), m_ports(options.ClientName, ChosenApis(options)) {}

SystemMidiOutput::~SystemMidiOutput() {
    while (!m_open.empty())
        Close(m_open.begin()->first);
}

std::vector<MidiDeviceInfo> SystemMidiOutput::Devices() {
    const std::lock_guard lock(m_mutex);
    std::vector<MidiDeviceInfo> devices{{-1, "Default MIDI output"}, {0, m_synth.Name()}};
    int32_t number = 1;
    for (const RtMidiPorts::Port& port : m_ports.List())
        devices.push_back({number++, port.Name + " (" + RtMidiPorts::ApiName(port.Api) + ")"});
    return devices;
}

int32_t SystemMidiOutput::Open(int32_t device, uint32_t& handle) {
    const std::lock_guard lock(m_mutex);
    handle = 0;
    m_lastError.clear();
    if (device == 0)
        return OpenSynth(handle);
    if (device < -1) {
        m_lastError = "There is no MIDI device number " + std::to_string(device) + ".";
        return ResultBadDevice;
    }
    const std::vector<RtMidiPorts::Port> ports = m_ports.List();
    if (device == -1) {
        std::vector<std::string> names;
        for (const RtMidiPorts::Port& port : ports)
            names.push_back(port.Name);
        const int chosen = DefaultPortIndex(names);
        return chosen < 0 ? OpenSynth(handle) : OpenPort(ports[size_t(chosen)], handle);
    }
    if (static_cast<size_t>(device) > ports.size()) {
        m_lastError = "There is no MIDI device number " + std::to_string(device) + ": " +
                      (ports.empty() ? std::string("the system offers no MIDI ports now, only the "
                                                   "built-in synthesizer (0).")
                                     : "the devices are the built-in synthesizer (0) and 1 to " +
                                           std::to_string(ports.size()) + ".") +
                      PortsProblems();
        return ResultBadDevice;
    }
    return OpenPort(ports[static_cast<size_t>(device) - 1], handle);
}

int32_t SystemMidiOutput::OpenSynth(uint32_t& handle) {
    if (!m_synth.Start()) {
        m_lastError = m_synth.LastError();
        return m_synth.IsLoaded() ? ResultNoAudio : ResultNoSoundFont;
    }
    ++m_synthUsers;
    handle = m_nextHandle++;
    m_open[handle] = OpenDevice{true, 0, NoPrograms()};
    return 0;
}

int32_t SystemMidiOutput::OpenPort(const RtMidiPorts::Port& port, uint32_t& handle) {
    std::string error;
    const uint32_t id = m_ports.Open(port, error);
    if (id == 0) {
        m_lastError = error;
        return ResultError;
    }
    handle = m_nextHandle++;
    m_open[handle] = OpenDevice{false, id, NoPrograms()};
    return 0;
}

int32_t SystemMidiOutput::Reconnect(uint32_t handle) {
    const std::lock_guard lock(m_mutex);
    m_lastError.clear();
    const auto it = m_open.find(handle);
    if (it == m_open.end()) {
        m_lastError = "The MIDI device is not open.";
        return ResultError;
    }
    OpenDevice& device = it->second;
    if (device.IsSynth)
        return 0;
    if (!m_ports.Reconnect(device.PortId, m_lastError))
        return ResultError;
    for (size_t channel = 0; channel < device.Programs.size(); ++channel)
        if (device.Programs[channel] >= 0)
            m_ports.Send(device.PortId,
                         0xC0u | uint32_t(channel) | (uint32_t(device.Programs[channel]) << 8));
    return 0;
}

int32_t SystemMidiOutput::ShortMsg(uint32_t handle, uint32_t message) {
    return ShortMsgAt(handle, message, 0);
}

int32_t SystemMidiOutput::ShortMsgAt(uint32_t handle, uint32_t message, int64_t dueNanos) {
    const std::lock_guard lock(m_mutex);
    const auto it = m_open.find(handle);
    if (it == m_open.end())
        return 0;
    OpenDevice& device = it->second;
    if ((message & 0xF0) == 0xC0)
        device.Programs[message & 0x0F] = int((message >> 8) & 0x7F);
    if (!device.IsSynth) {
        m_ports.Send(device.PortId, message);
        return 0;
    }
    if (m_synth.Send(message, dueNanos))
        return 0;
    m_lastError = m_synth.LastError();
    return ResultNoAudio;
}

void SystemMidiOutput::Hold(uint32_t handle, bool held) {
    const std::lock_guard lock(m_mutex);
    const auto it = m_open.find(handle);
    if (it != m_open.end() && it->second.IsSynth)
        m_synth.Hold(held);
}

void SystemMidiOutput::Close(uint32_t handle) {
    const std::lock_guard lock(m_mutex);
    const auto it = m_open.find(handle);
    if (it == m_open.end())
        return;
    if (it->second.IsSynth) {
        if (--m_synthUsers == 0)
            m_synth.Stop();
    } else {
        m_ports.Close(it->second.PortId);
    }
    m_open.erase(it);
}

std::string SystemMidiOutput::LastError() const {
    const std::lock_guard lock(m_mutex);
    return m_lastError;
}

void SystemMidiOutput::PreloadSynth() {
    m_synth.Prepare();
}

std::string SystemMidiOutput::PortsProblems() const {
    const std::string problems = m_ports.Problems();
    return problems.empty() ? std::string() : " " + problems;
}

} // namespace sonavel
