#pragma once

#include "platform/FluidSynthEngine.h"
#include "platform/ProcessorLoad.h"
#include "platform/PulseStream.h"
#include "platform/StreamTimeline.h"

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

typedef struct _fluid_audio_driver_t fluid_audio_driver_t;

namespace sonavel {

// The built-in synthesizer as a device: a FluidSynthEngine with a General MIDI
// SoundFont, found once and kept for the whole run, and an audio output that
// feeds the sound server while the device is open: a PulseAudio stream of the
// program's own where a PulseAudio or PipeWire server runs, else one of
// FluidSynth's audio drivers.
//
// Timing: each message is stamped when it arrives and played a fixed delay
// later on the synthesizer's sample clock (StreamTimeline ties the two clocks
// together), so the audio period, which would otherwise round every note to
// its next period, adds no jitter. Sending never waits for the sound server:
// the messages of an output that is still warming up are held and placed when
// it is ready. Drivers that cannot call back into the program (FluidSynth's
// file driver) play messages at once.
//
// Idle: after IdleStopMs (StreamIdleStopMs for the stream) without a message
// and with no voice sounding, the sound server is no longer fed, so that a window waiting for the
// user costs it and the processor nothing: the stream is paused, or FluidSynth's driver deleted.
// The next message resumes the stream within a millisecond, or makes the driver again, which needs
// a warm-up of its new stream.
class FluidSynthOutput {
public:
    // The name of the program's own PulseAudio stream among the audio outputs.
    static constexpr const char* StreamDriver = "pulseaudio-stream";

    struct Options {
        // Tried first, in order: the system's chosen GM SoundFont.
        std::vector<std::string> SoundFontFiles{"/usr/share/sounds/sf2/default-GM.sf2"};
        // Then these names in each folder, in order; then any .sf2 or .sf3 file
        // in the folders, by name.
        std::vector<std::string> SoundFontNames{"FluidR3_GM.sf2", "TimGM6mb.sf2"};
        std::vector<std::string> SoundFontFolders{"/usr/share/sounds/sf2", "/usr/share/sounds/sf3",
                                                  "/usr/share/soundfonts"};
        // The audio outputs, tried in order; the first that opens is used.
        // StreamDriver is the program's own PulseAudio stream, the others are
        // FluidSynth's audio drivers.
        std::vector<std::string> AudioDrivers{StreamDriver, "pipewire", "pulseaudio", "alsa",
                                              "jack"};
        // The latency asked of the sound server for the program's own stream,
        // in frames; the server splits it between its buffer for the stream
        // and the sink's. Smaller ran dry now and then on a busy machine.
        int StreamBufferFrames = 384;
        // How far it may grow when the stream runs dry on a busy machine:
        // about 32 ms at 48 kHz, under the 40 ms at which an ear hears the
        // sound lag the key press.
        int StreamMaxBufferFrames = 1536;
        // Whether the processors are contended as the stream starts a run: it
        // then starts with the largest buffer.
        std::function<bool(std::string& why)> Busy = &ProcessorIsBusy;
        // The stream's requests come at a steadier pace than FluidSynth's
        // driver calls, so its allowance is smaller.
        double StreamJitterAllowanceMs = 1.0;
        // Silence after which the stream pauses; 0 feeds it until Stop. It
        // resumes within a millisecond, so it can pause sooner than a driver.
        int StreamIdleStopMs = 250;
        // Where FluidSynth's "file" driver writes, when it is in the list.
        std::string AudioFile;
        FluidSynthEngine::Options Engine;
        // How much earlier than usual the audio driver may ask for sound before
        // the delay of every message has to grow. Part of that delay.
        double JitterAllowanceMs = 2.0;
        // How long a new driver's stream runs before messages are placed in
        // it: the sound server may drop or shift what a stream sends first.
        double WarmUpMs = 100.0;
        // A driver whose calls have not settled by then plays messages at once.
        int StallMs = 250;
        // Silence after which FluidSynth's driver is deleted; 0 feeds the
        // sound server until Stop. Making it again costs the warm-up; feeding
        // it wakes the program thousands of times a second.
        int IdleStopMs = 1000;
        // When not empty, every message is appended to this file as a line
        // "<arrival> <message in hex> <due>" when it arrives, both times in
        // CLOCK_MONOTONIC nanoseconds; lines starting with "#" say what the
        // audio output did (its thread's priority, a larger buffer).
        // Taken from the environment variable SONAVEL_TRACE_MIDI by default.
        std::string TraceFile = TraceFileFromEnvironment();
        // For tests: called on the audio thread before each render, to hold
        // it up as a busy machine would.
        std::function<void()> BeforeRender;
    };

    static std::string TraceFileFromEnvironment();

