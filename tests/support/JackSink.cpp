#include "JackSink.h"

#if __has_include(<jack/jack.h>)

#include <algorithm>
#include <chrono>
#include <jack/midiport.h>
#include <thread>
#include <utility>

namespace sonavel::fakes {

using namespace std::chrono_literals;

JackSink::JackSink(const JackServer& server, const std::vector<std::string>& ports,
                   const std::string& client)
    : m_client(server.OpenClient(client)) {
    if (m_client == nullptr)
        return;
    for (const std::string& name : ports)
        m_ports.push_back(
            jack_port_register(m_client, name.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0));
    jack_set_process_callback(m_client, &JackSink::Process, this);
    jack_activate(m_client);
}

void JackSink::Close() {
    // Returns when the server has let the client go, ports and connections too.
    if (m_client != nullptr)
        jack_client_close(m_client);
    m_client = nullptr;
}

std::vector<JackSink::Bytes> JackSink::Received(size_t count) {
    return TakeWhenReady([count](const std::vector<Bytes>& got) { return got.size() >= count; });
}

std::vector<JackSink::Bytes> JackSink::ReceivedThrough(const Bytes& last) {
    return TakeWhenReady([&last](const std::vector<Bytes>& got) {
        return std::find(got.begin(), got.end(), last) != got.end();
    });
}

template <typename Ready> std::vector<JackSink::Bytes> JackSink::TakeWhenReady(Ready ready) {
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (std::chrono::steady_clock::now() < deadline) {
        {
            std::lock_guard lock(m_mutex);
            if (ready(m_received))
                break;
        }
        std::this_thread::sleep_for(10ms);
    }
    std::this_thread::sleep_for(50ms); // anything beyond would show too
    std::lock_guard lock(m_mutex);
    return std::exchange(m_received, {});
}

int JackSink::Process(jack_nframes_t frames, void* data) {
    auto* self = static_cast<JackSink*>(data);
    std::lock_guard lock(self->m_mutex);
    for (jack_port_t* port : self->m_ports) {
        void* buffer = jack_port_get_buffer(port, frames);
        jack_midi_event_t event;
        for (uint32_t i = 0; i < jack_midi_get_event_count(buffer); ++i)
            if (jack_midi_event_get(&event, buffer, i) == 0)
                self->m_received.emplace_back(event.buffer, event.buffer + event.size);
    }
    return 0;
}

} // namespace sonavel::fakes

#endif
