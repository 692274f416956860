#pragma once
// Where a serial number lies on the board: a memory space and the address of its first byte,
// and the writes and reads that carry it, over the target's own operations.

#include "target/FastFlash.h"
#include "target/HexRows.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct SerialPlace {
    HexSpace Space = HexSpace::None; // Program, Eeprom or Id
    std::uint32_t Address = 0;       // byte address; an EEPROM offset for the data EEPROM
};

// "program:0x7FF0", "eeprom:16", "id:0x200000"; none, with why, otherwise.
std::optional<SerialPlace> ParseSerialPlace(const std::string& text, std::string& why);

// "eeprom:0x0010", as messages and the journal name it.
std::string SerialPlaceText(const SerialPlace& place);

// Whether length bytes from place stay where a number may go: the application area of program
// memory, the data EEPROM below the run-mode flag, the eight ID locations. Empty when they do,
// the reason otherwise.
std::string SerialPlaceRefusal(const SerialPlace& place, std::uint32_t length);

// The line of the first record of the HEX file at path whose own data covers a byte of the
// place, or 0 when none does. Every space counts, written by the profile or not.
std::uint32_t HexLineCoveringPlace(const char* path, const SerialPlace& place,
                                   std::uint32_t length);

// Reads length bytes at place from the board on the open port: the read's result (negative on
// failure, or fewer bytes than asked when the board answered short).
std::int32_t ReadSerialBytes(const SerialPlace& place, std::uint32_t length,
                             std::vector<std::uint8_t>& bytes);

// Writes bytes at place and reads them back, with the fast programmer's write of that space;
// the rows go into the log the image's run began. ProgramImageFast's results.
std::int32_t WriteSerialBytes(const SerialPlace& place, const std::vector<std::uint8_t>& bytes,
                              ImageFailure& failure);
