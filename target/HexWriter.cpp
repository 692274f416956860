#include "target/HexWriter.h"

#include "target/HexRecord.h"

#include <algorithm>
#include <cstdio>

void HexWriter::Record(std::uint8_t type, std::uint16_t offset, const std::uint8_t* data,
                       std::size_t size) {
    char field[4];
    unsigned sum = static_cast<unsigned>(size) + (offset >> 8) + (offset & 0xFF) + type;
    std::snprintf(field, sizeof field, "%02X", static_cast<unsigned>(size));
    text_ += ':';
    text_ += field;
    char head[8];
    std::snprintf(head, sizeof head, "%04X%02X", offset, type);
    text_ += head;
    for (std::size_t i = 0; i < size; ++i) {
        std::snprintf(field, sizeof field, "%02X", data[i]);
        text_ += field;
        sum += data[i];
    }
    std::snprintf(field, sizeof field, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    text_ += field;
    text_ += '\n';
}

void HexWriter::Add(std::uint32_t address, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        auto upper = static_cast<std::int32_t>(address >> 16);
        if (upper != upper_) {
            const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(upper >> 8),
                                           static_cast<std::uint8_t>(upper)};
            Record(HexType::ExtendedLinear, 0, bytes, 2);
            upper_ = upper;
        }
        std::size_t chunk = std::min<std::size_t>(size, 16 - (address & 0xF));
        Record(HexType::Data, static_cast<std::uint16_t>(address & 0xFFFF), data, chunk);
        address += static_cast<std::uint32_t>(chunk);
        data += chunk;
        size -= chunk;
    }
}

std::string HexWriter::Finish() const {
    return text_ + ":00000001FF\n";
}
