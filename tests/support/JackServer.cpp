#include "JackServer.h"

#if __has_include(<jack/jack.h>)

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

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
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, m_log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&files, 1, 2);
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e)
        env.emplace_back(*e);
    // As root, jackd otherwise asks the session bus for the (absent) card.
    env.emplace_back("JACK_NO_AUDIO_RESERVATION=1");
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> args{"jackd", "--no-realtime", "--name", m_name, "-d", "dummy",
                                  "-r",    "48000",         "-p",     "256"};
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = posix_spawnp(&m_pid, "jackd", &files, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&files);
    if (rc != 0) {
        m_pid = 0;
        m_why = "jackd could not be started (" + std::string(strerror(rc)) +
                "); install the package jackd2";
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
