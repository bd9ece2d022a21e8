#include "JackServer.h"

#if __has_include(<jack/jack.h>)

#include "Spawn.h"

#include <chrono>
#include <csignal>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace sonavel::fakes {

using namespace std::chrono_literals;

namespace {

// Servers of one process are told apart by a counter.
int g_serverCount = 0;

} // namespace

JackServer::JackServer()
    : m_name("sonavel-test-" + std::to_string(getpid()) + "-" + std::to_string(++g_serverCount)),
      m_log(std::filesystem::temp_directory_path() / (m_name + ".log")) {
    // As root, jackd otherwise asks the session bus for the (absent) card.
    m_pid = SpawnLogged(
        {"jackd", "--no-realtime", "--name", m_name, "-d", "dummy", "-r", "48000", "-p", "256"}, {},
        {"JACK_NO_AUDIO_RESERVATION=1"}, m_log, m_why);
    const auto accepts = [this] {
        jack_client_t* probe = OpenClient("sonavel-probe");
        return probe != nullptr && jack_client_close(probe) == 0;
    };
    if (m_pid != 0 && !WaitForProcess(m_pid, accepts, m_log, m_why))
        m_why = "jackd (package jackd2): " + m_why;
}

JackServer::~JackServer() {
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        for (int i = 0; i < 50 && waitpid(m_pid, nullptr, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(100ms);
        if (waitpid(m_pid, nullptr, WNOHANG) == 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    std::error_code ec;
    std::filesystem::remove(m_log, ec);
}

jack_client_t* JackServer::OpenClient(const std::string& client) const {
    jack_status_t status{};
    return jack_client_open(client.c_str(),
                            static_cast<jack_options_t>(JackNoStartServer | JackServerName),
                            &status, m_name.c_str());
}

} // namespace sonavel::fakes

#endif
