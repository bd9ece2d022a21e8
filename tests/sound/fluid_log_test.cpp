#include "platform/FluidLogCapture.h"

#include <fluidsynth.h>
#include <gtest/gtest.h>

using sonavel::FluidLogCapture;

TEST(FluidLogCapture, CollectsEachReasonOnceAndForgetsWhatWasTaken) {
    FluidLogCapture log;
    fluid_log(FLUID_ERR, "Failed to connect to server");
    fluid_log(FLUID_INFO, "Trying the next driver");
    fluid_log(FLUID_ERR, "Failed to connect to server");
    fluid_log(FLUID_WARN, "Using the default period");
    EXPECT_EQ(log.Take(), "Failed to connect to server; Using the default period");
    EXPECT_EQ(log.Take(), "");
    fluid_log(FLUID_ERR, "Failed to connect to server");
    EXPECT_EQ(log.Take(), "Failed to connect to server");
}
