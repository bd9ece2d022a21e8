#include "platform/PulseStream.h"

#include "platform/ThreadPriority.h"

#include <algorithm>
#include <pulse/pulseaudio.h>
#include <pulse/rtclock.h>
#include <utility>

namespace sonavel {

namespace {

constexpr size_t FrameBytes = 2 * sizeof(float);

// Operations whose end nobody waits for; null when the stream has failed.
void Forget(pa_operation* operation) {
    if (operation != nullptr)
        pa_operation_unref(operation);
}

// The server keeps the buffer topped up to tlength and asks for more whenever
// requestFrames have played: rendered sound waits little before it is heard.
pa_buffer_attr BufferAttr(int frames, int requestFrames) {
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = static_cast<uint32_t>(frames) * FrameBytes;
    attr.prebuf = static_cast<uint32_t>(-1);
    attr.minreq = static_cast<uint32_t>(requestFrames) * FrameBytes;
    attr.fragsize = static_cast<uint32_t>(-1);
    return attr;
}

int64_t Now() {
    return static_cast<int64_t>(pa_rtclock_now()) * 1000;
}

} // namespace

PulseStream::PulseStream(Render render, const Options& options)
    : m_render(std::move(render)), m_options(options) {
    m_options.BufferFrames = std::max(m_options.BufferFrames, 64);
    m_askedFrames = m_options.BufferFrames;
}

std::unique_ptr<PulseStream> PulseStream::Open(const Options& options, Render render,
                                               std::string& error) {
    std::unique_ptr<PulseStream> stream(new PulseStream(std::move(render), options));
    if (!stream->Connect(options, error))
        return nullptr;
    return stream;
}

bool PulseStream::Connect(const Options& options, std::string& error) {
    m_loop = pa_threaded_mainloop_new();
    if (m_loop == nullptr) {
        error = "cannot make the sound server's event loop";
        return false;
    }
    m_context = pa_context_new(pa_threaded_mainloop_get_api(m_loop), options.ClientName.c_str());
    if (m_context == nullptr) {
        error = "cannot make a connection to the sound server";
        return false;
    }
    const auto onState = [](auto*, void* self) { static_cast<PulseStream*>(self)->WatchState(); };
    pa_context_set_state_callback(m_context, onState, this);
    // Never start a server: the user's session has one or does not.
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        error = pa_strerror(pa_context_errno(m_context));
        return false;
    }
    pa_threaded_mainloop_lock(m_loop);
    if (pa_threaded_mainloop_start(m_loop) < 0) {
        pa_threaded_mainloop_unlock(m_loop);
        error = "cannot start the sound server's event loop";
        return false;
    }

    // A server that hangs must not hang the program: give up at a deadline.
    struct Deadline {
        pa_threaded_mainloop* Loop;
        bool Passed = false;
    } deadline{m_loop};
    const auto onDeadline = [](pa_mainloop_api*, pa_time_event*, const timeval*, void* data) {
        auto* d = static_cast<Deadline*>(data);
        d->Passed = true;
        pa_threaded_mainloop_signal(d->Loop, 0);
    };
    pa_time_event* timer = pa_context_rttime_new(
        m_context, pa_rtclock_now() + pa_usec_t(options.ConnectTimeoutMs) * PA_USEC_PER_MSEC,
        onDeadline, &deadline);
    const auto wait = [&](auto ready, auto good) {
        while (!ready()) {
            if (!good()) {
                error = pa_strerror(pa_context_errno(m_context));
                return false;
            }
            if (deadline.Passed) {
                error = "the sound server did not answer within " +
                        std::to_string(options.ConnectTimeoutMs) + " ms";
                return false;
            }
            pa_threaded_mainloop_wait(m_loop);
        }
        return true;
    };

