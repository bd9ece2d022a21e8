#include "platform/ShortMessage.h"

#include <gtest/gtest.h>

using namespace sonavel;

TEST(ShortMessage, UnpacksLowByteFirstAndKnowsItsLength) {
    struct Row {
        uint32_t packed;
        uint8_t status, data1, data2;
        int length;
    };
    const Row rows[] = {
        {0x00643C90, 0x90, 60, 100, 3},  // note on
        {0x00003C8F, 0x8F, 60, 0, 3},    // note off, channel 16
        {0x00004AA0, 0xA0, 74, 0, 3},    // key pressure
        {0x00075BB3, 0xB3, 91, 7, 3},    // controller
        {0x000029C2, 0xC2, 41, 0, 2},    // program change
        {0x000010D0, 0xD0, 16, 0, 2},    // channel pressure
        {0x007F7FE0, 0xE0, 127, 127, 3}, // pitch bend
        {0x000001F1, 0xF1, 1, 0, 2},     // time code quarter frame
        {0x000302F2, 0xF2, 2, 3, 3},     // song position
        {0x000005F3, 0xF3, 5, 0, 2},     // song select
        {0x000000F8, 0xF8, 0, 0, 1},     // clock
        {0x000000FF, 0xFF, 0, 0, 1},     // reset
        {0x000000F0, 0xF0, 0, 0, 0},     // system exclusive cannot be short
        {0x000000F7, 0xF7, 0, 0, 0},     {0x0000643C, 0x3C, 100, 0, 0}, // running status
        {0xFF643C90, 0x90, 60, 100, 3}, // the top byte is not part of it
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.packed);
        const ShortMessage m = ShortMessage::Unpack(row.packed);
        EXPECT_EQ(m.Status, row.status);
        EXPECT_EQ(m.Data1, row.data1);
        EXPECT_EQ(m.Data2, row.data2);
        EXPECT_EQ(m.Length(), row.length);
    }
    EXPECT_EQ(ShortMessage::Unpack(0x9F).WireChannel(), 15);
    EXPECT_EQ(ShortMessage::Unpack(0x9F).Kind(), 0x90);
}
