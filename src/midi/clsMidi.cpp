#include "midi/clsMidi.h"

#include "platform/Clock.h"
#include "platform/MidiOutput.h"
#include "startup/AppError.h"
#include "startup/clsErrorHandler.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <stdexcept>
#include <string>

namespace sonavel {

namespace {

// The properties are 32-bit but messages are built from 16-bit values; a value
// that does not fit is an overflow, not a silently wrapped byte.
int16_t Narrow16(int32_t value) {
    if (value > std::numeric_limits<int16_t>::max() || value < std::numeric_limits<int16_t>::min())
        throw std::overflow_error(std::to_string(value) + " does not fit in 16 bits");
    return static_cast<int16_t>(value);
}

} // namespace

clsMidi::clsMidi(MidiOutput& output) : m_output(output) {}

clsMidi::~clsMidi() {
    try {
        CloseMIDI();
    } catch (...) {
        // The report entry is already pending; a destructor has nobody to tell.
    }
}

void clsMidi::SetInstrument(int32_t value) {
    m_instrument = value;
    if (m_hMidiOut != 0)
        SendProgramChange();
}

void clsMidi::SetChannel(int32_t value) {
    m_channel = value;
    if (m_hMidiOut != 0)
        SendProgramChange();
}

void clsMidi::OpenMIDI() {
    try {
        if (m_hMidiOut != 0) {
            // The device has been open since an earlier question; a port of
            // another program may have gone meanwhile.
            const int32_t result = m_output.Reconnect(m_hMidiOut);
            if (result != 0) {
                const std::string reason = m_output.LastError();
                CloseMIDI();
                FailToOpen("MidiOutput::Reconnect()", result, reason);
            }
        }
        if (m_hMidiOut == 0) {
            uint32_t handle = 0;
            const int32_t result = m_output.Open(m_device, handle);
            if (result != 0)
                FailToOpen("MidiOutput::Open()", result, m_output.LastError());
            m_hMidiOut = handle;
        }
        if (m_lastInstrument != m_instrument || m_lastChannel != m_channel) {
            SendProgramChange();
            m_lastInstrument = Narrow16(m_instrument);
            m_lastChannel = Narrow16(m_channel);
        }
    } catch (...) {
        Fail("clsMidi::Initialize()");
    }
}

void clsMidi::Hold(bool held) {
    if (m_hMidiOut != 0)
        m_output.Hold(m_hMidiOut, held);
}

void clsMidi::FailToOpen(const char* step, int32_t result, const std::string& reason) {
    // The device layer knows why; the user needs that more than the number.
    if (MyErr)
        MyErr->PrepareError(step, NarrowCode(result), reason);
    throw AppError(NarrowCode(result), "Cannot open MIDI device.");
}

void clsMidi::CloseMIDI() {
    try {
        if (m_hMidiOut != 0) {
            StopSounding(); // on the device they were started on
            m_sounding.clear();
            m_output.Close(m_hMidiOut);
            m_hMidiOut = 0;
            // The next open may reach another device, or a program that
            // started anew: it has heard no program change yet.
            m_lastInstrument = 0;
            m_lastChannel = 0;
        }
    } catch (...) {
        Fail("clsMidi::CloseMIDI()");
    }
}

void clsMidi::PlayNote(int16_t nn, int16_t vel) {
    try {
        const int16_t status = Narrow16(0x90 + m_channel - 1);
        ExecuteMidiOutShortMsg(status, nn, vel);
        if (vel != 0)
            m_sounding.push_back({status, nn});
    } catch (...) {
        Fail("clsMidi::PlayNote()");
    }
}

void clsMidi::StopNote(int16_t nn, int16_t /*vel*/) {
    try {
        const int16_t status = Narrow16(0x90 + m_channel - 1);
        ExecuteMidiOutShortMsg(status, nn, 0);
        const auto started = std::find(m_sounding.begin(), m_sounding.end(), Sounding{status, nn});
        if (started != m_sounding.end())
            m_sounding.erase(started);
    } catch (...) {
        Fail("clsMidi::StopNote()");
    }
}

void clsMidi::StopSounding() noexcept {
    try {
        for (const Sounding& note : m_sounding) {
            const uint32_t off = uint32_t(uint16_t(note.Status)) | uint32_t(note.Note) << 8;
            if (m_output.ShortMsgAt(m_hMidiOut, off, m_clock ? m_clock->DueNanos() : 0) != 0)
                return;
        }
    } catch (...) {
        // As refused: the device is closing.
    }
}

int32_t clsMidi::PackDword(int16_t data2, int16_t data1, int16_t status) {
    try {
        const int32_t shifted = int32_t{data1} * 256;
        if (shifted > std::numeric_limits<int16_t>::max() ||
            shifted < std::numeric_limits<int16_t>::min())
            throw std::overflow_error("data byte " + std::to_string(data1) + " is out of range");
        const int64_t sum = int64_t{data2} * 65536 + shifted + status;
        if (sum > std::numeric_limits<int32_t>::max() || sum < std::numeric_limits<int32_t>::min())
            throw std::overflow_error("message does not fit in 32 bits");
        return static_cast<int32_t>(sum);
    } catch (...) {
        Fail("clsMidi::PackDword()");
    }
}

void clsMidi::ExecuteMidiOutShortMsg(int16_t status, int16_t data1, int16_t data2) {
    try {
        const int32_t message = PackDword(data2, data1, status);
        const int32_t result = m_output.ShortMsgAt(m_hMidiOut, static_cast<uint32_t>(message),
                                                   m_clock ? m_clock->DueNanos() : 0);
        if (result != 0) {
            // A device that refuses a message has gone (the synthesizer's sound
            // server): close it, so that the next question opens it afresh.
            const std::string reason = m_output.LastError();
            CloseMIDI();
            throw AppError(NarrowCode(result), reason);
        }
    } catch (...) {
        Fail("clsMidi::ExecuteMidiOutShortMsg()");
    }
}

void clsMidi::SendProgramChange() {
    ExecuteMidiOutShortMsg(Narrow16(0xC0 + m_channel - 1), Narrow16(m_instrument), 0);
}

void clsMidi::Fail(const char* src) {
    if (MyErr)
        MyErr->Rethrow(src, std::current_exception());
    throw;
}

} // namespace sonavel
