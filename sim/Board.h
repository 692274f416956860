#pragma once
// The simulated PIC18F452 behind its bootloader: the chip's memories and what each command does
// to them. Flash behaves physically (erase sets a 64-byte row to 0xFF, a write can only clear
// bits) and the bootloader's own block below 0x200 never changes.

#include "sim/BoardStats.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace BoardMap {
inline constexpr std::uint32_t ProgramSize = 0x8000;
inline constexpr std::uint32_t BootBlockEnd = 0x200;
inline constexpr std::uint32_t IdStart = 0x200000;
inline constexpr std::uint32_t IdSize = 8;
inline constexpr std::uint32_t ConfigStart = 0x300000;
inline constexpr std::uint32_t ConfigSize = 14;
inline constexpr std::uint32_t DeviceIdLow = 0x3FFFFE;
inline constexpr std::uint32_t DeviceIdHigh = 0x3FFFFF;
inline constexpr std::uint32_t EepromSize = 0x100;
inline constexpr std::uint32_t RunModeFlag = 0xFF;
inline constexpr std::uint32_t EraseRow = 64;
inline constexpr std::uint32_t WriteBlock = 8;
inline constexpr std::uint16_t DefaultDeviceId = 0x0424;
inline constexpr std::size_t HeaderSize = 5;
inline constexpr std::size_t MaxData = 250;
} // namespace BoardMap

class Board {
public:
    Board();

    // Carries out one request (the unescaped payload, without its checksum) and returns the
    // reply payload: the five header bytes, then for reads the data. A malformed or unknown
    // request changes nothing, is counted, and gets no reply: among them those the real chip's
    // bootloader could not take, with more than 250 data bytes or an erase past program memory.
    std::optional<std::vector<std::uint8_t>> Execute(const std::uint8_t* payload, std::size_t size);

    // A byte of the program address space as the chip reads it: stuck bytes show their stuck
    // value, unimplemented addresses 0x00.
    std::uint8_t ReadProgramSpace(std::uint32_t address) const;
    // A data EEPROM byte; 0x00 beyond the 256 bytes.
    std::uint8_t ReadEeprom(std::uint32_t address) const;

    // Fills memory directly, as a programmer on the bench would before the board is handed over:
    // no flash semantics, no violations. The boot block and the device ID are left alone. False
    // for an address that holds no writable memory.
    bool LoadProgramSpace(std::uint32_t address, std::uint8_t value);
    bool LoadEeprom(std::uint32_t address, std::uint8_t value);

    void SetDeviceId(std::uint16_t word);
    // The program byte at address reads back value whatever is written there.
    void SetStuckByte(std::uint32_t address, std::uint8_t value);

    // The run-mode flag (EEPROM 0xFF) holds 0x00.
    bool RunMode() const { return eeprom_[BoardMap::RunModeFlag] == 0x00; }

    BoardStats& Stats() { return stats_; }
    const BoardStats& Stats() const { return stats_; }

    // The recognisable content of the boot block at address (below 0x200).
    static std::uint8_t BootBlockByte(std::uint32_t address);

private:
    bool WriteProgram(std::uint32_t address, const std::uint8_t* data, std::size_t size);
    bool EraseRows(std::uint32_t address, std::uint8_t rows);
    void WriteEeprom(std::uint32_t address, const std::uint8_t* data, std::size_t size);
    void WriteConfig(std::uint32_t address, const std::uint8_t* data, std::size_t size);

    std::array<std::uint8_t, BoardMap::ProgramSize> program_;
    std::array<std::uint8_t, BoardMap::IdSize> id_;
    std::array<std::uint8_t, BoardMap::ConfigSize> config_;
    std::array<std::uint8_t, BoardMap::EepromSize> eeprom_;
    std::uint16_t deviceId_ = BoardMap::DefaultDeviceId;
    std::map<std::uint32_t, std::uint8_t> stuck_;
    BoardStats stats_;
};
