#pragma once
// What one HEX record means for the board: the memory space its upper address selects, whether
// that space is written, and the one or two 16-byte rows it becomes. The programmer and the
// offline file check both go through here, so they can never disagree about a file.

#include "target/HexRecord.h"

#include <cstdint>

enum class HexSpace : std::uint8_t { None, Program, Id, Config, Eeprom };

inline constexpr unsigned HexRowSize = 16;
// Every record is decoded into two rows' worth of bytes; a record that does not fit is refused.
inline constexpr unsigned HexRowBufferSize = 2 * HexRowSize;
// The bootloader lives below this program-memory address; no row may be sent there.
inline constexpr std::uint32_t BootBlockEnd = 0x200;

struct HexRow {
    // As sent: in address units for program memory, ID locations and configuration; the byte
    // address for the data EEPROM.
    std::uint32_t Address = 0;
    // Where its first byte lies in its space: Address times the address unit, or the EEPROM
    // offset.
    std::uint32_t ByteAddress = 0;
    std::uint8_t Bytes[HexRowSize] = {};
    // Bit i set: position i holds a byte of the record; clear: 0xFF padding. A record's bytes
    // are contiguous, so the set bits of a row form one run.
    std::uint16_t Supplied = 0;
};

struct HexRowSettings {
    std::uint8_t AddressUnit = 1;
    bool ProgramEnable = true;
    bool EepromEnable = true;
    bool IdEnable = false;
    bool ConfigEnable = false;
    std::uint32_t EepromEnd = 0xFF;
    std::uint32_t ProgramEnd = 0x7FFF; // the last byte of program memory
};

// The profile's enable flags and memory ends, with the address unit of the run.
HexRowSettings HexRowSettingsFromProfile(std::uint8_t addressUnit);

struct HexRowPlan {
    HexSpace Space = HexSpace::None;
    bool Enabled = false;
    // Rows of a data record in a known space (also when the space is disabled); 0 otherwise.
    unsigned RowCount = 0;
    HexRow Rows[2];
};

// Decides what record does, given the upper address reached so far, which an extended linear
// address record changes. Returns 0, or the code that ends the run before anything of the
// record is sent:
//   -1020 (ProgramResult::BadRecord): a record of type 06 to FF, one whose bytes run past the
//         row buffer, an extended linear address that is not two bytes at the row's start, or
//         an extended segment address other than two zero bytes;
//   -1010 (ProgramResult::BelowBootBlock): a program-memory row below 0x200, enabled or not;
//   -1011 (ProgramResult::EepromOverrun): an enabled EEPROM record with bytes beyond EepromEnd;
//   -10 (BootResult::ZeroUnit): an address unit of 0 where a row address must be divided by it.
std::int32_t PlanHexRecord(const HexRecord& record, std::uint16_t& upper,
                           const HexRowSettings& settings, HexRowPlan& plan);
