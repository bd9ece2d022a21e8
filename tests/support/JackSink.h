#pragma once

#if __has_include(<jack/jack.h>)

#include "JackServer.h"

#include <mutex>
#include <string>
#include <vector>

namespace sonavel::fakes {

// A JACK client with MIDI input ports that records every event it receives,
// standing in for a synthesizer program the trainer plays to.
class JackSink {
public:
    using Bytes = std::vector<unsigned char>;

    JackSink(const JackServer& server, const std::vector<std::string>& ports,
             const std::string& client = "sonavel-test-sink");
    ~JackSink() { Close(); }
    JackSink(const JackSink&) = delete;
    JackSink& operator=(const JackSink&) = delete;

    bool Ok() const { return m_client != nullptr; }
    // Leaves the server, as a program that ends does; its ports go with it.
    void Close();
    // What arrived since the last call, waiting up to two seconds for count
    // events, or for the event last, and a little longer for any beyond.
    std::vector<Bytes> Received(size_t count);
    std::vector<Bytes> ReceivedThrough(const Bytes& last);

private:
    template <typename Ready> std::vector<Bytes> TakeWhenReady(Ready ready);
    static int Process(jack_nframes_t frames, void* data);

    jack_client_t* m_client = nullptr;
    std::vector<jack_port_t*> m_ports;
    std::mutex m_mutex;
    std::vector<Bytes> m_received;
};

} // namespace sonavel::fakes

#endif
