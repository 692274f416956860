#include "target/FlashImage.h"

#include "target/HexFileReader.h"
#include "target/HexProgrammer.h"

std::int32_t AddImageRow(const HexRow& row, HexSpace space, std::uint32_t line, FlashImage& image) {
    auto& memory = space == HexSpace::Eeprom ? image.Eeprom : image.Flash;
    for (unsigned i = 0; i < HexRowSize; ++i) {
        if ((row.Supplied >> i & 1u) == 0) {
            continue;
        }
        const std::uint32_t address = row.ByteAddress + i;
        const auto [it, added] = memory.try_emplace(address, ImageByte{row.Bytes[i], line, space});
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
    HexFileReader hex(path, settings, HexPass::Programmer);
    image.Lines = hex.Lines();
    if (!hex.Opened()) {
        return ProgramResult::FileError;
    }
    DecodedRecord record;
    while (hex.Next(record)) {
        image.ErrorLine = record.Record.Line;
        if (record.Defect != HexDefect::None) {
            return record.Code;
        }
        const HexRowPlan& plan = record.Plan;
        for (unsigned r = 0; plan.Enabled && r < plan.RowCount; ++r) {
            if (const std::int32_t code =
                    AddImageRow(plan.Rows[r], plan.Space, record.Record.Line, image);
                code < 0) {
                return code;
            }
        }
        image.Records = hex.Records();
    }
    image.ErrorLine = 0;
    return image.Records;
}
