#include "midi/clsMidi.h"
#include "platform/SystemMidiOutput.h"
#include "startup/clsErrorHandler.h"

#include <gtest/gtest.h>

#if __has_include(<jack/jack.h>)

#include "JackServer.h"
#include "JackSink.h"
#include "ScopedEnv.h"

#include <string>
#include <vector>

using namespace sonavel;
using sonavel::fakes::JackServer;
using sonavel::fakes::JackSink;
using sonavel::fakes::ScopedEnv;

namespace {

using Bytes = JackSink::Bytes;

int32_t DeviceNumber(const std::vector<MidiDeviceInfo>& devices, const std::string& name) {
    for (const MidiDeviceInfo& d : devices)
        if (d.Name == name)
            return d.Number;
    return -100;
}

} // namespace

TEST(JackPorts, ClsMidiReachesAJackClientByItsPortName) {
    JackServer server;
    if (!server.Running())
        GTEST_SKIP() << "no JACK server for this test: " << server.Why();
    // RtMidi talks to the default server; make that ours for this test.
    ScopedEnv defaultServer("JACK_DEFAULT_SERVER", server.Name());
    JackSink sink(server, {"in", "spare"});
    ASSERT_TRUE(sink.Ok());

    // ALSA is asked too: without a sequencer it fails, and JACK must still show.
    SystemMidiOutput output;
    const std::vector<MidiDeviceInfo> devices = output.Devices();
    const int32_t number = DeviceNumber(devices, sink.PortName(0) + " (JACK)");
    ASSERT_GE(number, 1) << "the sink's port is not in the device list";
    ASSERT_GE(DeviceNumber(devices, sink.PortName(1) + " (JACK)"), 1);

    clsErrorHandler err;
    {
        clsMidi midi(output);
        midi.MyErr = &err;
        midi.SetDevice(number);
        midi.SetChannel(3);
        midi.SetInstrument(41);
        midi.OpenMIDI();
        midi.PlayNote(60, 100);
        midi.StopNote(60, 100);
        midi.SetInstrument(0);
        midi.PlayNote(72, 1);
        midi.StopNote(72, 1);
        // Closing right after the last note must not lose it.
        midi.CloseMIDI();
    }
    EXPECT_EQ(err.ErrorDetails(), "");
    const std::vector<Bytes> expected{{0xC2, 41}, {0x92, 60, 100}, {0x92, 60, 0},
                                      {0xC2, 0},  {0x92, 72, 1},   {0x92, 72, 0}};
    EXPECT_EQ(sink.Received(expected.size()), expected);

    // The default output is the system's first port; here that is the sink's
    // unless an ALSA sequencer offers ports of its own.
    if (devices.size() > 2 && devices[2].Name == sink.PortName(0) + " (JACK)") {
        uint32_t handle = 0;
        ASSERT_EQ(output.Open(-1, handle), 0) << output.LastError();
        output.ShortMsg(handle, 0x00407F9F);
        output.Close(handle);
        EXPECT_EQ(sink.Received(1), (std::vector<Bytes>{{0x9F, 0x7F, 0x40}}));
    }

    // A port that has gone cannot be opened by its old number.
    const int32_t spare = DeviceNumber(output.Devices(), sink.PortName(1) + " (JACK)");
    sink.Unregister(1);
    uint32_t handle = 0;
    EXPECT_NE(output.Open(spare, handle), 0);
    EXPECT_EQ(handle, 0u);
    EXPECT_FALSE(output.LastError().empty());
}

#else

TEST(JackPorts, ClsMidiReachesAJackClientByItsPortName) {
    GTEST_SKIP() << "built without the JACK headers (package libjack-jackd2-dev)";
}

#endif
