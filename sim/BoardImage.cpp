#include "sim/BoardImage.h"

#include "target/CFile.h"
#include "target/HexRecord.h"
#include "target/HexWriter.h"

#include <cstdio>
#include <memory>
#include <vector>

namespace {

template <class Read>
void AddSpan(HexWriter& writer, std::uint32_t address, std::uint32_t size, Read read) {
    std::vector<std::uint8_t> bytes(size);
    for (std::uint32_t i = 0; i < size; ++i) {
        bytes[i] = read(i);
    }
    writer.Add(address, bytes.data(), bytes.size());
}

bool LoadByte(Board& board, std::uint16_t upper, std::uint32_t offset, std::uint8_t value) {
    if (upper == ImageUpper::Eeprom) {
        return board.LoadEeprom(offset, value);
    }
    if (upper <= ImageUpper::Id || upper == ImageUpper::Config) {
        return board.LoadProgramSpace((static_cast<std::uint32_t>(upper) << 16) + offset, value);
    }
    return false;
}

} // namespace

std::string DumpBoardImage(const Board& board) {
    HexWriter writer;
    AddSpan(writer, 0, BoardMap::ProgramSize,
            [&](std::uint32_t i) { return board.ReadProgramSpace(i); });
    AddSpan(writer, BoardMap::IdStart, BoardMap::IdSize,
            [&](std::uint32_t i) { return board.ReadProgramSpace(BoardMap::IdStart + i); });
    AddSpan(writer, BoardMap::ConfigStart, BoardMap::ConfigSize,
            [&](std::uint32_t i) { return board.ReadProgramSpace(BoardMap::ConfigStart + i); });
    AddSpan(writer, std::uint32_t{ImageUpper::Eeprom} << 16, BoardMap::EepromSize,
            [&](std::uint32_t i) { return board.ReadEeprom(i); });
    return writer.Finish();
}

ImageLoad LoadBoardImage(Board& board, const char* path) {
    ImageLoad load;
    CFile file(std::fopen(path, "r"));
    if (!file) {
        load.Error = std::string("cannot open ") + path;
        return load;
    }
    HexRecordReader reader(file.get());
    std::uint16_t upper = 0;
    for (;;) {
        HexRecord record;
        const HexStatus status = reader.Next(record);
        if (status == HexStatus::NoMoreInput) {
            break;
        }
        if (status != HexStatus::Record) {
            load.Error = std::string(path) + ":" + std::to_string(reader.Line()) + ": " +
                         HexStatusText(status);
            return load;
        }
        if (record.Type == HexType::EndOfFile) {
            break;
        }
        if (record.Type == HexType::ExtendedLinear) {
            if (record.Count != 2) {
                load.Error = std::string(path) + ":" + std::to_string(record.Line) +
                             ": extended address record without two data bytes";
                return load;
            }
            upper = static_cast<std::uint16_t>(record.Data[0] << 8 | record.Data[1]);
        } else if (record.Type == HexType::Data) {
            for (std::uint32_t i = 0; i < record.Count; ++i) {
                if (LoadByte(board, upper, record.Offset + i, record.Data[i])) {
                    ++load.Loaded;
                } else {
                    ++load.Ignored;
                }
            }
        }
    }
    load.Ok = true;
    return load;
}
