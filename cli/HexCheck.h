#pragma once
// The offline reading of a HEX file: every record goes through the programmer's own record
// reader and row planning, in the programmer's loop, so the verdict is the one a run would
// reach, without a port.

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

struct HexCheck {
    std::int32_t Code = 0;    // 0, or the code the programmer would stop with
    std::int32_t Records = 0; // records handled before the pass ended or stopped
    std::int32_t Lines = 0;   // the line count that bounds the pass
    std::uint32_t ErrorLine = 0;
    std::string Error; // the fault in words when Code is negative
    std::vector<CheckedRow> Rows;
    std::uint32_t SkippedRecords = 0; // data records whose upper address selects no memory
    // The pass stops after as many records as lines; records beyond that are never written.
    bool RecordsLeftUnread = false;
};

HexCheck CheckHexFile(const char* path, const HexRowSettings& settings);

const char* HexSpaceName(HexSpace space);
