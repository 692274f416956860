#pragma once
// Reading Intel HEX records the way the programmer consumes them: whatever stands between
// records is skipped up to the next ':', and a record's fields are hexadecimal digits (either
// case). Usable without a port, so files can be checked offline.

#include <cstdint>
#include <cstdio>

namespace HexType {
inline constexpr std::uint8_t Data = 0x00;
inline constexpr std::uint8_t EndOfFile = 0x01;
inline constexpr std::uint8_t ExtendedSegment = 0x02;
inline constexpr std::uint8_t StartSegment = 0x03;
inline constexpr std::uint8_t ExtendedLinear = 0x04;
inline constexpr std::uint8_t StartLinear = 0x05;
} // namespace HexType

struct HexRecord {
    std::uint8_t Count = 0;
    std::uint16_t Offset = 0;
    std::uint8_t Type = 0;
    std::uint8_t Data[255] = {};
    std::uint8_t Checksum = 0;
    std::uint32_t Line = 0; // line of the file on which the record's ':' stands, from 1
};

enum class HexStatus {
    Record,      // a whole record whose bytes sum to 0 modulo 256
    NoMoreInput, // the file ended before another ':'
    BadDigit,    // a field holds a character that is not a hexadecimal digit
    Truncated,   // the file ended inside a record
    BadChecksum, // the record's bytes do not sum to 0 modulo 256
};

class HexRecordReader {
public:
    explicit HexRecordReader(std::FILE* file) : file_(file) {}

    // Reads the next record into record. On BadDigit, BadChecksum and Truncated the record holds
    // what was read and Line() where reading stopped.
    HexStatus Next(HexRecord& record);

    // Reads up to and including the next ':'; false when the file ends first. Line() is then the
    // line of that record's start.
    bool SkipToRecord();

    // The line the reader has reached, from 1. A lone CR, a LF and a CRLF each end one line.
    std::uint32_t Line() const { return line_; }

private:
    int Get();
    bool ReadByte(std::uint8_t& value, HexStatus& failure);

    std::FILE* file_;
    std::uint32_t line_ = 1;
    int previous_ = EOF;
};

// The number of line reads of at most 255 characters that the file takes (a longer line counts
// more than once), or -1 when it cannot be opened. A lone CR, a LF and a CRLF each end one line,
// so files from any system count the lines they show.
std::int32_t CountHexLines(const char* path);

// One-line description of a status, for messages.
const char* HexStatusText(HexStatus status);
