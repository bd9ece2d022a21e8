#pragma once

#include "Spawn.h"
#include "TempDir.h"

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
    ~PulseServer() { Kill(); } // not copied: its TempDir is not

    bool Running() const { return m_pid != 0; }
    const std::string& Why() const { return m_why; }
    // For PULSE_SERVER.
    std::string Address() const { return "unix:" + (m_dir.Path / "native").string(); }
    void Kill() { EndProcess(std::exchange(m_pid, 0), SIGKILL); }

private:
    TempDir m_dir{"sonavel-pulse"};
    pid_t m_pid = 0;
    std::string m_why;
};

// Records what a PulseServer's null sink plays, mono, from construction to
// Stop, with parec (package pulseaudio-utils).
class MonitorRecorder {
public:
    explicit MonitorRecorder(const PulseServer& server) {
        // Fragments of 20 ms keep the null sink running at a steady pace.
        m_pid = StartServer(
            {"parec", "--server=" + server.Address(), "--device=sonavel_test.monitor", "--raw",
             "--format=float32ne", "--rate=48000", "--channels=1", "--latency-msec=20",
             m_file.string()},
            {}, m_dir.Path / "parec.log", [] { return true; }, m_why);
    }
    ~MonitorRecorder() { Stop(); }

    // Waits until the sink plays at the recorder's pace: 200 ms of sound
    // recorded in every 200 ms, ten times over, not in a burst. An idle null
    // sink renders seconds ahead and sleeps meanwhile; a stream that starts
    // then is heard only when it wakes.
    bool WaitFlowing() {
        std::vector<uintmax_t> sizes;
        for (int steady = 0; m_pid != 0 && sizes.size() < 750;
             std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
            sizes.push_back(std::filesystem::exists(m_file) ? std::filesystem::file_size(m_file)
                                                            : 0);
            const uintmax_t grown = sizes.size() > 10 ? sizes.back() - sizes[sizes.size() - 11] : 0;
            steady = grown > 19200 && grown < 57600 ? steady + 1 : 0;
            if (steady == 10)
                return true;
        }
        return false;
    }
    void Stop() { EndProcess(std::exchange(m_pid, 0), SIGTERM); }
    // The samples so far, from -1 to 1.
    std::vector<float> Samples() const {
        std::ifstream in(m_file, std::ios::binary);
        std::vector<float> samples(std::filesystem::file_size(m_file) / sizeof(float));
        in.read(reinterpret_cast<char*>(samples.data()), samples.size() * sizeof(float));
        return samples;
    }

private:
    TempDir m_dir{"sonavel-record"};
    std::filesystem::path m_file = m_dir.Path / "monitor.raw";
    pid_t m_pid = 0;
    std::string m_why;
};

} // namespace sonavel::fakes
