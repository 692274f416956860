#pragma once
// How a serial number becomes the bytes written on a board, and how bytes read from a board
// become the number again.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class SerialKind : std::uint8_t {
    U16le,
    U16be,
    U32le,
    U32be,
    U64le,
    U64be,
    Ascii,
    Hex,
    Bytes
};

struct SerialFormat {
    SerialKind Kind = SerialKind::U32le;
    // Bytes on the board; for Bytes 0 until a value (or bytes:N) tells.
    std::uint32_t Length = 4;
};

// "u16le" ... "u64be", "ascii:N", "hex:N", "bytes" or "bytes:N"; none, with why, otherwise.
std::optional<SerialFormat> ParseSerialFormat(const std::string& text, std::string& why);

// The bytes of value: a decimal number for every kind but Bytes, hexadecimal bytes (pairs of
// digits, optionally separated by ':', '-' or blanks) for Bytes. None, with why, when the value
// is not of that form, does not fit, or would read as an erased place (all 0xFF).
std::optional<std::vector<std::uint8_t>> EncodeSerial(const SerialFormat& format,
                                                      const std::string& value, std::string& why);

// The value bytes read from a board stand for, as the record shows it: the decimal number, or
// the bytes in upper-case hexadecimal; none when they are not of the format (digits expected).
std::optional<std::string> DecodeSerial(const SerialFormat& format,
                                        const std::vector<std::uint8_t>& bytes);

// Whether bytes are what an erased place holds.
bool IsBlank(const std::vector<std::uint8_t>& bytes);
