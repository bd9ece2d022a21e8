#pragma once

#include "JackServer.h"

#include <algorithm>
#include <cstdint>
#include <jack/midiport.h>
#include <mutex>
#include <utility>

namespace sonavel::fakes {

// A JACK client with one MIDI input port, "input", that records every event it
// receives, standing in for a synthesizer program the trainer plays to.
class JackSink {
public:
    using Bytes = std::vector<unsigned char>;

    JackSink(const JackServer& server, const std::string& client)
        : m_client(server.OpenClient(client)) {
        if (m_client == nullptr)
            return;
        m_port = jack_port_register(m_client, "input", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        jack_set_process_callback(m_client, &JackSink::Process, this);
        jack_activate(m_client);
    }
    ~JackSink() { Close(); } // not copied: its mutex is not

    bool Ok() const { return m_client != nullptr; }
    // Leaves the server, as a program that ends does; returns when the server
    // has let the client go, its ports and connections too.
    void Close() {
        if (m_client != nullptr)
            jack_client_close(m_client);
        m_client = nullptr;
    }
    // What arrived since the last call, waiting up to two seconds for count
    // events, or for the event last, and a little longer for any beyond.
    std::vector<Bytes> Received(size_t count, const Bytes& last = {}) {
        for (int i = 0; i < 200; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
            std::lock_guard lock(m_mutex);
            if (m_received.size() >= count || std::ranges::count(m_received, last) > 0)
                break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::lock_guard lock(m_mutex);
        return std::exchange(m_received, {});
    }

private:
    static int Process(jack_nframes_t frames, void* data) {
        auto* self = static_cast<JackSink*>(data);
        std::lock_guard lock(self->m_mutex);
        void* buffer = jack_port_get_buffer(self->m_port, frames);
        jack_midi_event_t event;
        for (uint32_t i = 0; i < jack_midi_get_event_count(buffer); ++i)
            if (jack_midi_event_get(&event, buffer, i) == 0)
                self->m_received.emplace_back(event.buffer, event.buffer + event.size);
        return 0;
    }

    jack_client_t* m_client = nullptr;
    jack_port_t* m_port = nullptr;
    std::mutex m_mutex;
    std::vector<Bytes> m_received;
};

} // namespace sonavel::fakes
