#pragma once

#include <functional>
#include <string>
#include <vector>

namespace sonavel {

// The MIDI input ports of the system, for a keyboard the student plays the
// answers on. Nothing is ever sent to them. Ports, Open and Close are called
// from one thread; notes arrive on a thread of the implementation.
class MidiInput {
public:
    using NoteHandler = std::function<void(int note)>;

    virtual ~MidiInput() = default;

    // The ports present now, by names that stay the same from run to run.
    virtual std::vector<std::string> Ports() = 0;
    // Whether the port of that name is there now.
    virtual bool HasPort(const std::string& name) = 0;
    // Listens to the port of that name, after closing the one listened to
    // before. onNote gets the key number of every note-on with a velocity
    // above 0, on the input's own thread. False with the reason in error.
    virtual bool Open(const std::string& name, NoteHandler onNote, std::string& error) = 0;
    // Stops listening; once it returns, onNote is no longer called.
    virtual void Close() = 0;
};

} // namespace sonavel
