#pragma once
// Writes an Intel HEX file to the board in 16-byte rows, reading every row back, with the log
// "temp.log" of every row sent.

#include "target/FlashImage.h"
#include "target/ProgramLog.h"

#include <cstdint>

namespace ProgramResult {
inline constexpr std::int32_t FileError = -1;
inline constexpr std::int32_t BelowBootBlock = -1010;
inline constexpr std::int32_t EepromOverrun = -1011;
inline constexpr std::int32_t BadRecord = -1020;
} // namespace ProgramResult

std::int32_t ProgramHexFile(const char* path, std::uint8_t writeBlock, std::uint8_t addressUnit,
                            std::uint8_t writeCommand);
// The same, telling in rows which rows it logged and sent, and the row under way when it stopped.
std::int32_t ProgramHexFile(const char* path, std::uint8_t writeBlock, std::uint8_t addressUnit,
                            std::uint8_t writeCommand, ImageFailure& rows);
std::int32_t ProgramForFlash(const char* path);
std::int32_t ProgramForFlash(const char* path, ImageFailure& rows);
