#pragma once

#include "platform/FluidSynthEngine.h"
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
// SoundFont, found once and kept for the whole run, and an audio driver that
// feeds the sound server while the device is open.
//
// Timing: each message is stamped when it arrives and played a fixed delay
// later on the synthesizer's sample clock (StreamTimeline ties the two clocks
// together), so the audio period, which would otherwise round every note to
// its next period, adds no jitter. Sending never waits for the sound server:
// the messages of a driver that is still warming up are held and placed when
// it is ready. Drivers that cannot call back into the program (FluidSynth's
// file driver) play messages at once.
//
// Idle: after IdleStopMs without a message and with no voice sounding, the
// audio driver is deleted, so that a window waiting for the user costs the
// sound server and the processor nothing; the next message makes it again.
class FluidSynthOutput {
public:
    struct Options {
        // Tried first, in order: the system's chosen GM SoundFont.
        std::vector<std::string> SoundFontFiles{"/usr/share/sounds/sf2/default-GM.sf2"};
        // Then these names in each folder, in order; then any .sf2 or .sf3 file
        // in the folders, by name.
        std::vector<std::string> SoundFontNames{"FluidR3_GM.sf2", "TimGM6mb.sf2"};
        std::vector<std::string> SoundFontFolders{"/usr/share/sounds/sf2", "/usr/share/sounds/sf3",
                                                  "/usr/share/soundfonts"};
        // FluidSynth's audio drivers, tried in order; the first that opens is used.
        std::vector<std::string> AudioDrivers{"pipewire", "pulseaudio", "alsa", "jack"};
        // Where FluidSynth's "file" driver writes, when it is in the list.
        std::string AudioFile;
        FluidSynthEngine::Options Engine;
        // How much earlier than usual the audio driver may ask for sound before
        // the delay of every message has to grow. Part of that delay.
        double JitterAllowanceMs = 2.0;
        // How long a new stream runs before messages are placed in it: the
        // sound server may drop or shift what a stream sends first.
        double WarmUpMs = 100.0;
        // A driver whose calls have not settled by then plays messages at once.
        int StallMs = 250;
        // Silence after which the sound server is no longer fed; 0 feeds it
        // until Stop. Starting it again takes a few milliseconds; feeding it
        // wakes the program thousands of times a second.
        int IdleStopMs = 1000;
        // When not empty, every message is appended to this file as a line
        // "<CLOCK_MONOTONIC nanoseconds> <message in hex>" when it arrives.
        // Taken from the environment variable SONAVEL_TRACE_MIDI by default.
        std::string TraceFile = TraceFileFromEnvironment();
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
    // Loads if needed and starts feeding the sound server. Returns false with
    // the reason in LastError(); IsLoaded() then tells which step failed.
    bool Start();
    // Stops feeding the sound server and drops what is still to play; the
    // SoundFont stays loaded.
    void Stop();
    // True while an audio driver feeds the sound server.
    bool IsRunning() const;
    // True while started but idle: no driver until the next message.
    bool IsSuspended() const;
    // The audio driver that Start opened, empty when stopped.
    std::string DriverName() const;
    // How long after its arrival a message sounds, in frames of the engine,
    // on top of the sound server's own latency, the warm-up of a new stream
    // included; 0 when messages play at once (not started, or a driver that
    // does not call back).
    int64_t DelayFrames() const;

    // While held, silence does not stop the driver; the idle time counts from
    // the release.
    void Hold(bool held);

    // Plays one packed short message, DelayFrames after now. Wakes an idle
    // driver first; the message is not lost if that fails. Never waits for
    // the sound server.
    void Send(uint32_t message);

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
    void DeleteDriverLocked();
    void WatchIdle();
    void Trace(int64_t nanos, uint32_t message);
    std::string SearchedPlaces() const;
    static int Render(void* self, int frames, int effectCount, float* effects[], int outCount,
                      float* out[]);

    const Options m_options;
    mutable std::mutex m_mutex;
    std::unique_ptr<FluidSynthEngine> m_engine;
    fluid_audio_driver_t* m_driver = nullptr;
    std::string m_driverName;
    std::string m_lastError;
    bool m_timed = false;     // the driver calls Render, so messages go on the sample clock
    bool m_suspended = false; // started, driver deleted for idleness
    bool m_holding = false;
    int64_t m_delayFrames = 0;
    int64_t m_lastActivity = 0; // monotonic nanoseconds of the last message or start
    int64_t m_runStart = 0;     // monotonic nanoseconds the driver was made
    std::unique_ptr<StreamTimeline> m_timeline;
    StreamTimeline::Sink m_play; // into the engine, at a frame or at once
    // Deletes the driver once idle; sleeps without timeout while there is none.
    std::thread m_idleWatch;
    std::condition_variable m_idleWake;
    bool m_quit = false;
    std::FILE* m_trace = nullptr;
    std::mutex m_traceMutex;
};

} // namespace sonavel
