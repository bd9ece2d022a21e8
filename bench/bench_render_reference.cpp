// Renders MIDI messages with the built-in synthesizer at exact frames, with no
// audio driver in between: the reference that bench/measure.py compares a
// recording of the live program with, so that what its onset detector makes
// of each chord's attack is measured away.
//
//   bench_render_reference SOUNDFONT OUT.raw < MESSAGES
//
// MESSAGES: one "<frame> <packed message in hex>" a line, frames at 48 kHz.
// OUT.raw: mono 16-bit little-endian samples from frame 0 to two seconds after
// the last message.
#include "platform/FluidSynthEngine.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SOUNDFONT OUT.raw < MESSAGES\n", argv[0]);
        return 2;
    }
    sonavel::FluidSynthEngine engine;
    std::string error;
    if (!engine.LoadSoundFont(argv[1], error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    int64_t last = 0;
    int64_t frame = 0;
    std::string hex;
    while (std::cin >> frame >> hex) {
        engine.SendAt(static_cast<uint32_t>(std::stoul(hex, nullptr, 16)), frame);
        last = std::max(last, frame);
    }
    std::FILE* out = std::fopen(argv[2], "wb");
    if (!out) {
        std::perror(argv[2]);
        return 1;
    }
    const int64_t total = last + 2 * static_cast<int64_t>(engine.SampleRate());
    constexpr int Block = 1024;
    std::vector<float> left(Block), right(Block);
    std::vector<int16_t> mono(Block);
    for (int64_t done = 0; done < total; done += Block) {
        engine.Render(left.data(), right.data(), Block);
        for (int i = 0; i < Block; ++i) {
            const float v = std::clamp((left[i] + right[i]) * 0.5f, -1.0f, 1.0f);
            mono[i] = static_cast<int16_t>(std::lround(v * 32767.0f));
        }
        std::fwrite(mono.data(), sizeof(int16_t), mono.size(), out);
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
