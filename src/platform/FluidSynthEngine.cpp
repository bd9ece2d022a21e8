#include "platform/FluidSynthEngine.h"

#include "platform/FluidLogCapture.h"
#include "platform/ShortMessage.h"

#include <fluidsynth.h>
#include <memory>
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
    // Time of the sequencer is the synthesizer's sample clock, not the system's:
    // a message then lands on the same frame however late the audio driver
    // happens to render. Made before anything renders, so its tick 0 is frame 0.
    m_sequencer = new_fluid_sequencer2(0);
    if (m_sequencer != nullptr)
        m_synthClient = fluid_sequencer_register_fluidsynth(m_sequencer, m_synth);
    if (m_synthClient < 0) {
        if (m_sequencer != nullptr)
            delete_fluid_sequencer(m_sequencer);
        delete_fluid_synth(m_synth);
        delete_fluid_settings(m_settings);
        throw std::runtime_error("FluidSynth could not create a sequencer: " + log.Take());
    }
}

FluidSynthEngine::~FluidSynthEngine() {
    delete_fluid_sequencer(m_sequencer);
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
    // FluidSynth gives channel 10 the drum kit, whose samples take about 10 MB
    // with a GM SoundFont; the program change that comes before any note on a
    // channel loads what that channel needs.
    fluid_synth_unset_program(m_synth, DrumChannel);
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

void FluidSynthEngine::SendAt(uint32_t message, int64_t frame) {
    const ShortMessage m = ShortMessage::Unpack(message);
    const int channel = m.WireChannel();
    const std::unique_ptr<fluid_event_t, void (*)(fluid_event_t*)> event(new_fluid_event(),
                                                                         &delete_fluid_event);
    if (!event)
        return;
    switch (m.Kind()) {
    case 0x80:
        fluid_event_noteoff(event.get(), channel, m.Data1);
        break;
    case 0x90:
        // The sequencer orders a note off before a note on of the same block, but
        // only when it is one: a released note must not cut the chord after it.
        if (m.Data2 == 0)
            fluid_event_noteoff(event.get(), channel, m.Data1);
        else
            fluid_event_noteon(event.get(), channel, m.Data1, m.Data2);
        break;
    case 0xA0:
        fluid_event_key_pressure(event.get(), channel, m.Data1, m.Data2);
        break;
    case 0xB0:
        fluid_event_control_change(event.get(), channel, m.Data1, m.Data2);
        break;
    case 0xC0:
        fluid_event_program_change(event.get(), channel, m.Data1);
        break;
    case 0xD0:
        fluid_event_channel_pressure(event.get(), channel, m.Data1);
        break;
    case 0xE0:
        fluid_event_pitch_bend(event.get(), channel, (m.Data1 & 0x7F) | ((m.Data2 & 0x7F) << 7));
        break;
    default:
        if (m.Status != 0xFF)
            return;
        fluid_event_system_reset(event.get());
        break;
    }
    fluid_event_set_source(event.get(), -1);
    fluid_event_set_dest(event.get(), m_synthClient);
    // The sequencer counts whole milliseconds of the frames rendered before each
    // block, and the tick of a block's start releases the message exactly there
    // (a block is longer than a millisecond below 64 kHz). A voice started while
    // a block is prepared sounds from the next one, so release a block early.
    const int64_t wanted = frame <= 0 ? 0 : (frame + BlockFrames - 1) / BlockFrames;
    const int64_t block = wanted > 0 ? wanted - 1 : 0;
    const auto tick = static_cast<unsigned int>(
        static_cast<long>(1000.0 * static_cast<double>(block * BlockFrames) / m_sampleRate));
    fluid_sequencer_send_at(m_sequencer, event.get(), tick, 1);
}

void FluidSynthEngine::DropScheduled() {
    fluid_sequencer_remove_events(m_sequencer, -1, -1, -1);
}

void FluidSynthEngine::SoundsOff() {
    fluid_synth_all_sounds_off(m_synth, -1);
}

void FluidSynthEngine::Render(float* left, float* right, int frames) {
    fluid_synth_write_float(m_synth, frames, left, 0, 1, right, 0, 1);
    m_renderedFrames.fetch_add(frames, std::memory_order_release);
}

void FluidSynthEngine::RenderInterleaved(float* out, int frames) {
    fluid_synth_write_float(m_synth, frames, out, 0, 2, out, 1, 2);
    m_renderedFrames.fetch_add(frames, std::memory_order_release);
}

int FluidSynthEngine::Process(int frames, int effectCount, float* effects[], int outCount,
                              float* out[]) {
    int result = FLUID_FAILED;
    if (effectCount == 0 && outCount >= 2) {
        float* mixed[4] = {out[0], out[1], out[0], out[1]};
        result = fluid_synth_process(m_synth, frames, 4, mixed, outCount, out);
    } else {
        result = fluid_synth_process(m_synth, frames, effectCount, effects, outCount, out);
    }
    m_renderedFrames.fetch_add(frames, std::memory_order_release);
    return result;
}

int FluidSynthEngine::ActiveVoices() const {
    return fluid_synth_get_active_voice_count(m_synth);
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