    FluidSynthOutput();
    explicit FluidSynthOutput(Options options);
    ~FluidSynthOutput();
    FluidSynthOutput(const FluidSynthOutput&) = delete;
    FluidSynthOutput& operator=(const FluidSynthOutput&) = delete;

    // Finds and loads the SoundFont unless that is done. Safe from any thread; a
    // caller that comes while another loads waits for it. A failed search is
    // made again at the next call.
    bool Load();
    bool IsLoaded() const;
    // Loads if needed and, when the program's own stream is the first audio
    // output, connects it to the sound server, paused, so that Start only
    // has to resume it. Safe from any thread.
    bool Prepare();
    // Loads if needed and starts feeding the sound server. Returns false with
    // the reason in LastError(); IsLoaded() then tells which step failed.
    bool Start();
    // Stops feeding the sound server and drops what is still to play; the
    // SoundFont stays loaded.
    void Stop();
    // True while the audio output feeds the sound server.
    bool IsRunning() const;
    // True while started but idle: the sound server is not fed until the next
    // message.
    bool IsSuspended() const;
    // The audio output that Start or Prepare opened, empty when none is open.
    std::string DriverName() const;
    // How long after its arrival a message sounds, in frames of the engine,
    // on top of the sound server's own latency, the warm-up of a new stream
    // included; 0 when messages play at once (not started, or a driver that
    // does not call back).
    int64_t DelayFrames() const;

    // While held, silence does not stop the driver; the idle time counts from
    // the release.
    void Hold(bool held);

    // Plays one packed short message DelayFrames after it is due: after
    // dueNanos (CLOCK_MONOTONIC) when that has passed, else after now. A
    // sender that woke late by less than the delay moves nothing. Wakes an
    // idle driver first, connecting a stream that lost its sound server while
    // idle again. Never waits for the sound server. Returns false, with the
    // reason in LastError() and the message not played, when there is nothing
    // to play through: the stream lost its sound server while it played (and
    // stays refused until Stop or Start), or an idle output could not be
    // opened again. Not started, it only keeps the synthesizer's state.
    bool Send(uint32_t message, int64_t dueNanos = 0);
    // True once the program's own stream has lost its sound server; Start
    // connects again.
    bool HasFailed() const;

    // "Built-in synthesizer (FluidR3_GM)": the SoundFont's file name, followed
    // through links, without its extension.
    std::string Name() const;
    std::string LastError() const;
    // The SoundFont files the search finds, best first.
    std::vector<std::string> FindSoundFonts() const;
    // Null until Load succeeded; the engine lives as long as this object.
    FluidSynthEngine* Engine() const;

private:
    bool LoadLocked();
    bool StartDriverLocked();
    bool ConnectStreamLocked(std::string& reason);
    bool OpenDriverLocked(const std::string& name, std::string& reason);
    void DeleteDriverLocked();
    void SuspendLocked();
    bool FeedingLocked() const;
    int IdleStopMsLocked() const;
    // The delay that puts a message beyond what an output may have rendered
    // ahead when it arrives, the allowance for early calls, and the block
    // before its own that the engine releases it in.
    int64_t DelayBeyond(int64_t renderedAhead, double allowanceMs) const;
    void WatchIdle();
    void Trace(int64_t nanos, uint32_t message, int64_t due);
    // A line "# <text>" in the trace: what the output did to keep its sound.
    void TraceNote(const std::string& text);
    std::string SearchedPlaces() const;
    static int Render(void* self, int frames, int effectCount, float* effects[], int outCount,
                      float* out[]);
    void RenderStream(float* out, int frames);

    const Options m_options;
    mutable std::mutex m_mutex;
    std::unique_ptr<FluidSynthEngine> m_engine;
    fluid_audio_driver_t* m_driver = nullptr;
    std::unique_ptr<PulseStream> m_stream; // instead of m_driver
    std::string m_driverName;
    std::string m_lastError;
    bool m_timed = false;     // the output calls back, so messages go on the sample clock
    bool m_suspended = false; // started, but not feeding the sound server for idleness
    bool m_holding = false;
    int64_t m_delayFrames = 0;
    int64_t m_lastActivity = 0; // monotonic nanoseconds of the last message or start
    int64_t m_runStart = 0;     // monotonic nanoseconds the output started or resumed
    std::unique_ptr<StreamTimeline> m_timeline;
    StreamTimeline::Sink m_play; // into the engine, at a frame or at once
    // Suspends the output once idle; sleeps without timeout while there is none.
    std::thread m_idleWatch;
    std::condition_variable m_idleWake;
    bool m_quit = false;
    std::FILE* m_trace = nullptr;
    std::mutex m_traceMutex;
};

} // namespace sonavel
