#include "cli/HexCheck.h"

#include "cli/Messages.h"
#include "link/BootCommands.h"
#include "target/HexProgrammer.h"

#include <cstdio>
#include <memory>

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

std::string PlanFault(std::int32_t code, const HexRecord& record, std::uint16_t upper,
                      const HexRowSettings& settings) {
    const auto address = static_cast<unsigned>(std::uint32_t{upper} << 16 | record.Offset);
    switch (code) {
    case ProgramResult::BelowBootBlock:
        return Format("data at 0x%04X lies in the boot block below 0x%04X", address,
                      static_cast<unsigned>(BootBlockEnd));
    case ProgramResult::EepromOverrun:
        return Format("EEPROM data at 0x%02X runs past the last EEPROM address 0x%02X",
                      static_cast<unsigned>(record.Offset),
                      static_cast<unsigned>(settings.EepromEnd));
    case BootResult::ZeroUnit:
        return "an address unit of 0";
    default:
        if (record.Type > HexType::StartLinear) {
            return Format("record type %02X is not Intel HEX", static_cast<unsigned>(record.Type));
        }
        return Format("%u data bytes at offset 0x%04X run past two 16-byte rows",
                      static_cast<unsigned>(record.Count), static_cast<unsigned>(record.Offset));
    }
}

} // namespace

const char* HexSpaceName(HexSpace space) {
    switch (space) {
    case HexSpace::Program:
        return "program memory";
    case HexSpace::Eeprom:
        return "data EEPROM";
    case HexSpace::Id:
        return "ID locations";
    case HexSpace::Config:
        return "configuration";
    case HexSpace::None:
        break;
    }
    return "no memory";
}

HexCheck CheckHexFile(const char* path, const HexRowSettings& settings) {
    HexCheck check;
    check.Lines = CountHexLines(path);
    std::unique_ptr<std::FILE, FileCloser> file(check.Lines < 0 ? nullptr : std::fopen(path, "r"));
    if (!file) {
        check.Code = ProgramResult::FileError;
        check.Error = "cannot open the file";
        return check;
    }
    HexRecordReader reader(file.get());
    HexRecord record;
    std::uint16_t upper = 0;
    while (record.Type != HexType::EndOfFile && check.Records < check.Lines) {
        const HexStatus status = reader.Next(record);
        if (status == HexStatus::NoMoreInput) {
            return check;
        }
        if (status != HexStatus::Record) {
            check.Code = ProgramResult::BadRecord;
            check.ErrorLine = record.Line;
            check.Error = HexStatusText(status);
            return check;
        }
        HexRowPlan plan;
        const std::uint16_t upperBefore = upper;
        const std::int32_t code = PlanHexRecord(record, upper, settings, plan);
        if (code < 0) {
            check.Code = code;
            check.ErrorLine = record.Line;
            check.Error = PlanFault(code, record, upperBefore, settings);
            return check;
        }
        if (record.Type == HexType::Data && plan.Space == HexSpace::None) {
            ++check.SkippedRecords;
        }
        for (unsigned r = 0; r < plan.RowCount; ++r) {
            // An EEPROM row carries only the record's bytes; with none it is not sent at all.
            if (plan.Space == HexSpace::Eeprom && plan.Rows[r].Supplied == 0) {
                continue;
            }
            check.Rows.push_back({plan.Space, plan.Enabled, plan.Rows[r].Address, record.Line});
        }
        ++check.Records;
    }
    check.RecordsLeftUnread =
        record.Type != HexType::EndOfFile && reader.Next(record) != HexStatus::NoMoreInput;
    return check;
}
