#include "platform/SystemMidiOutput.h"

#include <gtest/gtest.h>

using sonavel::DefaultPortIndex;

TEST(DefaultMidiOutput, SkipsThePassThroughPortUnlessItIsAllThereIs) {
    EXPECT_EQ(DefaultPortIndex({}), -1) << "no ports: the built-in synthesizer";
    EXPECT_EQ(DefaultPortIndex({"Midi Through:Midi Through Port-0 14:0",
                                "FLUID Synth (1234):Synth input port (1234:0) 128:0"}),
              1);
    EXPECT_EQ(DefaultPortIndex({"USB Keyboard:USB Keyboard MIDI 1 20:0",
                                "Midi Through:Midi Through Port-0 14:0"}),
              0);
    EXPECT_EQ(DefaultPortIndex({"Midi Through:Midi Through Port-0 14:0"}), 0);
}
