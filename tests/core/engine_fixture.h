#pragma once

#include "RecordingMidiOutput.h"
#include "VirtualClock.h"
#include "engine/clsEngine.h"
#include "engine/modGeneral.h"
#include "settings/clsSettings.h"
#include "startup/clsErrorHandler.h"

#include <algorithm>
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

    // Ticks only the given intervals of one type (0 ascending, 1 descending, 2 harmonic).
    void TickOnly(int type, std::vector<int> intervals) {
        for (int i = 0; i < 13; ++i) {
            const bool on = std::ranges::count(intervals, i) > 0;
            settings.SetAsc(i, on && type == 0);
            settings.SetDesc(i, on && type == 1);
            settings.SetHarm(i, on && type == 2);
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
