#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

typedef struct pa_simple pa_simple;

namespace sonavel::fakes {

// A PulseAudio server of the test's own, whose only sink is a null sink: no
// sound card, and no clash with the user's server. Started in the constructor,
// ended by its process id in the destructor (or by Kill, as a crash would). A
// test that cannot have one skips with Why().
class PulseServer {
public:
    PulseServer();
    ~PulseServer();
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    bool Running() const { return m_why.empty(); }
    const std::string& Why() const { return m_why; }
    // For PULSE_SERVER: "unix:<socket>".
    std::string Address() const { return "unix:" + (m_dir / "native").string(); }
    void Kill();

    static constexpr int Rate = 48000;

private:
    std::filesystem::path m_dir;
    pid_t m_pid = 0;
    std::string m_why;
};

// Records what a PulseServer's null sink plays, mono, from construction to Stop.
class MonitorRecorder {
public:
    explicit MonitorRecorder(const PulseServer& server);
    ~MonitorRecorder() { Stop(); }
    MonitorRecorder(const MonitorRecorder&) = delete;
    MonitorRecorder& operator=(const MonitorRecorder&) = delete;

    // Waits until the sink plays at the recorder's pace. An idle null sink
    // renders seconds ahead and sleeps meanwhile; a stream that starts then
    // is heard only when the sink wakes.
    bool WaitFlowing();
    // The samples so far, from -1 to 1.
    std::vector<float> Samples() const;
    void Stop();

private:
    pa_simple* m_stream = nullptr;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    std::vector<int16_t> m_samples;
    std::vector<int64_t> m_arrivals; // steady nanoseconds of each chunk
    std::thread m_thread;
};

} // namespace sonavel::fakes
