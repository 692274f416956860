#pragma once
// The board's memories as an Intel HEX image, in the upper addresses the HEX programmer reads:
// 0x0000 program memory, 0x0020 ID locations, 0x0030 configuration, 0x00F0 data EEPROM.

#include "sim/Board.h"

#include <cstdint>
#include <string>

namespace ImageUpper {
inline constexpr std::uint16_t Program = 0x0000;
inline constexpr std::uint16_t Id = 0x0020;
inline constexpr std::uint16_t Config = 0x0030;
inline constexpr std::uint16_t Eeprom = 0x00F0;
} // namespace ImageUpper

// Every memory as the chip reads it, program memory included in full.
std::string DumpBoardImage(const Board& board);

struct ImageLoad {
    bool Ok = false;
    std::string Error;         // why the load stopped, when it did
    std::uint32_t Loaded = 0;  // bytes placed in memory
    std::uint32_t Ignored = 0; // bytes at addresses that hold no loadable memory
};

// Fills the memories from an Intel HEX file, up to its end-of-file record. Records before a
// damaged one stay loaded.
ImageLoad LoadBoardImage(Board& board, const char* path);
