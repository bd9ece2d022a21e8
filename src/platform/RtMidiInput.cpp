#include "platform/RtMidiInput.h"

#include "platform/RtMidiPorts.h"

#include <algorithm>
#include <regex>

namespace sonavel {

RtMidiInput::RtMidiInput() : RtMidiInput(Options{}) {}

RtMidiInput::RtMidiInput(Options options) : m_options(std::move(options)) {
    if (m_options.UseAlsa)
        m_apis.push_back({RtMidi::LINUX_ALSA, false, nullptr});
    if (m_options.UseJack)
        m_apis.push_back({RtMidi::UNIX_JACK, false, nullptr});
}

RtMidiInput::~RtMidiInput() {
    Close();
}

std::unique_ptr<RtMidiIn> RtMidiInput::NewClient(RtMidi::Api api) {
    if (!RtMidiPorts::IsCompiled(api))
        return nullptr;
    try {
        auto in = std::make_unique<RtMidiIn>(api, m_options.ClientName);
        in->setErrorCallback(&RtMidiInput::OnError, this);
        return in;
    } catch (const std::exception& e) {
        OnError(RtMidiError::DRIVER_ERROR, e.what(), this);
        return nullptr;
    }
}

std::string RtMidiInput::PortName(const Api& api, RtMidiIn& in, unsigned index) const {
    static const std::regex alsaNumbers(R"( \d+:\d+$)");
    std::string name = in.getPortName(index);
    if (api.Kind == RtMidi::LINUX_ALSA)
        name = std::regex_replace(name, alsaNumbers, "");
    return name + " (" + RtMidiPorts::ApiName(api.Kind) + ")";
}

void RtMidiInput::List(Api& api, std::vector<std::string>& names) {
    if (!api.Tried) {
        api.Tried = true;
        api.Lister = NewClient(api.Kind);
    }
    if (!api.Lister)
        return;
    const unsigned count = api.Lister->getPortCount();
    for (unsigned i = 0; i < count; ++i) {
        std::string name = PortName(api, *api.Lister, i);
        if (!name.starts_with(m_options.ClientName))
            names.push_back(std::move(name));
    }
}

std::vector<std::string> RtMidiInput::Ports() {
    std::vector<std::string> names;
    for (Api& api : m_apis)
        List(api, names);
    return names;
}

RtMidiInput::Api* RtMidiInput::ApiOf(const std::string& name) {
    const auto api = std::find_if(m_apis.begin(), m_apis.end(), [&](const Api& a) {
        return name.ends_with(" (" + RtMidiPorts::ApiName(a.Kind) + ")");
    });
    return api == m_apis.end() ? nullptr : &*api;
}

// Only the port's own API is asked: libjack writes to the terminal at every
// try while no JACK server runs, which the once-a-second check of an ALSA
// keyboard must not cause.
bool RtMidiInput::HasPort(const std::string& name) {
    std::vector<std::string> names;
    if (Api* api = ApiOf(name))
        List(*api, names);
    return std::find(names.begin(), names.end(), name) != names.end();
}

bool RtMidiInput::Open(const std::string& name, NoteHandler onNote, std::string& error) {
    Close();
    Api* api = HasPort(name) ? ApiOf(name) : nullptr;
    if (api)
        m_in = NewClient(api->Kind);
    if (!m_in) {
        error = "The MIDI port \"" + name + "\" is not there.";
        return false;
    }
    {
        const std::lock_guard lock(m_errorMutex);
        m_error.clear();
    }
    m_onNote = std::move(onNote);
    m_in->setCallback(&RtMidiInput::OnMessage, this);
    // Its own list: ports may have come or gone since the lister's.
    for (unsigned i = 0; i < m_in->getPortCount() && !m_in->isPortOpen(); ++i)
        if (PortName(*api, *m_in, i) == name)
            m_in->openPort(i, "keyboard");
    if (m_in->isPortOpen())
        return true;
    {
        const std::lock_guard lock(m_errorMutex);
        error = "The MIDI port \"" + name + "\" could not be opened. " + m_error;
    }
    Close();
    return false;
}

void RtMidiInput::Close() {
    // Destroying the client waits for its thread, so no note comes after.
    m_in.reset();
    m_onNote = nullptr;
}

void RtMidiInput::OnMessage(double, std::vector<unsigned char>* message, void* data) {
    auto* self = static_cast<RtMidiInput*>(data);
    if (message->size() >= 3 && ((*message)[0] & 0xF0) == 0x90 && (*message)[2] > 0)
        self->m_onNote((*message)[1]);
}

void RtMidiInput::OnError(RtMidiError::Type, const std::string& text, void* data) {
    auto* self = static_cast<RtMidiInput*>(data);
    const std::lock_guard lock(self->m_errorMutex);
    if (!self->m_error.empty())
        self->m_error += " ";
    self->m_error += text;
}

} // namespace sonavel
