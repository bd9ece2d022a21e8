#pragma once

#if __has_include(<jack/jack.h>)

#include <filesystem>
#include <jack/jack.h>
#include <string>
#include <sys/types.h>

namespace sonavel::fakes {

// A JACK server of the test's own with the dummy driver: no sound card, and no
// clash with a server the user may run. Started in the constructor, ended by
// its process id in the destructor. A test that cannot have one skips with
// Why().
class JackServer {
public:
    JackServer();
    ~JackServer();
    JackServer(const JackServer&) = delete;
    JackServer& operator=(const JackServer&) = delete;

    bool Running() const { return m_why.empty(); }
    const std::string& Why() const { return m_why; }
    // The server's name, for JACK_DEFAULT_SERVER.
    const std::string& Name() const { return m_name; }
    // A client of this server, or null; never starts a server of its own.
    jack_client_t* OpenClient(const std::string& client) const;

private:
    std::string m_name;
    std::filesystem::path m_log;
    pid_t m_pid = 0;
    std::string m_why;
};

} // namespace sonavel::fakes

#endif
