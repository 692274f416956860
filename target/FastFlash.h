#pragma once
// Flashing with as few request/reply turnarounds as the bootloader allows: several erase rows
// per request, whole runs of write blocks per write, long reads for the verify. On a USB-serial
// adapter every turnaround waits for the adapter, so the request count decides the time. The
// board ends up as with ProgramHexFile; the desktop program keeps the row-by-row traffic.

#include "target/FlashImage.h"

#include <cstdint>

// Rows per erase request. The reply waits for the whole erase (about 2 ms a row), which must stay
// well inside a read time-out.
inline constexpr std::uint8_t FastEraseRows = 32;
// Bytes per program-memory write request (rounded down to whole write blocks).
inline constexpr std::uint32_t FastWriteBytes = 128;
// Bytes per EEPROM write request: EEPROM bytes take about 4 ms each, and the reply waits for all.
inline constexpr std::uint32_t FastEepromWriteBytes = 64;

// Erases first..last in requests of up to FastEraseRows erase blocks. Results and ProgressCount
// as EraseRange: the last exchange's result, 0 for an empty range, or the first negative code;
// ProgressCount holds the address after the last block erased, or of the failed request.
std::int32_t EraseRangeFast(std::uint32_t first, std::uint32_t last);

// As EraseForFlash, over EraseRangeFast.
std::int32_t EraseForFastFlash(const char* hexPath);

// Writes image onto a board whose application area is erased, then reads every file byte back.
// Program-memory blocks inside the erased range whose file bytes are all 0xFF are only read
// back. "temp.log" gets one line per 16-byte row that a write carries, as ProgramHexFile writes
// it, counted in failure.LoggedRows. ProgressTotal is the file's line count and ProgressCount
// reaches image.Records. Returns image.Records, ProgramResult::FileError when the log cannot be
// created, or the code of the failed request (BootResult::VerifyMismatch for a byte that read back
// wrong twice), with failure set.
std::int32_t ProgramImageFast(const FlashImage& image, ImageFailure& failure);

// ProgramImageFast for bytes that follow an image already written in this job (a serial
// number): the rows go to the end of the log that job began rather than starting it afresh.
std::int32_t AddImageFast(const FlashImage& image, ImageFailure& failure);
