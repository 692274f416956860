#include "sim/Board.h"

#include <algorithm>

namespace {

bool InId(std::uint32_t address) {
    return address >= BoardMap::IdStart && address < BoardMap::IdStart + BoardMap::IdSize;
}

bool InConfig(std::uint32_t address) {
    return address >= BoardMap::ConfigStart &&
           address < BoardMap::ConfigStart + BoardMap::ConfigSize;
}

std::uint32_t HeaderAddress(const std::uint8_t* payload) {
    return static_cast<std::uint32_t>(payload[2]) | static_cast<std::uint32_t>(payload[3]) << 8 |
           static_cast<std::uint32_t>(payload[4]) << 16;
}

// The bootloader erases row after row without looking where the program memory ends.
bool ErasesPastProgram(std::uint32_t address, std::uint8_t rows) {
    const std::uint32_t first = address & ~(BoardMap::EraseRow - 1);
    return first < BoardMap::ProgramSize &&
           first + rows * BoardMap::EraseRow > BoardMap::ProgramSize;
}

} // namespace

Board::Board() {
    for (std::uint32_t a = 0; a < BoardMap::ProgramSize; ++a) {
        program_[a] = a < BoardMap::BootBlockEnd ? BootBlockByte(a) : 0xFF;
    }
    id_.fill(0xFF);
    config_.fill(0xFF);
    eeprom_.fill(0xFF);
}

std::uint8_t Board::BootBlockByte(std::uint32_t address) {
    // Text, so that a dump shows it at a glance and neither erase (0xFF) nor a cleared byte
    // (0x00) can pass for it.
    static constexpr char pattern[] = "TERVIX BOOTBLOCK";
    return static_cast<std::uint8_t>(pattern[address % (sizeof pattern - 1)]);
}

std::optional<std::vector<std::uint8_t>> Board::Execute(const std::uint8_t* payload,
                                                        std::size_t size) {
    using BoardMap::HeaderSize;
    if (size < HeaderSize) {
        ++stats_.Malformed;
        return std::nullopt;
    }
    const std::uint8_t command = payload[0];
    const std::uint8_t count = payload[1];
    const std::uint32_t address = HeaderAddress(payload);
    const std::uint8_t* data = payload + HeaderSize;
    const std::size_t dataSize = size - HeaderSize;

    std::vector<std::uint8_t> reply(payload, payload + HeaderSize);
    // The chip's bootloader buffers at most this many data bytes of a request or a reply.
    bool wellFormed = dataSize <= BoardMap::MaxData;
    switch (wellFormed ? command : 0) {
    case 1: // read program memory, count in bytes
    case 6: // read configuration memory: the same address space, count in bytes
        wellFormed = dataSize == 0 && count <= BoardMap::MaxData;
        for (std::uint32_t i = 0; wellFormed && i < count; ++i) {
            reply.push_back(ReadProgramSpace(address + i));
        }
        break;
    case 2: // write program memory, count in 8-byte blocks at an 8-aligned address
        wellFormed = dataSize == std::size_t{count} * BoardMap::WriteBlock &&
                     address % BoardMap::WriteBlock == 0;
        if (wellFormed && WriteProgram(address, data, dataSize)) {
            ++stats_.Violations;
        }
        break;
    case 3: // erase program memory, count in 64-byte rows, none of them past its end
        wellFormed = dataSize == 0 && !ErasesPastProgram(address, count);
        stats_.ErasesInRunMode += wellFormed && RunMode() ? 1 : 0;
        if (wellFormed && EraseRows(address, count)) {
            ++stats_.Violations;
        }
        break;
    case 4: // read EEPROM, count in bytes
        wellFormed = dataSize == 0 && count <= BoardMap::MaxData;
        for (std::uint32_t i = 0; wellFormed && i < count; ++i) {
            reply.push_back(ReadEeprom(address + i));
        }
        break;
    case 5: // write EEPROM, count in bytes
        wellFormed = dataSize == count;
        if (wellFormed) {
            WriteEeprom(address, data, dataSize);
        }
        break;
    case 7: // write configuration memory, count in bytes
        wellFormed = dataSize == count;
        if (wellFormed) {
            WriteConfig(address, data, dataSize);
        }
        break;
    case 8: // reserved write-class code: acknowledged, nothing is stored
        break;
    default:
        wellFormed = false;
        break;
    }
    if (!wellFormed) {
        ++stats_.Malformed;
        return std::nullopt;
    }
    ++stats_.RequestsByCommand[command];
    return reply;
}

