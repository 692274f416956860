#pragma once
// Writes an Intel HEX file to the board in 16-byte rows, reading every row back, with the log
// "temp.log" of every row sent.

#include <cstdint>
#include <cstdio>

namespace ProgramResult {
inline constexpr std::int32_t FileError = -1;
inline constexpr std::int32_t BelowBootBlock = -1010;
inline constexpr std::int32_t EepromOverrun = -1011;
inline constexpr std::int32_t BadRecord = -1020;
} // namespace ProgramResult

inline constexpr const char* ProgramLogName = "temp.log";

std::int32_t ProgramHexFile(const char* path, std::uint8_t writeBlock, std::uint8_t addressUnit,
                            std::uint8_t writeCommand);
std::int32_t ProgramForFlash(const char* path);

// Creates "temp.log" afresh in the current folder for writing, refusing a link in its place;
// nullptr when that fails.
std::FILE* CreateProgramLog();
