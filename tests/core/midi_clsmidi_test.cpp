#include "RecordingMidiOutput.h"
#include "midi/clsMidi.h"
#include "startup/AppError.h"
#include "startup/clsErrorHandler.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace sonavel;

namespace {

struct MidiFixture : ::testing::Test {
    fakes::RecordingMidiOutput device;
    clsErrorHandler err;
    clsMidi midi{device};
    MidiFixture() { midi.MyErr = &err; }

    std::vector<uint32_t> Sent() const {
        std::vector<uint32_t> values;
        for (const auto& m : device.Messages)
            values.push_back(m.Packed);
        return values;
    }
};

std::string Entry(const std::string& src, int code, const std::string& text) {
    return "Source: " + src + "\r\nCode  : " + std::to_string(code) + "\r\nString: " + text;
}

// Fails the test unless call raises the internal error.
void ExpectInternalError(const std::function<void()>& call) {
    try {
        call();
        ADD_FAILURE() << "expected the internal error";
    } catch (const AppError& e) {
        EXPECT_EQ(e.Code(), 9999);
        EXPECT_EQ(e.Text(), "Internal Error");
    }
}

} // namespace

TEST_F(MidiFixture, NotesArePackedStatusFirstOnTheWireChannel) {
    struct Row {
        const char* name;
        int32_t channel;
        bool play;
        int16_t nn;
        int16_t vel;
        uint32_t expected;
    };
    const Row rows[] = {
        {"note on, channel 1", 1, true, 60, 100, 0x00643C90},
        {"note off is velocity 0, channel 16", 16, false, 60, 100, 0x00003C9F},
        {"highest note and velocity", 10, true, 127, 127, 0x007F7F99},
        {"lowest note, silent velocity", 2, true, 0, 0, 0x00000091},
        {"velocity above a data byte is not checked", 1, true, 60, 200, 0x00C83C90},
    };
    midi.OpenMIDI();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        midi.SetChannel(row.channel);
        device.Messages.clear();
        if (row.play)
            midi.PlayNote(row.nn, row.vel);
        else
            midi.StopNote(row.nn, row.vel);
        ASSERT_EQ(device.Messages.size(), 1u);
        EXPECT_EQ(device.Messages[0].Packed, row.expected);
    }
}

TEST_F(MidiFixture, ProgramChangeIsSentOncePerInstrumentAndChannel) {
    midi.SetInstrument(41);
    midi.SetChannel(3);
    EXPECT_TRUE(device.Messages.empty()) << "setters on a closed device send nothing";

    midi.OpenMIDI();
    midi.OpenMIDI();
    EXPECT_EQ(Sent(), (std::vector<uint32_t>{0x000029C2})) << "two opens, one program change";
    EXPECT_EQ(device.Opens, 1);

    // While open, the setter sends at once and the next open sends again,
    // because the setter leaves the bookkeeping alone.
    midi.SetChannel(4);
    midi.OpenMIDI();
    EXPECT_EQ(Sent(), (std::vector<uint32_t>{0x000029C2, 0x000029C3, 0x000029C3}));

    // Changed while closed: only the open sends it.
    midi.CloseMIDI();
    midi.SetInstrument(0);
    midi.OpenMIDI();
    EXPECT_EQ(Sent().back(), 0x000000C3u);
    EXPECT_EQ(device.Messages.size(), 4u);
    midi.OpenMIDI();
    EXPECT_EQ(device.Messages.size(), 4u) << "nothing changed since the last open";
    EXPECT_EQ(err.ErrorDetails(), "");
}

TEST_F(MidiFixture, FirstOpenOfANewObjectSelectsInstrumentZeroToo) {
    midi.OpenMIDI();
    EXPECT_EQ(Sent(), (std::vector<uint32_t>{0x000000C0}));
}

TEST_F(MidiFixture, DeviceIsReadOnlyWhenOpening) {
    midi.SetDevice(3);
    midi.OpenMIDI();
    midi.SetDevice(5);
    midi.OpenMIDI();
    midi.CloseMIDI();
    midi.OpenMIDI();
    EXPECT_EQ(device.OpenedDevices, (std::vector<int32_t>{3, 5}));
}

TEST_F(MidiFixture, CloseOnlyWhenOpenAndOnDestruction) {
    midi.CloseMIDI();
    EXPECT_EQ(device.Closes, 0);
    {
        clsMidi other(device);
        other.OpenMIDI();
        EXPECT_TRUE(device.IsOpen());
    }
    EXPECT_EQ(device.Closes, 1);
    EXPECT_FALSE(device.IsOpen());
}

TEST_F(MidiFixture, SendingWhileClosedIsNotDetected) {
    midi.PlayNote(60, 100);
    midi.StopNote(60, 0);
    EXPECT_EQ(device.DroppedSends, 2);
    EXPECT_EQ(err.ErrorDetails(), "");
}

TEST_F(MidiFixture, OpenFailureLeavesTheObjectClosedAndSaysWhy) {
    struct Row {
        int32_t result;
        int reported;
    };
    // A result outside the 16-bit range keeps its low 16 bits.
    const Row rows[] = {{-3, -3}, {2, 2}, {70000, 4464}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.result);
        fakes::RecordingMidiOutput failing;
        failing.FailOpenWith = row.result;
        failing.FailReason = "No SoundFont was found.";
        clsErrorHandler handler;
        clsMidi m(failing);
        m.MyErr = &handler;
        ExpectInternalError([&] { m.OpenMIDI(); });
        EXPECT_FALSE(m.IsOpen());
        EXPECT_TRUE(failing.Messages.empty());
        EXPECT_EQ(handler.ErrorDetails(),
                  Entry("MidiOutput::Open()", row.reported, "No SoundFont was found.") +
                      "\r\n\r\n" +
                      Entry("clsMidi::Initialize()", row.reported, "Cannot open MIDI device."));
        m.PlayNote(60, 100);
        EXPECT_EQ(failing.DroppedSends, 1);
    }
}

