#pragma once

#include "platform/MidiInput.h"

#include <RtMidi.h>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace sonavel {

// The ALSA and JACK MIDI input ports through RtMidi. As for the output, each
// API is constructed on its own, so that a missing ALSA sequencer hides
// nothing of JACK. Port names are RtMidi's with the API after them, "client:port
// (JACK)"; ALSA's client and port numbers, which change between runs, are
// left out. The program's own ports are not listed, so that it never hears
// the questions it plays.
class RtMidiInput : public MidiInput {
public:
    struct Options {
        bool UseAlsa = true;
        bool UseJack = true;
        std::string ClientName = "Sonavel";
    };

    RtMidiInput();
    explicit RtMidiInput(Options options);
    ~RtMidiInput() override;
    RtMidiInput(const RtMidiInput&) = delete;
    RtMidiInput& operator=(const RtMidiInput&) = delete;

    std::vector<std::string> Ports() override;
    bool HasPort(const std::string& name) override;
    bool Open(const std::string& name, NoteHandler onNote, std::string& error) override;
    void Close() override;

private:
    struct Api {
        RtMidi::Api Kind = RtMidi::UNSPECIFIED;
        bool Tried = false;
        std::unique_ptr<RtMidiIn> Lister;
    };

    std::unique_ptr<RtMidiIn> NewClient(RtMidi::Api api);
    // Appends the ports of api, starting it at its first use.
    void List(Api& api, std::vector<std::string>& names);
    Api* ApiOf(const std::string& name);
    std::string PortName(const Api& api, RtMidiIn& in, unsigned index) const;
    static void OnMessage(double delta, std::vector<unsigned char>* message, void* data);
    static void OnError(RtMidiError::Type type, const std::string& text, void* data);

    Options m_options;
    std::vector<Api> m_apis;
    std::unique_ptr<RtMidiIn> m_in;
    NoteHandler m_onNote;
    std::mutex m_errorMutex; // RtMidi may report from its own thread
    std::string m_error;
};

} // namespace sonavel
