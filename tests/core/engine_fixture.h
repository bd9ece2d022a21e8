#pragma once

#include "RecordingMidiOutput.h"
#include "VirtualClock.h"
#include "engine/clsEngine.h"
#include "engine/modGeneral.h"
#include "settings/clsSettings.h"
#include "startup/clsErrorHandler.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

namespace sonavel::testing {

using Timed = fakes::RecordingMidiOutput::Message;

inline uint32_t Note(int channel, int note, int velocity) {
    return uint32_t(0x90 + channel - 1) | uint32_t(note) << 8 | uint32_t(velocity) << 16;
}

// An engine on a virtual clock and a recording device, wired as the window wires it.
class EngineTest : public ::testing::Test {
protected:
    EngineTest() {
        SeedRandomNumbers(20240607);
        settings.MyErr = &err;
        engine.objSettings = &settings;
        engine.SetErrorHandler(&err);
    }

    // Ticks only the given intervals: ascending, descending and harmonic ones.
    void Tick(const std::array<std::vector<int>, 3>& ticked) {
        for (int i = 0; i < 13; ++i) {
            settings.SetAsc(i, std::ranges::count(ticked[0], i) > 0);
            settings.SetDesc(i, std::ranges::count(ticked[1], i) > 0);
            settings.SetHarm(i, std::ranges::count(ticked[2], i) > 0);
        }
    }

    void Ask() {
        device.Messages.clear();
        engine.NewQuestion();
    }

    clsErrorHandler err;
    fakes::VirtualClock clock;
    fakes::RecordingMidiOutput device{&clock};
    clsSettings settings;
    clsEngine engine{device, clock};
};

} // namespace sonavel::testing
