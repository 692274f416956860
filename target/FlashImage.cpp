#include "target/FlashImage.h"

#include "target/HexProgrammer.h"
#include "target/HexRecord.h"

#include <cstdio>
#include <memory>

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

} // namespace

std::int32_t AddImageRow(const HexRow& row, HexSpace space, std::uint32_t byteAddress,
                         std::uint32_t line, FlashImage& image) {
    auto& memory = space == HexSpace::Eeprom ? image.Eeprom : image.Flash;
    for (unsigned i = 0; i < HexRowSize; ++i) {
        if ((row.Supplied >> i & 1u) == 0) {
            continue;
        }
        const std::uint32_t address = byteAddress + i;
        const auto [it, added] = memory.try_emplace(address, ImageByte{row.Bytes[i], line});
        if (!added && it->second.Value != row.Bytes[i]) {
            image.ErrorLine = line;
            image.EarlierLine = it->second.Line;
            image.ConflictAddress = address;
            image.ConflictSpace = space;
            return ImageResult::Conflict;
        }
    }
    return 0;
}

std::int32_t BuildFlashImage(const char* path, const HexRowSettings& settings, FlashImage& image) {
    image = FlashImage{};
    image.Lines = CountHexLines(path);
    std::unique_ptr<std::FILE, FileCloser> file(image.Lines < 0 ? nullptr : std::fopen(path, "r"));
    if (!file) {
        return ProgramResult::FileError;
    }
    HexRecordReader reader(file.get());
    HexRecord record;
    std::uint16_t upper = 0;
    // The programmer's loop bounds: the end-of-file record, the end of the file, or as many
    // records as lines.
    while (record.Type != HexType::EndOfFile && image.Records < image.Lines) {
        const HexStatus status = reader.Next(record);
        if (status == HexStatus::NoMoreInput) {
            break;
        }
        image.ErrorLine = record.Line;
        if (status != HexStatus::Record) {
            return ProgramResult::BadRecord;
        }
        HexRowPlan plan;
        if (const std::int32_t code = PlanHexRecord(record, upper, settings, plan); code < 0) {
            return code;
        }
        for (unsigned r = 0; plan.Enabled && r < plan.RowCount; ++r) {
            const HexRow& row = plan.Rows[r];
            const std::uint32_t byteAddress =
                plan.Space == HexSpace::Eeprom ? row.Address : row.Address * settings.AddressUnit;
            if (const std::int32_t code =
                    AddImageRow(row, plan.Space, byteAddress, record.Line, image);
                code < 0) {
                return code;
            }
        }
        ++image.Records;
    }
    image.ErrorLine = 0;
    return image.Records;
}
