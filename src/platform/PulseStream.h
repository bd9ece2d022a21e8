#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

typedef struct pa_threaded_mainloop pa_threaded_mainloop;
typedef struct pa_context pa_context;
typedef struct pa_stream pa_stream;

namespace sonavel {

// A playback stream of the PulseAudio sound server (or of PipeWire, which
// speaks the same protocol), fed from a callback on the stream's own thread.
//
// Unlike an audio driver that is made and deleted, the stream can be paused in
// silence (corked: the server stops asking for sound, and nothing in the
// program wakes) and resumed within a millisecond, on the same connection.
// The server's buffer is kept small and refilled in small requests, so that
// what is rendered sounds a few milliseconds later.
//
// On a busy machine that buffer may run dry. Like the sound servers' own
// clients, the stream then asks for a larger one, doubling it when the server
// reports an underrun; a run that starts while the processors are contended
// starts with the largest. It shrinks back a step at a time when a run starts
// on a quiet machine after a steady while.
class PulseStream {
public:
    // Renders frames of interleaved stereo (left, right) float samples into
    // out. Called on the stream's thread, once per request of the server.
    using Render = std::function<void(float* out, int frames)>;
    // Told on the stream's thread that the buffer asked for grew by
    // addedFrames after an underrun.
    using Grown = std::function<void(int addedFrames)>;

    struct Options {
        double SampleRate = 48000;
        // The latency asked of the server, in frames. It keeps part of it in
        // the sink and gives the stream a buffer of the rest (BufferFrames()).
        int BufferFrames = 256;
        // The most the buffer may grow to; no larger than BufferFrames, it
        // never grows.
        int MaxBufferFrames = 0;
        // A run that starts this long after the last change of the buffer
        // starts with it a step smaller, down to BufferFrames.
        int ShrinkAfterMs = 10000;
        // Whether the processors are contended as a run starts, and why.
        std::function<bool(std::string& why)> Busy;
        // Told, under the loop's lock, that a run starts with the largest
        // buffer because the processors are contended, and why.
        std::function<void(const std::string& why)> OnBusyStart;
        Grown OnGrown;
        // Told on the stream's thread, once, what priority it got (see
        // RaiseThreadPriority).
        std::function<void(const std::string&)> OnPriority;
        // How long to wait for the server before giving up.
        int ConnectTimeoutMs = 2000;
        std::string ClientName = "Sonavel";
        std::string StreamName = "Built-in synthesizer";
    };

    // Connects to the server and opens the stream, paused. Null with the
    // reason in error when the server cannot be reached or refuses the stream.
    static std::unique_ptr<PulseStream> Open(const Options& options, Render render,
                                             std::string& error);
    ~PulseStream();
    PulseStream(const PulseStream&) = delete;
    PulseStream& operator=(const PulseStream&) = delete;

    // Stops asking for sound. When it returns, render is not called again
    // until Resume.
    void Pause();
    // Drops what the server still holds and asks for sound again. Never waits
    // for the server.
    void Resume();
    bool IsPaused() const;
    // True once the connection or the stream has failed (the server went
    // away); a failed stream is silent for good.
    bool HasFailed() const { return m_failed.load(std::memory_order_acquire); }
    // Once HasFailed: what happened, in words for the user ("the sound server
    // closed the connection (Connection terminated)").
    std::string FailureReason() const { return HasFailed() ? m_failure : std::string(); }

    // The buffer the server granted, and the least it asks for at a time, in frames.
    int BufferFrames() const { return m_bufferFrames.load(std::memory_order_acquire); }
    int RequestFrames() const { return m_requestFrames.load(std::memory_order_acquire); }
    // The most the server has asked for at once since the last Resume, its
    // refill left out; 0 before it has asked. A server may ask in larger steps
    // than the least it grants (PipeWire asks a whole cycle of its graph at a
    // time), and a late request is larger too.
    int LargestRequestFrames() const { return m_largestRequest.load(std::memory_order_acquire); }

    // The stream thread's real-time priority, where the system grants one:
    // that of FluidSynth's audio threads.
    static constexpr int RealtimePriority = 60;

private:
    PulseStream(Render render, const Options& options);
    bool Connect(const Options& options, std::string& error);
    void Write(size_t bytes);
    void WatchState();
    // Asks the server for a buffer of frames; on the loop's thread or under its lock.
    void AskForBuffer(int frames);
    void Grow();
    void ReadGrantedBuffer();

    Render m_render;
    Options m_options;
    pa_threaded_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;
    pa_stream* m_stream = nullptr;
    std::vector<float> m_buffer;
    bool m_paused = true;       // guarded by the loop's lock
    bool m_prioritySet = false; // on the loop's thread only
    bool m_refilling = false;   // guarded by the loop's lock
    bool m_playing = false;     // the server plays the stream; guarded by the loop's lock
    std::atomic<int> m_largestRequest{0};
    std::atomic<bool> m_failed{false};
    std::string m_failure; // written once, on the loop's thread, before m_failed
    std::atomic<int> m_bufferFrames{0};
    std::atomic<int> m_requestFrames{0};
    int m_askedFrames = 0;          // guarded by the loop's lock
    int64_t m_lastBufferChange = 0; // monotonic nanoseconds, guarded by the loop's lock
};

} // namespace sonavel
