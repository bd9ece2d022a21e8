#pragma once

#if __has_include(<pulse/simple.h>)

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
// ended by its process id in the destructor (or by Kill, to take it away from
// its clients). A test that cannot have one skips with Why().
class PulseServer {
public:
    PulseServer();
    ~PulseServer();
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    bool Running() const { return m_why.empty(); }
    const std::string& Why() const { return m_why; }
    // For PULSE_SERVER: "unix:<socket>".
    std::string Address() const;
    // The null sink's monitor, which records what the sink plays.
    static constexpr const char* Monitor = "sonavel_test.monitor";
    static constexpr int Rate = 48000;

    // Ends the server at once, as a crash would.
    void Kill();

private:
    std::filesystem::path m_dir;
    pid_t m_pid = 0;
    std::string m_why;
};

// Records a PulseServer's monitor, mono, from construction to Stop.
class MonitorRecorder {
public:
    explicit MonitorRecorder(const PulseServer& server);
    ~MonitorRecorder();
    MonitorRecorder(const MonitorRecorder&) = delete;
    MonitorRecorder& operator=(const MonitorRecorder&) = delete;

    bool Recording() const { return m_stream != nullptr; }
    // Waits until the sink runs at the recorder's pace. An idle null sink
    // sleeps in blocks of seconds and would hold up a stream meanwhile.
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

#endif
