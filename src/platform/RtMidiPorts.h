#pragma once

#include <RtMidi.h>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace sonavel {

// The operating system's MIDI output ports through RtMidi. Each API (ALSA,
// JACK) is opened on its own: RtMidi's automatic choice gives up when the ALSA
// sequencer is missing instead of trying JACK, and one missing back end must
// hide nothing of the other. Not thread-safe: use it from one thread.
class RtMidiPorts {
public:
    struct Port {
        RtMidi::Api Api = RtMidi::UNSPECIFIED;
        unsigned Index = 0; // RtMidi's port number within its API
        std::string Name;   // RtMidi's port name, e.g. "client:port" under JACK
    };

    // clientName names this program to ALSA and JACK.
    RtMidiPorts(std::string clientName, std::vector<RtMidi::Api> apis);
    ~RtMidiPorts();
    RtMidiPorts(const RtMidiPorts&) = delete;
    RtMidiPorts& operator=(const RtMidiPorts&) = delete;

    // Every output port present now, API by API in the order given.
    std::vector<Port> List();
    // Why APIs offered no ports at the last List ("JACK: ..."), empty if none failed.
    std::string Problems() const;

    // Opens a port as List gave it. Returns a non-zero id, or 0 with the reason
    // in error (also when the port has gone or another took its number).
    uint32_t Open(const Port& port, std::string& error);
    // Wires an open port again to the port of the same name as List shows it
    // now. A wire to another program's port goes when that program ends, and
    // does not come back when the program starts again, so this is needed to
    // be sure that messages arrive. Under JACK it takes about one period of
    // the server. Returns false with the reason in error when the port has
    // gone; the id then sends nothing until it is closed.
    bool Reconnect(uint32_t id, std::string& error);
    // Sends a packed short message at once; unknown ids and messages that
    // cannot stand alone are dropped.
    void Send(uint32_t id, uint32_t message);
    // Under JACK, waits until the last message sent had time to leave first.
    void Close(uint32_t id);

    static std::string ApiName(RtMidi::Api api);
    // Whether this RtMidi library has the back end: asked for one it lacks,
    // RtMidi silently picks another.
    static bool IsCompiled(RtMidi::Api api);

    // How long a JACK port must stay after the last send for its messages to
    // reach the receiver.
    static constexpr std::chrono::milliseconds JackDrain{100};
    // A new JACK connection carries messages only from a later process cycle
    // on; what is sent before is lost, so the first send waits this long.
    static constexpr std::chrono::milliseconds JackSettle{25};

private:
    struct ApiState {
        RtMidi::Api Kind = RtMidi::UNSPECIFIED;
        bool Tried = false;
        std::unique_ptr<RtMidiOut> Lister;
        std::vector<std::unique_ptr<RtMidiOut>> Idle; // closed clients kept for the next open
        std::string Problem;
    };
    struct OpenPort {
        ApiState* Api = nullptr;
        std::string Target; // the name of the port it is wired to
        std::unique_ptr<RtMidiOut> Out;
        bool Connected = true;
        std::chrono::steady_clock::time_point LastSend{};
        std::chrono::steady_clock::time_point ConnectedAt{};
    };

    std::unique_ptr<RtMidiOut> NewClient(ApiState& api, std::string& error);
    // Opens out on the port at index, which List named name; false with the reason.
    bool Connect(RtMidiOut& out, unsigned index, const std::string& name, std::string& error);
    static void Drain(const OpenPort& port);
    void ClearError();
    static void OnError(RtMidiError::Type type, const std::string& text, void* data);

    std::string m_clientName;
    std::vector<ApiState> m_apis;
    std::map<uint32_t, OpenPort> m_open;
    uint32_t m_nextId = 1;
    std::string m_error; // what RtMidi reported since ClearError
    bool m_errorIsFatal = false;
};

} // namespace sonavel
