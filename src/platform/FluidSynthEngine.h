#pragma once

#include <atomic>
#include <cstdint>
#include <string>

typedef struct _fluid_hashtable_t fluid_settings_t;
typedef struct _fluid_synth_t fluid_synth_t;
typedef struct _fluid_sequencer_t fluid_sequencer_t;

namespace sonavel {

// The FluidSynth synthesizer with one SoundFont and no audio output of its
// own: it plays short messages and renders on demand, so it can be heard
// through an audio driver (FluidSynthOutput) or rendered into memory.
// Messages play at once (Send) or at a frame of the rendered sound (SendAt),
// through FluidSynth's sequencer running on the synthesizer's sample clock.
// Thread-safe as FluidSynth's API is; render from one thread at a time.
class FluidSynthEngine {
public:
    struct Options {
        double SampleRate = 48000;
        // FluidSynth's own 0.2 peaks around 0.02-0.04 with a GM SoundFont: too quiet.
        double Gain = 0.6;
        // Frames per audio period and periods in the buffer; the library's 64 x 16
        // drops out on a busy two-core machine.
        int PeriodSize = 256;
        int Periods = 4;
    };

    FluidSynthEngine();
    // Throws std::runtime_error when FluidSynth cannot create a synthesizer.
    explicit FluidSynthEngine(const Options& options);
    ~FluidSynthEngine();
    FluidSynthEngine(const FluidSynthEngine&) = delete;
    FluidSynthEngine& operator=(const FluidSynthEngine&) = delete;

    // Loads the SoundFont and selects its presets, but none on the drum channel
    // (wire channel 9) until a program change asks for one. Returns false and
    // the reason in error when the file cannot be used; an engine holds one
    // SoundFont.
    bool LoadSoundFont(const std::string& path, std::string& error);
    bool HasSoundFont() const { return m_soundFontId >= 0; }
    const std::string& SoundFontPath() const { return m_soundFontPath; }

    // Plays one packed short message (status, data 1, data 2 from the low byte
    // up) at once. Messages FluidSynth has no use for are ignored.
    void Send(uint32_t message);
    // Plays one packed short message when the rendered sound reaches frame
    // (counted as RenderedFrames counts). FluidSynth starts and stops voices
    // only at the start of its blocks of BlockFrames frames, so the message
    // takes effect at the first block that starts at or after frame: a note
    // sounds from there. A frame too close to the rendered end for that means
    // as soon as possible. Messages for the same block keep their order, except
    // that note offs go before note ons.
    void SendAt(uint32_t message, int64_t frame);
    // Forgets every message that SendAt still holds.
    void DropScheduled();
    // Cuts every sounding voice without release.
    void SoundsOff();
    // Renders frames of stereo audio into the two buffers (each frames long).
    void Render(float* left, float* right, int frames);
    // Renders frames of interleaved stereo (left, right) into out.
    void RenderInterleaved(float* out, int frames);
    // Renders for an audio driver's callback (fluid_audio_func_t): frames of
    // sound into the driver's zeroed buffers, effects mixed into the dry ones
    // when the driver has no effect buffers.
    int Process(int frames, int effectCount, float* effects[], int outCount, float* out[]);
    // Frames rendered since the engine was made, by Render and Process together.
    int64_t RenderedFrames() const { return m_renderedFrames.load(std::memory_order_acquire); }
    // Voices sounding or dying away; 0 when the synthesizer is silent.
    int ActiveVoices() const;
    // The preset number selected on a wire channel (0..15), -1 if none.
    int Program(int channel) const;

    // FluidSynth renders and applies messages in blocks of this many frames.
    static constexpr int BlockFrames = 64;
    static constexpr int DrumChannel = 9;

    double SampleRate() const { return m_sampleRate; }
    fluid_settings_t* FluidSettings() const { return m_settings; }
    fluid_synth_t* Synth() const { return m_synth; }

private:
    fluid_settings_t* m_settings = nullptr;
    fluid_synth_t* m_synth = nullptr;
    fluid_sequencer_t* m_sequencer = nullptr;
    short m_synthClient = -1; // the synthesizer as the sequencer's destination
    std::atomic<int64_t> m_renderedFrames{0};
    int m_soundFontId = -1;
    std::string m_soundFontPath;
    double m_sampleRate = 0;
};

} // namespace sonavel