// The device stays open between questions; one that went meanwhile is closed
// and reported, and the next open is a fresh device that needs its program.
TEST_F(MidiFixture, DeviceGoneWhileOpenIsClosedReportedAndOpenedAnew) {
    midi.SetInstrument(41);
    midi.SetChannel(3);
    midi.OpenMIDI();
    EXPECT_EQ(device.Reconnects, 0) << "a closed device is opened, not checked";
    midi.OpenMIDI();
    EXPECT_EQ(device.Reconnects, 1);
    EXPECT_EQ(Sent(), (std::vector<uint32_t>{0x000029C2}));

    device.FailReconnectWith = 4;
    device.FailReason = "The MIDI port \"synth:in\" is no longer there.";
    ExpectInternalError([&] { midi.OpenMIDI(); });
    EXPECT_FALSE(midi.IsOpen());
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(device.Closes, 1);
    EXPECT_EQ(
        err.ErrorDetails(),
        Entry("MidiOutput::Reconnect()", 4, "The MIDI port \"synth:in\" is no longer there.") +
            "\r\n\r\n" + Entry("clsMidi::Initialize()", 4, "Cannot open MIDI device."));

    device.FailReconnectWith = 0;
    midi.OpenMIDI();
    EXPECT_EQ(device.Opens, 2);
    EXPECT_EQ(Sent(), (std::vector<uint32_t>{0x000029C2, 0x000029C2}))
        << "the device opened anew is sent the program again";
    EXPECT_EQ(device.DroppedSends, 0);
}

TEST_F(MidiFixture, OpenFailureWithoutErrorHandlerRaisesTheDeviceError) {
    fakes::RecordingMidiOutput failing;
    failing.FailOpenWith = 6;
    clsMidi m(failing);
    try {
        m.OpenMIDI();
        FAIL() << "open must fail";
    } catch (const AppError& e) {
        EXPECT_EQ(e.Code(), 6);
        EXPECT_EQ(e.Text(), "Cannot open MIDI device.");
    }
}

TEST_F(MidiFixture, PackDwordMultipliesTheFirstDataByteIn16Bits) {
    struct Row {
        int16_t data2, data1, status;
        bool overflows;
        int32_t expected;
    };
    const Row rows[] = {
        {100, 60, 0x90, false, 0x00643C90},
        {0, 127, 0, false, 0x7F00},
        {0, 128, 0, true, 0},
        {0, -128, 0, false, -32768},
        {0, -129, 0, true, 0},
        {32767, 127, 32767, false, 2147483391 /* 2147418112 + 32512 + 32767 */},
        {-32768, -128, 0, true, 0},
        {-32768, 0, 0, false, -2147483647 - 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.data2) + "," + std::to_string(row.data1) + "," +
                     std::to_string(row.status));
        clsErrorHandler handler;
        midi.MyErr = &handler;
        if (row.overflows) {
            ExpectInternalError([&] { midi.PackDword(row.data2, row.data1, row.status); });
            EXPECT_EQ(handler.ErrorDetails().rfind("Source: clsMidi::PackDword()\r\nCode  : 6\r\n"
                                                   "String: Overflow (",
                                                   0),
                      0u)
                << handler.ErrorDetails();
        } else {
            EXPECT_EQ(midi.PackDword(row.data2, row.data1, row.status), row.expected);
            EXPECT_EQ(handler.ErrorDetails(), "");
        }
    }
    midi.MyErr = &err;
}

TEST_F(MidiFixture, OverflowOnTheWayUpLeavesOneEntryPerProcedure) {
    midi.OpenMIDI();
    device.Messages.clear();
    ExpectInternalError([&] { midi.PlayNote(128, 100); });
    EXPECT_TRUE(device.Messages.empty());
    const std::string details = err.ErrorDetails();
    const auto pack = details.find("Source: clsMidi::PackDword()\r\nCode  : 6\r\n");
    const auto execute =
        details.find(Entry("clsMidi::ExecuteMidiOutShortMsg()", 9999, "Internal Error"));
    const auto play = details.find(Entry("clsMidi::PlayNote()", 9999, "Internal Error"));
    ASSERT_NE(pack, std::string::npos) << details;
    ASSERT_NE(execute, std::string::npos) << details;
    ASSERT_NE(play, std::string::npos) << details;
    EXPECT_LT(pack, execute);
    EXPECT_LT(execute, play);
    EXPECT_EQ(details.substr(play), Entry("clsMidi::PlayNote()", 9999, "Internal Error"));

    // An instrument beyond the General MIDI range fails when it is sent.
    clsErrorHandler handler;
    midi.MyErr = &handler;
    ExpectInternalError([&] { midi.SetInstrument(128); });
    EXPECT_NE(handler.ErrorDetails().find("clsMidi::ExecuteMidiOutShortMsg()"), std::string::npos);
    EXPECT_TRUE(device.Messages.empty());
    midi.MyErr = &err;
}
