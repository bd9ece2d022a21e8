#include "JackServer.h"

#include "Spawn.h"

#if __has_include(<jack/jack.h>)

#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace sonavel::fakes {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// Servers of one process are told apart by a counter.
int g_serverCount = 0;

} // namespace

JackServer::JackServer()
    : m_name("sonavel-test-" + std::to_string(getpid()) + "-" + std::to_string(++g_serverCount)) {
    m_log = fs::temp_directory_path() / (m_name + ".log");
    std::string why;
    // As root, jackd otherwise asks the session bus for the (absent) card.
    m_pid = SpawnLogged(
        {"jackd", "--no-realtime", "--name", m_name, "-d", "dummy", "-r", "48000", "-p", "256"}, {},
        {"JACK_NO_AUDIO_RESERVATION=1"}, m_log.string(), why);
    if (m_pid == 0) {
        m_why = "jackd could not be started (" + why + "); install the package jackd2";
        return;
    }
    WaitUntilReady();
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
    fs::remove(m_log, ec);
}

jack_client_t* JackServer::OpenClient(const std::string& client) const {
    jack_status_t status{};
    return jack_client_open(client.c_str(),
                            static_cast<jack_options_t>(JackNoStartServer | JackServerName),
                            &status, m_name.c_str());
}

void JackServer::WaitUntilReady() {
    const auto deadline = std::chrono::steady_clock::now() + 15s;
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = 0;
            m_why = "jackd ended at once: " + Log();
            return;
        }
        if (jack_client_t* probe = OpenClient("sonavel-probe")) {
            jack_client_close(probe);
            return;
        }
        std::this_thread::sleep_for(100ms);
    }
    m_why = "jackd accepted no client within 15 s: " + Log();
}

std::string JackServer::Log() const {
    std::ifstream in(m_log);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

} // namespace sonavel::fakes

#endif
