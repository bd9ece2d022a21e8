#pragma once

#include "RecordingMidiOutput.h"
#include "VirtualClock.h"
#include "engine/clsEngine.h"
#include "engine/modGeneral.h"
#include "settings/clsSettings.h"
#include "startup/clsErrorHandler.h"

#include <cstdint>
#include <functional>
#include <gtest/gtest.h>
#include <ostream>
#include <vector>

namespace sonavel::testing {

// One MIDI message as the tests spell it out, with the virtual time it is due.
struct Timed {
    int64_t TimeMs;
    uint32_t Packed;
    bool operator==(const Timed&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Timed& m) {
    return os << "{" << m.TimeMs << " ms: " << std::hex << (m.Packed & 0xFF) << " " << std::dec
              << ((m.Packed >> 8) & 0xFF) << " " << ((m.Packed >> 16) & 0xFF) << "}";
}

inline uint32_t Pack(int status, int data1, int data2) {
    return uint32_t(status) | uint32_t(data1) << 8 | uint32_t(data2) << 16;
}
inline uint32_t NoteOn(int channel, int note, int velocity) {
    return Pack(0x90 + channel - 1, note, velocity);
}
inline uint32_t NoteOff(int channel, int note) {
    return Pack(0x90 + channel - 1, note, 0);
}
inline uint32_t ProgramChange(int channel, int program) {
    return Pack(0xC0 + channel - 1, program, 0);
}

struct FeedbackEvent {
    int32_t Code;
    int64_t TimeMs;
    bool operator==(const FeedbackEvent&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const FeedbackEvent& e) {
    return os << "{code " << e.Code << " at " << e.TimeMs << " ms}";
}

// An engine on a virtual clock and a recording device, with the settings and
// error handler the window would give it. Every Feedback is recorded with its
// time; OnFeedback runs after the recording.
class EngineTest : public ::testing::Test {
protected:
    EngineTest() {
        SeedRandomNumbers(20240607);
        settings.MyErr = &err;
        engine.objSettings = &settings;
        engine.SetErrorHandler(&err);
        engine.Feedback = [this](int32_t& code) {
            feedback.push_back({code, clock.NowMs()});
            if (OnFeedback)
                OnFeedback(code);
        };
    }

    void TickOnly(int type, std::vector<int> intervals) {
        for (int i = 0; i < 13; ++i) {
            settings.SetAsc(i, false);
            settings.SetDesc(i, false);
            settings.SetHarm(i, false);
        }
        for (int i : intervals) {
            if (type == 0)
                settings.SetAsc(i, true);
            else if (type == 1)
                settings.SetDesc(i, true);
            else
                settings.SetHarm(i, true);
        }
    }

    std::vector<Timed> Recorded() const {
        std::vector<Timed> out;
        for (const auto& m : device.Messages)
            out.push_back({m.TimeMs, m.Packed});
        return out;
    }

    std::vector<int32_t> FeedbackCodes() const {
        std::vector<int32_t> codes;
        for (const auto& e : feedback)
            codes.push_back(e.Code);
        return codes;
    }

    void Forget() {
        device.Messages.clear();
        feedback.clear();
    }

    clsErrorHandler err;
    fakes::VirtualClock clock;
    fakes::RecordingMidiOutput device{&clock};
    clsSettings settings;
    clsEngine engine{device, clock};
    std::vector<FeedbackEvent> feedback;
    std::function<void(int32_t)> OnFeedback;
};

} // namespace sonavel::testing
