#pragma once

#include "Spawn.h"
#include "TempDir.h"

#include <jack/jack.h>

namespace sonavel::fakes {

// A JACK server of the test's own with the dummy driver: no sound card, and no
// clash with a server the user may run. A test that cannot have one skips
// with Why().
class JackServer {
public:
    JackServer() {
        // As root, jackd otherwise asks the session bus for the (absent) card.
        const auto answers = [this] {
            jack_client_t* probe = OpenClient("sonavel-probe");
            return probe != nullptr && jack_client_close(probe) == 0;
        };
        m_pid = StartServer(
            {"jackd", "--no-realtime", "--name", m_name, "-d", "dummy", "-r", "48000", "-p", "256"},
            {"JACK_NO_AUDIO_RESERVATION=1"}, m_dir.Path / "log", answers, m_why);
    }
    ~JackServer() { EndProcess(m_pid, SIGTERM); } // not copied: its TempDir is not

    bool Running() const { return m_pid != 0; }
    const std::string& Why() const { return m_why; }
    const std::string& Name() const { return m_name; } // for JACK_DEFAULT_SERVER
    // A client of this server, or null; never starts a server of its own.
    jack_client_t* OpenClient(const std::string& client) const {
        jack_status_t status{};
        return jack_client_open(client.c_str(),
                                static_cast<jack_options_t>(JackNoStartServer | JackServerName),
                                &status, m_name.c_str());
    }

private:
    TempDir m_dir{"sonavel-jack"};
    std::string m_name = m_dir.Path.filename().string(); // unique as the folder is
    pid_t m_pid = 0;
    std::string m_why;
};

} // namespace sonavel::fakes
