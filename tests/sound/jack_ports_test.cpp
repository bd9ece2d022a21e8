#include "midi/clsMidi.h"
#include "platform/SystemMidiOutput.h"
#include "startup/clsErrorHandler.h"

#include <gtest/gtest.h>

#if __has_include(<jack/jack.h>)

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <mutex>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

using namespace sonavel;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<unsigned char>;

jack_client_t* OpenClient(const std::string& client, const std::string& server) {
    jack_status_t status{};
    return jack_client_open(client.c_str(),
                            static_cast<jack_options_t>(JackNoStartServer | JackServerName),
                            &status, server.c_str());
}

// A JACK server of the test's own with the dummy driver: no sound card, and no
// clash with a server the user may run. Ended by its process id.
class JackServer {
public:
    JackServer() : m_name("sonavel-test-" + std::to_string(getpid())) {
        m_log = fs::temp_directory_path() / (m_name + ".log");
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, 1, m_log.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
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

    ~JackServer() {
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

    bool Running() const { return m_why.empty(); }
    const std::string& Why() const { return m_why; }
    const std::string& Name() const { return m_name; }

private:
    void WaitUntilReady() {
        const auto deadline = std::chrono::steady_clock::now() + 15s;
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = 0;
                m_why = "jackd ended at once: " + Log();
                return;
            }
            if (jack_client_t* probe = OpenClient("sonavel-probe", m_name)) {
                jack_client_close(probe);
                return;
            }
            std::this_thread::sleep_for(100ms);
        }
        m_why = "jackd accepted no client within 15 s: " + Log();
    }

    std::string Log() const {
        std::ifstream in(m_log);
        return std::string((std::istreambuf_iterator<char>(in)), {});
    }

    std::string m_name;
    fs::path m_log;
    pid_t m_pid = 0;
    std::string m_why;
};

// A JACK client with MIDI inputs that records every event it receives.
class JackSink {
public:
    JackSink(const std::string& server, const std::vector<std::string>& ports) {
        m_client = OpenClient("sonavel-test-sink", server);
        if (m_client == nullptr)
            return;
        for (const std::string& name : ports)
            m_ports.push_back(jack_port_register(m_client, name.c_str(), JACK_DEFAULT_MIDI_TYPE,
                                                 JackPortIsInput, 0));
        jack_set_process_callback(m_client, &JackSink::Process, this);
        jack_activate(m_client);
    }
    ~JackSink() {
        if (m_client != nullptr)
            jack_client_close(m_client);
    }

    bool Ok() const { return m_client != nullptr; }
    std::string PortName(size_t i) const { return jack_port_name(m_ports.at(i)); }
    void Unregister(size_t i) {
        jack_port_unregister(m_client, m_ports.at(i));
        m_ports[i] = nullptr;
    }

    // What arrived, waiting up to two seconds for count events.
    std::vector<Bytes> Received(size_t count) {
        const auto deadline = std::chrono::steady_clock::now() + 2s;
        while (std::chrono::steady_clock::now() < deadline) {
            {
                std::lock_guard lock(m_mutex);
                if (m_received.size() >= count)
                    break;
            }
            std::this_thread::sleep_for(10ms);
        }
        std::this_thread::sleep_for(50ms); // anything beyond count would show too
        std::lock_guard lock(m_mutex);
        std::vector<Bytes> received;
        received.swap(m_received);
        return received;
    }

private:
    static int Process(jack_nframes_t frames, void* data) {
        auto* self = static_cast<JackSink*>(data);
        std::lock_guard lock(self->m_mutex);
        for (jack_port_t* port : self->m_ports) {
            if (port == nullptr)
                continue;
            void* buffer = jack_port_get_buffer(port, frames);
            const uint32_t count = jack_midi_get_event_count(buffer);
            for (uint32_t i = 0; i < count; ++i) {
                jack_midi_event_t event;
                if (jack_midi_event_get(&event, buffer, i) == 0)
                    self->m_received.emplace_back(event.buffer, event.buffer + event.size);
            }
        }
        return 0;
    }

    jack_client_t* m_client = nullptr;
    std::vector<jack_port_t*> m_ports;
    std::mutex m_mutex;
    std::vector<Bytes> m_received;
};

class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : m_name(name) {
        if (const char* old = getenv(name))
            m_old = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (m_old.empty())
            unsetenv(m_name);
        else
            setenv(m_name, m_old.c_str(), 1);
    }

private:
    const char* m_name;
    std::string m_old;
};

int32_t DeviceNumber(const std::vector<MidiDeviceInfo>& devices, const std::string& name) {
    for (const MidiDeviceInfo& d : devices)
        if (d.Name == name)
            return d.Number;
    return -100;
}

} // namespace

TEST(JackPorts, ClsMidiReachesAJackClientByItsPortName) {
    JackServer server;
    if (!server.Running())
        GTEST_SKIP() << "no JACK server for this test: " << server.Why();
    // RtMidi talks to the default server; make that ours for this test.
    ScopedEnv defaultServer("JACK_DEFAULT_SERVER", server.Name());
    JackSink sink(server.Name(), {"in", "spare"});
    ASSERT_TRUE(sink.Ok());

    // ALSA is asked too: without a sequencer it fails, and JACK must still show.
    SystemMidiOutput output;
    const std::vector<MidiDeviceInfo> devices = output.Devices();
    const int32_t number = DeviceNumber(devices, sink.PortName(0) + " (JACK)");
    ASSERT_GE(number, 1) << "the sink's port is not in the device list";
    ASSERT_GE(DeviceNumber(devices, sink.PortName(1) + " (JACK)"), 1);

    clsErrorHandler err;
    {
        clsMidi midi(output);
        midi.MyErr = &err;
        midi.SetDevice(number);
        midi.SetChannel(3);
        midi.SetInstrument(41);
        midi.OpenMIDI();
        midi.PlayNote(60, 100);
        midi.StopNote(60, 100);
        midi.SetInstrument(0);
        midi.PlayNote(72, 1);
        midi.StopNote(72, 1);
        // Closing right after the last note must not lose it.
        midi.CloseMIDI();
    }
    EXPECT_EQ(err.ErrorDetails(), "");
    const std::vector<Bytes> expected{{0xC2, 41}, {0x92, 60, 100}, {0x92, 60, 0},
                                      {0xC2, 0},  {0x92, 72, 1},   {0x92, 72, 0}};
    EXPECT_EQ(sink.Received(expected.size()), expected);

    // The default output is the system's first port; here that is the sink's
    // unless an ALSA sequencer offers ports of its own.
    if (devices.size() > 2 && devices[2].Name == sink.PortName(0) + " (JACK)") {
        uint32_t handle = 0;
        ASSERT_EQ(output.Open(-1, handle), 0) << output.LastError();
        output.ShortMsg(handle, 0x00407F9F);
        output.Close(handle);
        EXPECT_EQ(sink.Received(1), (std::vector<Bytes>{{0x9F, 0x7F, 0x40}}));
    }

    // A port that has gone cannot be opened by its old number.
    const int32_t spare = DeviceNumber(output.Devices(), sink.PortName(1) + " (JACK)");
    sink.Unregister(1);
    uint32_t handle = 0;
    EXPECT_NE(output.Open(spare, handle), 0);
    EXPECT_EQ(handle, 0u);
    EXPECT_FALSE(output.LastError().empty());
}

#else

TEST(JackPorts, ClsMidiReachesAJackClientByItsPortName) {
    GTEST_SKIP() << "built without the JACK headers (package libjack-jackd2-dev)";
}

#endif
