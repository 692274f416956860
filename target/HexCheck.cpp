#include "target/HexCheck.h"

#include "link/BootCommands.h"
#include "target/HexFileReader.h"
#include "target/HexProgrammer.h"
#include "target/ProgramLog.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <utility>

namespace {

[[gnu::format(printf, 1, 2)]] std::string Words(const char* format, ...) {
    char text[160];
    std::va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

std::string PlanFault(std::int32_t code, const HexRecord& record, std::uint16_t upper,
                      const HexRowSettings& settings) {
    const auto address = static_cast<unsigned>(std::uint32_t{upper} << 16 | record.Offset);
    switch (code) {
    case ProgramResult::BelowBootBlock:
        return Words("data at 0x%04X lies in the boot block below 0x%04X", address,
                     static_cast<unsigned>(BootBlockEnd));
    case ProgramResult::EepromOverrun:
        return Words("EEPROM data at 0x%02X runs past the last EEPROM address 0x%02X",
                     static_cast<unsigned>(record.Offset),
                     static_cast<unsigned>(settings.EepromEnd));
    case BootResult::ZeroUnit:
        return "an address unit of 0";
    default:
        break;
    }
    switch (record.Type) {
    case HexType::ExtendedLinear:
        return Words("an extended linear address record must hold two bytes at offset 0000, "
                     "this one holds %u at offset %04X",
                     static_cast<unsigned>(record.Count), static_cast<unsigned>(record.Offset));
    case HexType::ExtendedSegment:
        return record.Count == 2
                   ? Words("extended segment address %02X%02X would move the data that follows; "
                           "only segment 0000 can be written",
                           static_cast<unsigned>(record.Data[0]),
                           static_cast<unsigned>(record.Data[1]))
                   : Words("an extended segment address record must hold two bytes, this one "
                           "holds %u",
                           static_cast<unsigned>(record.Count));
    default:
        if (record.Type > HexType::StartLinear) {
            return Words("record type %02X is not Intel HEX", static_cast<unsigned>(record.Type));
        }
        return Words("%u data bytes at offset 0x%04X run past two 16-byte rows",
                     static_cast<unsigned>(record.Count), static_cast<unsigned>(record.Offset));
    }
}

std::string EnabledSpaces(const HexRowSettings& settings) {
    std::string spaces;
    const std::pair<HexSpace, bool> all[] = {{HexSpace::Program, settings.ProgramEnable},
                                             {HexSpace::Eeprom, settings.EepromEnable},
                                             {HexSpace::Id, settings.IdEnable},
                                             {HexSpace::Config, settings.ConfigEnable}};
    for (const auto& [space, enabled] : all) {
        if (enabled) {
            spaces += (spaces.empty() ? "" : " or ") + std::string(HexSpaceName(space));
        }
    }
    return spaces.empty() ? "any memory" : spaces;
}

void Refuse(HexCheck& check, std::int32_t code, std::uint32_t line, std::string reason) {
    check.Fault = HexFault::Refused;
    check.Code = code;
    check.ErrorLine = line;
    check.Error = std::move(reason);
}

// A row that the board cannot take as the file means it: past the end of program memory, or
// with a byte that an earlier record gave differently. Empty when the row is fine; image
// collects the bytes of the rows so far.
std::string UnwritableRow(const HexRowPlan& plan, const HexRow& row, std::uint32_t line,
                          const HexRowSettings& settings, FlashImage& image) {
    // The programmer sends the whole row, padding included, so the row's end counts.
    if (plan.Space == HexSpace::Program &&
        row.ByteAddress + (HexRowSize - 1) > settings.ProgramEnd) {
        return Words("program memory data at 0x%04X lies past the end of program memory at 0x%04X",
                     static_cast<unsigned>(std::max(row.ByteAddress, settings.ProgramEnd + 1)),
                     static_cast<unsigned>(settings.ProgramEnd));
    }
    if (AddImageRow(row, plan.Space, line, image) == ImageResult::Conflict) {
        return Words("the bytes for %s address 0x%04X differ from those on line %u",
                     HexSpaceName(image.ConflictSpace),
                     static_cast<unsigned>(image.ConflictAddress),
                     static_cast<unsigned>(image.EarlierLine));
    }
    return {};
}

// Why the pass stopped at record, in plain words.
std::string DefectText(const DecodedRecord& record, const HexRowSettings& settings) {
    switch (record.Defect) {
    case HexDefect::Text:
        return HexStatusText(record.Status);
    case HexDefect::PastLineCount:
        return "this line holds a second record, which would never be written (one record per "
               "line is read)";
    case HexDefect::Content:
    case HexDefect::None:
        break;
    }
    return PlanFault(record.Code, record.Record, record.Upper, settings);
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
    HexFileReader hex(path, settings, HexPass::Programmer);
    check.Lines = hex.Lines();
    if (!hex.Opened()) {
        check.Fault = HexFault::Unreadable;
        check.Code = ProgramResult::FileError;
        check.Error = "the file cannot be read";
        return check;
    }
    check.Image.Lines = check.Lines;
    DecodedRecord record;
    while (hex.Next(record)) {
        if (record.Defect != HexDefect::None) {
            Refuse(check, record.Code, record.Record.Line, DefectText(record, settings));
            return check;
        }
        const HexRowPlan& plan = record.Plan;
        if (record.Record.Type == HexType::Data && plan.Space == HexSpace::None) {
            ++check.SkippedRecords;
        }
        for (unsigned r = 0; r < plan.RowCount; ++r) {
            const HexRow& row = plan.Rows[r];
            if (plan.Enabled) {
                if (std::string reason =
                        UnwritableRow(plan, row, record.Record.Line, settings, check.Image);
                    !reason.empty()) {
                    check.Fault = HexFault::Unwritable;
                    check.ErrorLine = record.Record.Line;
                    check.Error = std::move(reason);
                    return check;
                }
            }
            // A record of 0 bytes supplies no data, whatever its row is padded with.
            if (row.Supplied != 0) {
                check.Rows.push_back({plan.Space, plan.Enabled, row.Address, record.Record.Line});
            }
        }
        check.Records = check.Image.Records = hex.Records();
    }
    if (std::none_of(check.Rows.begin(), check.Rows.end(),
                     [](const CheckedRow& row) { return row.Sent; })) {
        check.Fault = HexFault::NoData;
        check.Error = "the file holds no data for " + EnabledSpaces(settings);
    }
    return check;
}

HexCheck CheckHexFileForFlash(const char* path, const HexRowSettings& settings) {
    HexCheck check = CheckHexFile(path, settings);
    if (check.Fault == HexFault::None && !ProgramLogUsable()) {
        check.Fault = HexFault::LogUnwritable;
        check.Error = std::string(ProgramLogName) +
                      " cannot be written in the current folder (it must be a plain file, or new)";
    }
    return check;
}