    bool ok = wait([&] { return pa_context_get_state(m_context) == PA_CONTEXT_READY; },
                   [&] { return PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context)); });
    if (ok) {
        const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, static_cast<uint32_t>(options.SampleRate),
                                    2};
        pa_channel_map map;
        pa_channel_map_init_stereo(&map);
        m_stream = pa_stream_new(m_context, options.StreamName.c_str(), &format, &map);
        if (m_stream == nullptr) {
            error = pa_strerror(pa_context_errno(m_context));
            ok = false;
        }
    }
    if (ok) {
        pa_stream_set_state_callback(m_stream, onState, this);
        pa_stream_set_write_callback(
            m_stream,
            [](pa_stream*, size_t bytes, void* self) {
                static_cast<PulseStream*>(self)->Write(bytes);
            },
            this);
        pa_stream_set_underflow_callback(
            m_stream,
            [](pa_stream*, void* self) {
                // Only sound that has started can run dry: a stream waiting for
                // its first fill (after a resume) is reported too.
                auto* stream = static_cast<PulseStream*>(self);
                if (!std::exchange(stream->m_playing, false))
                    return;
                stream->Grow();
            },
            this);
        pa_stream_set_started_callback(
            m_stream,
            [](pa_stream*, void* self) { static_cast<PulseStream*>(self)->m_playing = true; },
            this);
        const pa_buffer_attr attr = BufferAttr(m_askedFrames, m_askedFrames / 4);
        const auto flags =
            static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_START_CORKED);
        if (pa_stream_connect_playback(m_stream, nullptr, &attr, flags, nullptr, nullptr) < 0) {
            error = pa_strerror(pa_context_errno(m_context));
            ok = false;
        }
    }
    if (ok)
        ok = wait([&] { return pa_stream_get_state(m_stream) == PA_STREAM_READY; },
                  [&] { return PA_STREAM_IS_GOOD(pa_stream_get_state(m_stream)); });
    if (ok)
        ReadGrantedBuffer();
    if (timer != nullptr)
        pa_threaded_mainloop_get_api(m_loop)->time_free(timer);
    pa_threaded_mainloop_unlock(m_loop);
    return ok;
}

PulseStream::~PulseStream() {
    if (m_loop == nullptr)
        return;
    pa_threaded_mainloop_lock(m_loop);
    if (m_stream != nullptr) {
        pa_stream_set_write_callback(m_stream, nullptr, nullptr);
        pa_stream_set_state_callback(m_stream, nullptr, nullptr);
        pa_stream_set_underflow_callback(m_stream, nullptr, nullptr);
        pa_stream_set_started_callback(m_stream, nullptr, nullptr);
        pa_stream_disconnect(m_stream);
        pa_stream_unref(m_stream);
    }
    if (m_context != nullptr) {
        pa_context_set_state_callback(m_context, nullptr, nullptr);
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
    }
    pa_threaded_mainloop_unlock(m_loop);
    pa_threaded_mainloop_stop(m_loop);
    pa_threaded_mainloop_free(m_loop);
}

void PulseStream::WatchState() {
    const bool contextBad =
        m_context != nullptr && !PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context));
    const bool streamBad = m_stream != nullptr && !PA_STREAM_IS_GOOD(pa_stream_get_state(m_stream));
    if ((contextBad || streamBad) && !HasFailed()) {
        m_failure = std::string(contextBad ? "the sound server closed the connection"
                                           : "the sound server ended the stream") +
                    " (" + pa_strerror(pa_context_errno(m_context)) + ")";
        m_failed.store(true, std::memory_order_release);
    }
    pa_threaded_mainloop_signal(m_loop, 0);
}

void PulseStream::Write(size_t bytes) {
    if (!m_prioritySet) {
        // Ahead of the window and the desktop, so that a busy moment elsewhere
        // does not leave the sound server without sound.
        m_prioritySet = true;
        const std::string got = RaiseThreadPriority(RealtimePriority);
        if (m_options.OnPriority)
            m_options.OnPriority(got);
    }
    const size_t frames = bytes / FrameBytes;
    if (frames == 0)
        return;
    if (m_buffer.size() < frames * 2)
        m_buffer.resize(frames * 2);
    float* out = m_buffer.data();
    // Requests while paused (the first fill, one on its way at the pause)
    // get silence.
    if (m_paused) {
        std::fill(out, out + frames * 2, 0.0f);
    } else {
        m_render(out, static_cast<int>(frames));
        if (m_refilling)
            m_refilling = false;
        else if (static_cast<int>(frames) > m_largestRequest.load(std::memory_order_relaxed))
            m_largestRequest.store(static_cast<int>(frames), std::memory_order_release);
    }
    pa_stream_write(m_stream, out, frames * FrameBytes, nullptr, 0, PA_SEEK_RELATIVE);
}

