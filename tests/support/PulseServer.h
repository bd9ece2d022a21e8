#pragma once

#include "Spawn.h"
#include "TempDir.h"

#include <atomic>
#include <mutex>
#include <pulse/simple.h>
#include <utility>

namespace sonavel::fakes {

// A PulseAudio server of the test's own, whose only sink is a null sink: no
// sound card, and no clash with the user's server. Kill ends it as a crash
// would. A test that cannot have one skips with Why().
class PulseServer {
public:
    static constexpr int Rate = 48000;

    PulseServer() {
        // A sink that rewinds re-renders sound its monitor has already recorded
        // (when a stream starts or comes back after running dry), and the
        // recording then holds some of it twice.
        m_pid = StartServer(
            {"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
             "--use-pid-file=no", "-L",
             "module-null-sink sink_name=sonavel_test rate=48000 norewinds=1", "-L",
             "module-native-protocol-unix socket=" + (m_dir.Path / "native").string() +
                 " auth-anonymous=1"},
            {"XDG_RUNTIME_DIR=" + m_dir.Path.string(), "HOME=" + m_dir.Path.string()},
            m_dir.Path / "log", [this] { return std::filesystem::exists(m_dir.Path / "native"); },
            m_why);
    }
    ~PulseServer() { Kill(); }
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    bool Running() const { return m_pid != 0; }
    const std::string& Why() const { return m_why; }
    std::string Address() const {
        return "unix:" + (m_dir.Path / "native").string();
    } // PULSE_SERVER
    void Kill() { EndProcess(std::exchange(m_pid, 0), SIGKILL); }

private:
    TempDir m_dir{"sonavel-pulse"};
    pid_t m_pid = 0;
    std::string m_why;
};

// Records what a PulseServer's null sink plays, mono, from construction to
// Stop.
class MonitorRecorder {
public:
    explicit MonitorRecorder(const PulseServer& server) {
        const pa_sample_spec format{PA_SAMPLE_S16NE, PulseServer::Rate, 1};
        // Fragments of 20 ms keep the null sink running at a steady pace.
        const pa_buffer_attr attr{~0u, ~0u, ~0u, ~0u, 960 * 2};
        m_stream =
            pa_simple_new(server.Address().c_str(), "sonavel-test", PA_STREAM_RECORD,
                          "sonavel_test.monitor", "monitor", &format, nullptr, &attr, nullptr);
        if (m_stream != nullptr)
            m_thread = std::thread([this] {
                std::vector<int16_t> chunk(960);
                while (!m_stop && pa_simple_read(m_stream, chunk.data(), 1920, nullptr) >= 0) {
                    std::lock_guard lock(m_mutex);
                    for (int16_t s : chunk)
                        m_samples.push_back(static_cast<float>(s) / 32768.0f);
                    m_arrivals.push_back(std::chrono::steady_clock::now());
                }
            });
    }
    ~MonitorRecorder() { Stop(); }

    // Waits until the sink plays at the recorder's pace: ten chunks that came
    // one by one, not in a burst. An idle null sink renders seconds ahead and
    // sleeps meanwhile; a stream that starts then is heard only when it wakes.
    bool WaitFlowing() {
        for (int i = 0; i < 750 && m_stream != nullptr; ++i) {
            {
                std::lock_guard lock(m_mutex);
                const size_t n = m_arrivals.size();
                if (n >= 10 &&
                    m_arrivals[n - 1] - m_arrivals[n - 10] > std::chrono::milliseconds(150))
                    return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    void Stop() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_stream != nullptr)
            pa_simple_free(std::exchange(m_stream, nullptr));
    }
    // The samples so far, from -1 to 1.
    std::vector<float> Samples() const {
        std::lock_guard lock(m_mutex);
        return {m_samples.begin(), m_samples.end()};
    }

private:
    pa_simple* m_stream = nullptr;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    std::vector<float> m_samples;
    std::vector<std::chrono::steady_clock::time_point> m_arrivals;
    std::thread m_thread;
};

} // namespace sonavel::fakes
