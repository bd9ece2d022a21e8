#pragma once

#include <cstdint>
#include <string>

typedef struct _fluid_hashtable_t fluid_settings_t;
typedef struct _fluid_synth_t fluid_synth_t;

namespace sonavel {

// The FluidSynth synthesizer with one SoundFont and no audio output of its
// own: it plays short messages and renders on demand, so it can be heard
// through an audio driver (FluidSynthOutput) or rendered into memory.
// Thread-safe as FluidSynth's API is.
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

    // Loads the SoundFont and selects its presets. Returns false and the reason
    // in error when the file cannot be used; an engine holds one SoundFont.
    bool LoadSoundFont(const std::string& path, std::string& error);
    bool HasSoundFont() const { return m_soundFontId >= 0; }
    const std::string& SoundFontPath() const { return m_soundFontPath; }

    // Plays one packed short message (status, data 1, data 2 from the low byte
    // up) at once. Messages FluidSynth has no use for are ignored.
    void Send(uint32_t message);
    // Cuts every sounding voice without release.
    void SoundsOff();
    // Renders frames of stereo audio into the two buffers (each frames long).
    void Render(float* left, float* right, int frames);
    // The preset number selected on a wire channel (0..15), -1 if none.
    int Program(int channel) const;

    double SampleRate() const { return m_sampleRate; }
    fluid_settings_t* FluidSettings() const { return m_settings; }
    fluid_synth_t* Synth() const { return m_synth; }

private:
    fluid_settings_t* m_settings = nullptr;
    fluid_synth_t* m_synth = nullptr;
    int m_soundFontId = -1;
    std::string m_soundFontPath;
    double m_sampleRate = 0;
};

} // namespace sonavel