void PulseStream::ReadGrantedBuffer() {
    const pa_buffer_attr* granted = pa_stream_get_buffer_attr(m_stream);
    if (granted == nullptr)
        return;
    m_bufferFrames.store(static_cast<int>(granted->tlength / FrameBytes),
                         std::memory_order_release);
    m_requestFrames.store(static_cast<int>(granted->minreq / FrameBytes),
                          std::memory_order_release);
}

void PulseStream::AskForBuffer(int frames) {
    m_askedFrames = frames;
    m_lastBufferChange = Now();
    // Small requests, as at the start; a server that adjusts its own
    // latency to the stream's may still ask in larger ones.
    const pa_buffer_attr attr = BufferAttr(frames, m_options.BufferFrames / 4);
    const auto granted = [](pa_stream*, int success, void* self) {
        if (success)
            static_cast<PulseStream*>(self)->ReadGrantedBuffer();
    };
    Forget(pa_stream_set_buffer_attr(m_stream, &attr, granted, this));
}

void PulseStream::Grow() {
    // The first fill after a resume is not sound running dry.
    if (m_paused || m_askedFrames >= m_options.MaxBufferFrames)
        return;
    const int before = m_askedFrames;
    AskForBuffer(std::min(before * 2, m_options.MaxBufferFrames));
    // The server asks at once for what the larger buffer lacks; that request
    // is not a sign of lateness.
    m_refilling = true;
    if (m_options.OnGrown)
        m_options.OnGrown(m_askedFrames - before);
}

void PulseStream::Pause() {
    pa_threaded_mainloop_lock(m_loop);
    m_paused = true;
    Forget(pa_stream_cork(m_stream, 1, nullptr, nullptr));
    pa_threaded_mainloop_unlock(m_loop);
}

void PulseStream::Resume() {
    pa_threaded_mainloop_lock(m_loop);
    // A run is the moment to change the buffer: nothing sounds yet.
    if (m_options.MaxBufferFrames > m_options.BufferFrames) {
        std::string why;
        const bool busy = m_options.Busy && m_options.Busy(why);
        if (busy && m_options.OnBusyStart)
            m_options.OnBusyStart(why);
        if (busy && m_askedFrames < m_options.MaxBufferFrames)
            AskForBuffer(m_options.MaxBufferFrames);
        else if (busy)
            m_lastBufferChange = Now(); // not steady yet
        else if (m_askedFrames > m_options.BufferFrames &&
                 Now() - m_lastBufferChange > int64_t{m_options.ShrinkAfterMs} * 1'000'000)
            AskForBuffer(std::max(m_askedFrames / 2, m_options.BufferFrames));
    }
    // The server still holds silence from before the pause. Dropping it
    // makes the stream start as a new one: the server waits until it has a
    // full buffer again, so it never starts short of sound, which would put a
    // gap after the first sound. The first request is that refill; the
    // requests after it come at the steady pace.
    m_playing = false;
    Forget(pa_stream_flush(m_stream, nullptr, nullptr));
    Forget(pa_stream_cork(m_stream, 0, nullptr, nullptr));
    m_paused = false;
    m_refilling = true;
    m_largestRequest.store(0, std::memory_order_release);
    pa_threaded_mainloop_unlock(m_loop);
}

bool PulseStream::IsPaused() const {
    pa_threaded_mainloop_lock(m_loop);
    const bool paused = m_paused;
    pa_threaded_mainloop_unlock(m_loop);
    return paused;
}

} // namespace sonavel
