#include "LoadedSynth.h"
#include "Pitch.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

using namespace sonavel;
using fakes::Cents;
using fakes::EstimatePitch;

namespace {

double Rms(const std::vector<float>& signal, size_t start, size_t length) {
    double sum = 0;
    for (size_t i = start; i < start + length && i < signal.size(); ++i)
        sum += double{signal[i]} * signal[i];
    return std::sqrt(sum / static_cast<double>(length));
}

float Peak(const std::vector<float>& signal, size_t start) {
    float peak = 0;
    for (size_t i = start; i < signal.size(); ++i)
        peak = std::max(peak, std::fabs(signal[i]));
    return peak;
}

// The synthesizer with the system's General MIDI SoundFont, rendered into
// memory instead of a sound card. Loaded once for all cases.
class SynthRender : public fakes::LoadedSynth {
protected:
    // Left and right mixed, seconds long.
    std::vector<float> Render(double seconds) {
        const int frames = static_cast<int>(seconds * engine->SampleRate());
        std::vector<float> left(frames), right(frames), mono(frames);
        engine->Render(left.data(), right.data(), frames);
        for (int i = 0; i < frames; ++i)
            mono[i] = 0.5f * (left[i] + right[i]);
        return mono;
    }

    size_t At(double seconds) const { return static_cast<size_t>(seconds * engine->SampleRate()); }
};

} // namespace

TEST_F(SynthRender, NotesSoundAtTheirPitch) {
    struct Row {
        const char* name;
        int channel;
        int program;
        int note;
        int bend; // 14-bit, 8192 is none; the default range is two semitones
        double hertz;
    };
    // The clarinet: FluidR3's piano, organ and flute layers are detuned by up to
    // 20 cents on purpose (chorus, stretched tuning), its clarinet is not.
    const Row rows[] = {
        {"A4", 0, 71, 69, 8192, 440.0},
        {"middle C", 0, 71, 60, 8192, 261.626},
        {"A3 on channel 5", 4, 71, 57, 8192, 220.0},
        {"A5 on channel 16", 15, 71, 81, 8192, 880.0},
        {"middle C bent down a semitone", 2, 71, 60, 4096, 246.942},
        {"A4 bent up a semitone", 3, 71, 69, 12288, 466.164},
        {"A4 bent to the top", 3, 71, 69, 16383, 493.869},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        engine->Send(Pack(0xC0 | row.channel, row.program, 0));
        engine->Send(Pack(0xE0 | row.channel, row.bend & 0x7F, row.bend >> 7));
        engine->Send(Pack(0x90 | row.channel, row.note, 100));
        const std::vector<float> sound = Render(0.6);
        engine->Send(Pack(0x90 | row.channel, row.note, 0));
        engine->SoundsOff();
        Render(0.05);
        EXPECT_GT(Rms(sound, At(0.3), At(0.1)), 0.01) << "the note is heard";
        const double pitch = EstimatePitch(sound, At(0.3), 4096, engine->SampleRate());
        EXPECT_NEAR(Cents(pitch, row.hertz), 0.0, 5.0) << "heard " << pitch << " Hz";
    }
}

TEST_F(SynthRender, NoteOffEndsTheSoundAfterItsRelease) {
    struct Row {
        const char* name;
        uint32_t off;
    };
    const Row rows[] = {
        {"note on with velocity 0", Pack(0x90, 60, 0)},
        {"note off", Pack(0x80, 60, 64)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        engine->Send(Pack(0x90, 60, 100));
        const std::vector<float> held = Render(0.5);
        engine->Send(row.off);
        const std::vector<float> after = Render(3.0);
        EXPECT_GT(Rms(held, At(0.2), At(0.2)), 0.01);
        EXPECT_LT(Peak(after, At(2.5)), 1e-4f) << "still sounding long after the note off";
    }
    // A note that is never released keeps sounding: the silence above is the note off's.
    engine->Send(Pack(0xC0, 19, 0));
    engine->Send(Pack(0x90, 60, 100));
    const std::vector<float> held = Render(3.0);
    EXPECT_GT(Rms(held, At(2.5), At(0.5)), 0.01);
}

TEST_F(SynthRender, ProgramChangesReachTheSynthOnTheirChannel) {
    engine->Send(Pack(0xC0, 19, 0)); // church organ on channel 1
    engine->Send(Pack(0xC5, 40, 0)); // violin on channel 6
    EXPECT_EQ(engine->Program(0), 19);
    EXPECT_EQ(engine->Program(5), 40);
    EXPECT_EQ(engine->Program(1), 0) << "other channels keep the piano";

    // And they change the sound: the organ holds its level, the piano dies away.
    const auto sustain = [&](int program) {
        engine->Send(Pack(0xC2, program, 0));
        engine->Send(Pack(0x92, 57, 100));
        const std::vector<float> sound = Render(4.0);
        engine->Send(Pack(0x92, 57, 0));
        engine->SoundsOff();
        return Rms(sound, At(3.5), At(0.5)) / Rms(sound, At(0.2), At(0.5));
    };
    const double organ = sustain(19);
    const double piano = sustain(0);
    EXPECT_GT(organ, 0.7);
    EXPECT_LT(piano, 0.5);
}

TEST_F(SynthRender, ControllersAndOtherMessagesAreHarmless) {
    const uint32_t messages[] = {
        Pack(0xB0, 7, 100),   // volume
        Pack(0xB0, 64, 127),  // sustain pedal
        Pack(0xA0, 60, 50),   // key pressure
        Pack(0xD0, 40, 0),    // channel pressure
        Pack(0xF8, 0, 0),     // clock
        Pack(0x3C, 100, 0),   // a data byte where the status belongs
        Pack(0x90, 200, 200), // data bytes out of range
        Pack(0xD0, 0, 0),     // pressure adds vibrato: take it back before measuring
    };
    for (uint32_t message : messages)
        engine->Send(message);
    engine->Send(Pack(0xC0, 71, 0));
    engine->Send(Pack(0x90, 69, 100));
    const std::vector<float> sound = Render(0.6);
    EXPECT_NEAR(Cents(EstimatePitch(sound, At(0.3), 4096, engine->SampleRate()), 440.0), 0.0, 5.0);
    // The sustain pedal holds the note past its note off until the pedal lifts.
    engine->Send(Pack(0x90, 69, 0));
    const std::vector<float> pedal = Render(0.5);
    EXPECT_GT(Rms(pedal, At(0.3), At(0.2)), 0.005);
    engine->Send(Pack(0xB0, 64, 0));
    const std::vector<float> lifted = Render(3.0);
    EXPECT_LT(Peak(lifted, At(2.5)), 1e-4f);
}
