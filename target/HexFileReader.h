#pragma once
// One pass over a HEX file for the board: each record decoded, with the upper address it is read
// under, the rows it becomes and why a run would stop at it. The programmer, the file check, the
// image for the fast path, verify and the serial number's place all read files through here, so
// they agree on what a file holds and where reading stops.

#include "target/CFile.h"
#include "target/HexRecord.h"
#include "target/HexRows.h"

#include <cstdint>

// How far a pass reads.
enum class HexPass : std::uint8_t {
    // As the programmer reads, in text mode: up to the end-of-file record, the end of the file,
    // or as many records as the file has lines. A record still ahead then is refused: a run
    // would leave it off the chip while it reported success.
    Programmer,
    // Every record up to the end-of-file record or the end of the file, as the bytes stand
    // (binary mode, lines not counted): all the file holds, whether a run reaches it or not.
    WholeFile,
};

// Why a pass stops at a record.
enum class HexDefect : std::uint8_t {
    None,
    Text,          // its characters are not a valid record: Status says how
    Content,       // it cannot be written as it stands: Code says why (PlanHexRecord's codes)
    PastLineCount, // a programmer's pass reached the line count with this record still ahead
};

struct DecodedRecord {
    HexRecord Record;        // line, type, offset and bytes as read
    std::uint16_t Upper = 0; // the upper address in force when it was read
    HexRowPlan Plan;         // its space and rows
    HexDefect Defect = HexDefect::None;
    HexStatus Status = HexStatus::Record; // for a Text defect
    std::int32_t Code = 0;                // 0, or the code a run stops with at this record
};

class HexFileReader {
public:
    HexFileReader(const char* path, const HexRowSettings& settings, HexPass pass);

    // The line count that bounds a programmer's pass, -1 when the file could not be read; 0 for
    // a whole-file pass, which does not count.
    std::int32_t Lines() const { return lines_; }
    bool Opened() const { return file_ != nullptr; }

    // Decodes the next record; false once the pass is over. A record with a defect is the last.
    bool Next(DecodedRecord& record);

    // Records decoded without a defect so far, the end-of-file record included.
    std::int32_t Records() const { return records_; }

private:
    bool Stop(DecodedRecord& record, HexDefect defect, std::int32_t code);

    HexRowSettings settings_;
    HexPass pass_;
    std::int32_t lines_;
    CFile file_;
    HexRecordReader reader_;
    std::int32_t records_ = 0;
    std::uint16_t upper_ = 0;
    std::uint8_t lastType_ = HexType::Data;
    bool over_ = false;
};
