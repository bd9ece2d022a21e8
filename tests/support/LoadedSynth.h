#pragma once

#include "platform/FluidSynthEngine.h"
#include "platform/FluidSynthOutput.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <memory>

namespace sonavel::fakes {

inline uint32_t Pack(int status, int data1, int data2) {
    return static_cast<uint32_t>(status | (data1 << 8) | (data2 << 16));
}

// Base of the tests that render the built-in synthesizer into memory: the
// system's General MIDI SoundFont is loaded once per suite, and every test
// starts from a reset synthesizer (default programs, no scheduled messages).
class LoadedSynth : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_output = std::make_unique<FluidSynthOutput>(); }
    static void TearDownTestSuite() { s_output.reset(); }

    void SetUp() override {
        ASSERT_TRUE(s_output->Load()) << s_output->LastError();
        engine = s_output->Engine();
        engine->DropScheduled();
        engine->Send(0xFF);
    }

    static inline std::unique_ptr<FluidSynthOutput> s_output;
    FluidSynthEngine* engine = nullptr;
};

} // namespace sonavel::fakes
