#pragma once
// A whole HEX file turned into the memory image it asks for, before any byte goes to the board,
// so the image can be written in requests as large as the bootloader takes rather than in the
// file's own records. The file is read in the programmer's pass, so it is refused for the same
// faults, with the same codes.

#include "target/HexRows.h"

#include <cstdint>
#include <map>

namespace ImageResult {
// Two records give one address different bytes: the file does not say what the board should
// hold there.
inline constexpr std::int32_t Conflict = -1030;
} // namespace ImageResult

struct ImageByte {
    std::uint8_t Value = 0xFF;
    std::uint32_t Line = 0;          // line of the record that gave it, from 1
    HexSpace Space = HexSpace::None; // Flash holds three spaces; this says which
};

struct FlashImage {
    // Byte addresses (not address units) of program memory, ID locations and configuration,
    // which the write command reaches; and of the data EEPROM. Only enabled spaces, and only the
    // file's own bytes: rows are not padded here.
    std::map<std::uint32_t, ImageByte> Flash;
    std::map<std::uint32_t, ImageByte> Eeprom;
    std::int32_t Lines = 0;   // the line count that bounds the pass, as for the programmer
    std::int32_t Records = 0; // records handled, the end-of-file record included

    // Where the build stopped: the line of the faulty record; for a conflict also the line of
    // the earlier record, the byte address and its space.
    std::uint32_t ErrorLine = 0;
    std::uint32_t EarlierLine = 0;
    std::uint32_t ConflictAddress = 0;
    HexSpace ConflictSpace = HexSpace::None;
};

// What a pass that writes rows did: the rows it logged in "temp.log" (each just before its first
// write), and where it stopped when it failed: the first byte that read back wrong or the first
// byte of the request that failed (the whole-row programmer), or the row being sent (the
// row-by-row one). Space stays None when the pass stopped before any request went out.
struct ImageFailure {
    HexSpace Space = HexSpace::None;
    std::uint32_t Address = 0;
    std::uint32_t LoggedRows = 0;
};

// Adds the supplied bytes of row, a row of space, from the record on line. Returns 0, or
// ImageResult::Conflict with ErrorLine, EarlierLine, ConflictAddress and ConflictSpace set when a
// byte contradicts one an earlier record gave.
std::int32_t AddImageRow(const HexRow& row, HexSpace space, std::uint32_t line, FlashImage& image);

// Reads the file at path as the programmer would. Returns the number of records handled, or the
// first fault's code: ProgramResult::FileError, ProgramResult::BadRecord and the codes of
// PlanHexRecord as the programmer would stop with them, or ImageResult::Conflict.
std::int32_t BuildFlashImage(const char* path, const HexRowSettings& settings, FlashImage& image);
