#include "platform/RtMidiPorts.h"

#include "platform/ShortMessage.h"

#include <algorithm>
#include <thread>

namespace sonavel {

RtMidiPorts::RtMidiPorts(std::string clientName, std::vector<RtMidi::Api> apis)
    : m_clientName(std::move(clientName)) {
    for (RtMidi::Api api : apis) {
        ApiState state;
        state.Kind = api;
        m_apis.push_back(std::move(state));
    }
}

RtMidiPorts::~RtMidiPorts() {
    while (!m_open.empty())
        Close(m_open.begin()->first);
}

std::string RtMidiPorts::ApiName(RtMidi::Api api) {
    switch (api) {
    case RtMidi::LINUX_ALSA:
        return "ALSA";
    case RtMidi::UNIX_JACK:
        return "JACK";
    default:
        return RtMidi::getApiDisplayName(api);
    }
}

bool RtMidiPorts::IsCompiled(RtMidi::Api api) {
    std::vector<RtMidi::Api> compiled;
    RtMidi::getCompiledApi(compiled);
    return std::find(compiled.begin(), compiled.end(), api) != compiled.end();
}

std::unique_ptr<RtMidiOut> RtMidiPorts::NewClient(ApiState& api, std::string& error) {
    if (!IsCompiled(api.Kind)) {
        error = "this RtMidi library has no " + ApiName(api.Kind) + " support";
        return nullptr;
    }
    try {
        auto out = std::make_unique<RtMidiOut>(api.Kind, m_clientName);
        out->setErrorCallback(&RtMidiPorts::OnError, this);
        return out;
    } catch (const std::exception& e) {
        error = e.what();
        return nullptr;
    }
}

std::vector<RtMidiPorts::Port> RtMidiPorts::List() {
    std::vector<Port> ports;
    for (ApiState& api : m_apis) {
        if (!api.Tried) {
            // A back end that cannot even start (no ALSA sequencer) will not
            // appear later in this run; JACK clients reconnect by themselves.
            api.Tried = true;
            api.Lister = NewClient(api, api.Problem);
        }
        if (!api.Lister)
            continue;
        ClearError();
        const unsigned count = api.Lister->getPortCount();
        api.Problem = m_error;
        for (unsigned i = 0; i < count; ++i)
            ports.push_back({api.Kind, i, api.Lister->getPortName(i)});
    }
    return ports;
}

std::string RtMidiPorts::Problems() const {
    std::string text;
    for (const ApiState& api : m_apis) {
        if (api.Problem.empty())
            continue;
        if (!text.empty())
            text += " ";
        text += ApiName(api.Kind) + ": " + api.Problem;
    }
    return text;
}

uint32_t RtMidiPorts::Open(const Port& port, std::string& error) {
    const auto found = std::find_if(m_apis.begin(), m_apis.end(),
                                    [&](const ApiState& api) { return api.Kind == port.Api; });
    if (found == m_apis.end()) {
        error = "The " + ApiName(port.Api) + " MIDI ports are not in use.";
        return 0;
    }
    ApiState& api = *found;
    std::unique_ptr<RtMidiOut> out;
    if (!api.Idle.empty()) {
        out = std::move(api.Idle.back());
        api.Idle.pop_back();
    } else {
        std::string reason;
        out = NewClient(api, reason);
        if (!out) {
            error = "The " + ApiName(api.Kind) + " MIDI ports cannot be used: " + reason;
            return 0;
        }
    }
    ClearError();
    // Ports come and go; the number from the list must still mean the same port.
    if (out->getPortCount() <= port.Index || out->getPortName(port.Index) != port.Name) {
        error = "The MIDI port \"" + port.Name + "\" is no longer there.";
        api.Idle.push_back(std::move(out));
        return 0;
    }
    if (!Connect(*out, port.Index, port.Name, error)) {
        api.Idle.push_back(std::move(out));
        return 0;
    }
    const uint32_t id = m_nextId++;
    m_open[id] =
        OpenPort{&api, port.Name, std::move(out), true, {}, std::chrono::steady_clock::now()};
    return id;
}

bool RtMidiPorts::Connect(RtMidiOut& out, unsigned index, const std::string& name,
                          std::string& error) {
    ClearError();
    out.openPort(index, "output");
    if (m_errorIsFatal || !out.isPortOpen()) {
        error = "The MIDI port \"" + name + "\" could not be opened: " + m_error;
        out.closePort();
        return false;
    }
    return true;
}

bool RtMidiPorts::Reconnect(uint32_t id, std::string& error) {
    const auto it = m_open.find(id);
    if (it == m_open.end()) {
        error = "The MIDI port is not open.";
        return false;
    }
    OpenPort& port = it->second;
    Drain(port);
    port.Out->closePort();
    port.Connected = false;
    ClearError();
    const unsigned count = port.Out->getPortCount();
    for (unsigned i = 0; i < count; ++i) {
        if (port.Out->getPortName(i) == port.Target) {
            port.Connected = Connect(*port.Out, i, port.Target, error);
            port.ConnectedAt = std::chrono::steady_clock::now();
            return port.Connected;
        }
    }
    error = "The MIDI port \"" + port.Target + "\" is no longer there.";
    return false;
}

void RtMidiPorts::Send(uint32_t id, uint32_t message) {
    const auto it = m_open.find(id);
    if (it == m_open.end() || !it->second.Connected)
        return;
    const ShortMessage m = ShortMessage::Unpack(message);
    const int length = m.Length();
    if (length == 0)
        return;
    const unsigned char bytes[3] = {m.Status, m.Data1, m.Data2};
    if (it->second.Api->Kind == RtMidi::UNIX_JACK) {
        const auto live = it->second.ConnectedAt + JackSettle;
        if (live > std::chrono::steady_clock::now())
            std::this_thread::sleep_until(live);
    }
    it->second.Out->sendMessage(bytes, static_cast<size_t>(length));
    it->second.LastSend = std::chrono::steady_clock::now();
}

void RtMidiPorts::Close(uint32_t id) {
    const auto it = m_open.find(id);
    if (it == m_open.end())
        return;
    OpenPort& port = it->second;
    Drain(port);
    port.Out->closePort();
    port.Api->Idle.push_back(std::move(port.Out));
    m_open.erase(it);
}

void RtMidiPorts::Drain(const OpenPort& port) {
    if (port.Api->Kind == RtMidi::UNIX_JACK &&
        port.LastSend != std::chrono::steady_clock::time_point{}) {
        // RtMidi hands JACK messages over in the next process cycle; closing the
        // port before the receiver's cycle has run drops them.
        const auto ready = port.LastSend + JackDrain;
        if (ready > std::chrono::steady_clock::now())
            std::this_thread::sleep_until(ready);
    }
}

void RtMidiPorts::ClearError() {
    m_error.clear();
    m_errorIsFatal = false;
}

void RtMidiPorts::OnError(RtMidiError::Type type, const std::string& text, void* data) {
    auto* self = static_cast<RtMidiPorts*>(data);
    if (!self->m_error.empty())
        self->m_error += " ";
    self->m_error += text;
    if (type != RtMidiError::WARNING && type != RtMidiError::DEBUG_WARNING)
        self->m_errorIsFatal = true;
}

} // namespace sonavel
