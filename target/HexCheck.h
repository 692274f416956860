#pragma once
// The whole-file check that every program runs before it erases a board: the file is read in
// the programmer's own pass, so the verdict is the one a run would reach, without a port.

#include "target/FlashImage.h"
#include "target/HexRows.h"

#include <cstdint>
#include <string>
#include <vector>

struct CheckedRow {
    HexSpace Space = HexSpace::None;
    bool Sent = false; // false: its space is not written by the profile
    std::uint32_t Address = 0;
    std::uint32_t Line = 0;
};

// Why a file may not be flashed.
enum class HexFault : std::uint8_t {
    None,
    Unreadable,    // the file cannot be opened
    Refused,       // the programmer would stop on a record: Code and ErrorLine say which
    NoData,        // no record gives a byte to a space the profile writes
    Unwritable,    // the board cannot end up holding the file: two records give one address
                   // different bytes, or program-memory data lies past the end of program memory
    LogUnwritable, // the programming log cannot be created in the current folder
};

struct HexCheck {
    HexFault Fault = HexFault::None;
    std::int32_t Code = 0;       // 0, or the code the programmer would stop with
    std::int32_t Records = 0;    // records handled before the pass ended or stopped
    std::int32_t Lines = 0;      // the line count that bounds the pass
    std::uint32_t ErrorLine = 0; // the line of the fault, 0 when it has none
    std::string Error;           // the fault in plain words
    std::vector<CheckedRow> Rows;
    std::uint32_t SkippedRecords = 0; // data records whose upper address selects no memory
    // The bytes of the spaces the profile writes, as far as the check read: the whole file's
    // when Fault is None.
    FlashImage Image;
};

// Reads the file as the programmer would: Unreadable, Refused, Unwritable, NoData or None. Rows
// that carry none of the file's bytes (a record of 0 bytes) are not listed.
HexCheck CheckHexFile(const char* path, const HexRowSettings& settings);

// CheckHexFile, and then whether the run could create its log here (LogUnwritable): all that can
// be known before a board is erased for this file.
HexCheck CheckHexFileForFlash(const char* path, const HexRowSettings& settings);

const char* HexSpaceName(HexSpace space);
