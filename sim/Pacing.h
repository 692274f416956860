#pragma once
// The time a request costs on a real board: its bytes on the wire at the line rate and the
// chip's self-timed programming cycles. Defaults are the PIC18F452 data sheet's typical values.

#include <cstddef>
#include <cstdint>
#include <vector>

struct PaceModel {
    std::uint32_t Baud = 115200;
    double EraseRowMs = 2.0;   // one 64-byte row
    double WriteBlockMs = 2.0; // one 8-byte flash block
    double EepromByteMs = 4.0; // one data EEPROM or configuration byte
    // Between the board sending a reply and the host reading it, as a USB-serial adapter holds
    // bytes back for its latency timer.
    double LatencyMs = 0.0;

    // 8N1: a start bit, eight data bits and a stop bit per byte.
    double WireMicroseconds(std::size_t bytes) const;

    // The programming time of a request that the board carried out, from its header.
    double ProgrammingMicroseconds(const std::vector<std::uint8_t>& request) const;
};
