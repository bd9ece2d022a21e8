// How quickly the built-in synthesizer opens: the first OpenMIDI (which loads
// the SoundFont), the opens after it, the open after a preload, and the
// memory the loaded SoundFont takes. Prints the figures.
#include "midi/clsMidi.h"
#include "platform/SystemMidiOutput.h"
#include "startup/clsErrorHandler.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace sonavel;
using WallClock = std::chrono::steady_clock;

namespace {

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

double Ms(WallClock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// Opens through clsMidi as the engine does; returns the milliseconds or -1.
double TimedOpen(clsMidi& midi, clsErrorHandler& err) {
    const auto start = WallClock::now();
    try {
        midi.OpenMIDI();
    } catch (...) {
        std::printf("  open failed:\n%s\n", err.ErrorDetails().c_str());
        return -1;
    }
    return Ms(WallClock::now() - start);
}

bool Run(const char* title, const SystemMidiOutput::Options& options) {
    std::printf("%s\n", title);
    const long before = ResidentKiB();
    SystemMidiOutput output(options);
    clsErrorHandler err;
    clsMidi midi(output);
    midi.MyErr = &err;
    midi.SetDevice(0);

    const double first = TimedOpen(midi, err);
    if (first < 0)
        return false;
    const long loaded = ResidentKiB();
    std::printf("  device: %s, audio driver: %s\n", output.Devices()[1].Name.c_str(),
                output.Synth().DriverName().c_str());
    std::printf("  first OpenMIDI (finds and loads the SoundFont): %.1f ms\n", first);
    midi.PlayNote(60, 100);
    midi.StopNote(60, 0);
    midi.CloseMIDI();

    std::vector<double> later;
    for (int i = 0; i < 20; ++i) {
        const double ms = TimedOpen(midi, err);
        if (ms < 0)
            return false;
        later.push_back(ms);
        midi.CloseMIDI();
    }
    std::sort(later.begin(), later.end());
    std::printf("  later OpenMIDI, 20 times: min %.2f ms, median %.2f ms, max %.2f ms\n",
                later.front(), later[later.size() / 2], later.back());
    std::printf("  resident memory: %ld KiB before, %ld KiB after the first open (+%ld KiB)\n",
                before, loaded, loaded - before);

    SystemMidiOutput preloaded(options);
    const auto preloadStart = WallClock::now();
    preloaded.PreloadSynth();
    const double preload = Ms(WallClock::now() - preloadStart);
    clsMidi second(preloaded);
    second.MyErr = &err;
    second.SetDevice(0);
    const double afterPreload = TimedOpen(second, err);
    std::printf("  PreloadSynth: %.1f ms, then the first OpenMIDI: %.2f ms\n", preload,
                afterPreload);
    return true;
}

} // namespace

int main() {
    if (Run("Built-in synthesizer with the system's audio outputs:", SystemMidiOutput::Options{}))
        return 0;
    // Without a sound server or sound card the figures are still worth having:
    // FluidSynth's file driver stands in for the audio output.
    const std::string file = (std::filesystem::temp_directory_path() /
                              ("sonavel-bench-" + std::to_string(getpid()) + ".wav"))
                                 .string();
    SystemMidiOutput::Options options;
    options.Synth.AudioDrivers = {"file"};
    options.Synth.AudioFile = file;
    const bool ok = Run("\nNo audio output here; again with FluidSynth's file driver:", options);
    std::filesystem::remove(file);
    return ok ? 0 : 1;
}