bool Board::WriteProgram(std::uint32_t address, const std::uint8_t* data, std::size_t size) {
    bool touchedBootBlock = false;
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint32_t a = address + static_cast<std::uint32_t>(i);
        if (a < BoardMap::BootBlockEnd) {
            touchedBootBlock = true;
        } else if (a < BoardMap::ProgramSize) {
            program_[a] &= data[i];
        } else if (InId(a)) {
            id_[a - BoardMap::IdStart] &= data[i];
        } else if (InConfig(a)) {
            // Configuration cells are written byte by byte, not through the flash array.
            config_[a - BoardMap::ConfigStart] = data[i];
        }
    }
    return touchedBootBlock;
}

bool Board::EraseRows(std::uint32_t address, std::uint8_t rows) {
    bool touchedBootBlock = false;
    const std::uint32_t first = address & ~(BoardMap::EraseRow - 1);
    for (std::uint32_t r = 0; r < rows; ++r) {
        const std::uint32_t row = first + r * BoardMap::EraseRow;
        if (row < BoardMap::BootBlockEnd) {
            touchedBootBlock = true;
        } else if (row < BoardMap::ProgramSize) {
            std::fill_n(program_.begin() + row, BoardMap::EraseRow, std::uint8_t{0xFF});
        } else if (row == BoardMap::IdStart) {
            id_.fill(0xFF);
        }
    }
    return touchedBootBlock;
}

void Board::WriteEeprom(std::uint32_t address, const std::uint8_t* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint32_t a = address + static_cast<std::uint32_t>(i);
        if (a < BoardMap::EepromSize) {
            eeprom_[a] = data[i];
        }
    }
}

void Board::WriteConfig(std::uint32_t address, const std::uint8_t* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint32_t a = address + static_cast<std::uint32_t>(i);
        if (InConfig(a)) {
            config_[a - BoardMap::ConfigStart] = data[i];
        }
    }
}

std::uint8_t Board::ReadProgramSpace(std::uint32_t address) const {
    if (auto it = stuck_.find(address); it != stuck_.end()) {
        return it->second;
    }
    if (address < BoardMap::ProgramSize) {
        return program_[address];
    }
    if (InId(address)) {
        return id_[address - BoardMap::IdStart];
    }
    if (InConfig(address)) {
        return config_[address - BoardMap::ConfigStart];
    }
    if (address == BoardMap::DeviceIdLow) {
        return static_cast<std::uint8_t>(deviceId_ & 0xFF);
    }
    if (address == BoardMap::DeviceIdHigh) {
        return static_cast<std::uint8_t>(deviceId_ >> 8);
    }
    return 0x00;
}

std::uint8_t Board::ReadEeprom(std::uint32_t address) const {
    return address < BoardMap::EepromSize ? eeprom_[address] : 0x00;
}

bool Board::LoadProgramSpace(std::uint32_t address, std::uint8_t value) {
    if (address < BoardMap::BootBlockEnd) {
        return true; // the bootloader itself: present, but never replaced
    }
    if (address < BoardMap::ProgramSize) {
        program_[address] = value;
    } else if (InId(address)) {
        id_[address - BoardMap::IdStart] = value;
    } else if (InConfig(address)) {
        config_[address - BoardMap::ConfigStart] = value;
    } else {
        return false;
    }
    return true;
}

bool Board::LoadEeprom(std::uint32_t address, std::uint8_t value) {
    if (address >= BoardMap::EepromSize) {
        return false;
    }
    eeprom_[address] = value;
    return true;
}

void Board::SetDeviceId(std::uint16_t word) {
    deviceId_ = word;
}

void Board::SetStuckByte(std::uint32_t address, std::uint8_t value) {
    stuck_[address] = value;
}
