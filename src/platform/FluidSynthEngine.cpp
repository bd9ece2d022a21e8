#include "platform/FluidSynthEngine.h"

#include "platform/FluidLogCapture.h"
#include "platform/ShortMessage.h"

#include <fluidsynth.h>
#include <stdexcept>

namespace sonavel {

FluidSynthEngine::FluidSynthEngine() : FluidSynthEngine(Options{}) {}

FluidSynthEngine::FluidSynthEngine(const Options& options) : m_sampleRate(options.SampleRate) {
    FluidLogCapture log;
    m_settings = new_fluid_settings();
    if (m_settings == nullptr)
        throw std::runtime_error("FluidSynth could not create its settings.");
    fluid_settings_setnum(m_settings, "synth.sample-rate", options.SampleRate);
    fluid_settings_setnum(m_settings, "synth.gain", options.Gain);
    // Loads only the samples of the presets in use: a GM SoundFont then takes
    // about a quarter of the memory and loads several times faster.
    fluid_settings_setint(m_settings, "synth.dynamic-sample-loading", 1);
    fluid_settings_setint(m_settings, "audio.period-size", options.PeriodSize);
    fluid_settings_setint(m_settings, "audio.periods", options.Periods);
    m_synth = new_fluid_synth(m_settings);
    if (m_synth == nullptr) {
        delete_fluid_settings(m_settings);
        throw std::runtime_error("FluidSynth could not create a synthesizer: " + log.Take());
    }
}

FluidSynthEngine::~FluidSynthEngine() {
    delete_fluid_synth(m_synth);
    delete_fluid_settings(m_settings);
}

bool FluidSynthEngine::LoadSoundFont(const std::string& path, std::string& error) {
    if (HasSoundFont()) {
        error = "a SoundFont is already loaded";
        return false;
    }
    FluidLogCapture log;
    const int id = fluid_synth_sfload(m_synth, path.c_str(), 1);
    if (id == FLUID_FAILED) {
        error = log.Take();
        if (error.empty())
            error = "FluidSynth could not load it";
        return false;
    }
    m_soundFontId = id;
    m_soundFontPath = path;
    return true;
}

void FluidSynthEngine::Send(uint32_t message) {
    const ShortMessage m = ShortMessage::Unpack(message);
    const int channel = m.WireChannel();
    switch (m.Kind()) {
    case 0x80:
        fluid_synth_noteoff(m_synth, channel, m.Data1);
        break;
    case 0x90: // velocity 0 is a note off; FluidSynth knows
        fluid_synth_noteon(m_synth, channel, m.Data1, m.Data2);
        break;
    case 0xA0:
        fluid_synth_key_pressure(m_synth, channel, m.Data1, m.Data2);
        break;
    case 0xB0:
        fluid_synth_cc(m_synth, channel, m.Data1, m.Data2);
        break;
    case 0xC0:
        fluid_synth_program_change(m_synth, channel, m.Data1);
        break;
    case 0xD0:
        fluid_synth_channel_pressure(m_synth, channel, m.Data1);
        break;
    case 0xE0:
        fluid_synth_pitch_bend(m_synth, channel, (m.Data1 & 0x7F) | ((m.Data2 & 0x7F) << 7));
        break;
    default:
        if (m.Status == 0xFF)
            fluid_synth_system_reset(m_synth);
        break;
    }
}

void FluidSynthEngine::SoundsOff() {
    fluid_synth_all_sounds_off(m_synth, -1);
}

void FluidSynthEngine::Render(float* left, float* right, int frames) {
    fluid_synth_write_float(m_synth, frames, left, 0, 1, right, 0, 1);
}

int FluidSynthEngine::Program(int channel) const {
    int soundFont = 0;
    int bank = 0;
    int preset = 0;
    if (fluid_synth_get_program(m_synth, channel, &soundFont, &bank, &preset) != FLUID_OK)
        return -1;
    return preset;
}

} // namespace sonavel
