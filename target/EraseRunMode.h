#pragma once
// Erasing the application area and switching the board between run and boot mode.

#include <cstdint>

namespace EraseResult {
inline constexpr std::int32_t EraseFailed = -101;
inline constexpr std::int32_t ProgramFailed = -102;
// The run-mode flag read back as something other than boot mode after boot mode was written.
inline constexpr std::int32_t BootModeNotKept = -103;
} // namespace EraseResult

inline constexpr std::uint16_t EraseAttempts = 5;
inline constexpr std::uint16_t EraseReplyCapacity = 255;
inline constexpr std::uint32_t RunModeFlagAddress = 0xFF;

std::int32_t EraseRange(std::uint32_t first, std::uint32_t last);
// EraseRange with up to rowsPerRequest erase blocks in each request (the request's count byte);
// EraseRange itself sends one block per request.
std::int32_t EraseRangeInRuns(std::uint32_t first, std::uint32_t last, std::uint8_t rowsPerRequest);
std::int32_t EraseForFlash(const char* hexPath);
// flag != 0: run mode (writes 0x00); flag == 0: boot mode (writes 0xFF).
std::int32_t SetRunMode(std::uint8_t flag);
// Writes boot mode into the run-mode flag and reads the flag back, before anything is erased: a
// board whose erase or write then fails stays in its bootloader at the next reset instead of
// starting half an application. Returns 1, the code of the failed write or read, or
// EraseResult::BootModeNotKept.
std::int32_t EnterBootMode();
std::int32_t EraseAndProgram(const char* hexPath);
