#pragma once

#include <cstdint>

namespace sonavel {

// A packed short message taken apart: status in the low byte, then data 1,
// then data 2.
struct ShortMessage {
    uint8_t Status = 0;
    uint8_t Data1 = 0;
    uint8_t Data2 = 0;

    static ShortMessage Unpack(uint32_t packed) {
        return {static_cast<uint8_t>(packed & 0xFF), static_cast<uint8_t>((packed >> 8) & 0xFF),
                static_cast<uint8_t>((packed >> 16) & 0xFF)};
    }

    uint8_t Kind() const { return Status & 0xF0; }
    uint8_t WireChannel() const { return Status & 0x0F; }

    // How many bytes of the packed value go on the wire. 0 when it cannot be
    // sent alone: a data byte in the status place (running status) or the
    // start or end of a system exclusive message.
    int Length() const {
        if (Status < 0x80 || Status == 0xF0 || Status == 0xF7)
            return 0;
        switch (Kind()) {
        case 0xC0:
        case 0xD0:
            return 2;
        case 0xF0:
            if (Status == 0xF1 || Status == 0xF3)
                return 2;
            if (Status == 0xF2)
                return 3;
            return 1;
        default:
            return 3;
        }
    }
};

} // namespace sonavel
