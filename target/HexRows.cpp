#include "target/HexRows.h"

#include "link/BootCommands.h"
#include "target/HexProgrammer.h"
#include "target/TargetProfile.h"

#include <algorithm>

namespace {

HexSpace SpaceOf(std::uint16_t upper) {
    if (upper <= 0x001F) {
        return HexSpace::Program;
    }
    switch (upper) {
    case 0x0020:
        return HexSpace::Id;
    case 0x0030:
        return HexSpace::Config;
    case 0x00F0:
        return HexSpace::Eeprom;
    default:
        return HexSpace::None;
    }
}

bool EnabledIn(HexSpace space, const HexRowSettings& settings) {
    switch (space) {
    case HexSpace::Program:
        return settings.ProgramEnable;
    case HexSpace::Id:
        return settings.IdEnable;
    case HexSpace::Config:
        return settings.ConfigEnable;
    case HexSpace::Eeprom:
        return settings.EepromEnable;
    case HexSpace::None:
        break;
    }
    return false;
}

} // namespace

HexRowSettings HexRowSettingsFromProfile(std::uint8_t addressUnit) {
    HexRowSettings s;
    s.AddressUnit = addressUnit;
    s.ProgramEnable = TargetProfile.ProgramEnable != 0;
    s.EepromEnable = TargetProfile.EepromEnable != 0;
    s.IdEnable = TargetProfile.IdEnable != 0;
    s.ConfigEnable = TargetProfile.ConfigEnable != 0;
    s.EepromEnd = TargetProfile.EepromEnd;
    s.ProgramEnd = TargetProfile.ProgramEnd;
    return s;
}

std::int32_t PlanHexRecord(const HexRecord& record, std::uint16_t& upper,
                           const HexRowSettings& settings, HexRowPlan& plan) {
    plan = HexRowPlan{};
    if (record.Type > HexType::StartLinear) {
        return ProgramResult::BadRecord;
    }
    const unsigned start = record.Offset & 0xFu;
    const unsigned end = start + record.Count;
    if (end > HexRowBufferSize) {
        return ProgramResult::BadRecord;
    }
    std::uint8_t buffer[HexRowBufferSize];
    std::fill(std::begin(buffer), std::end(buffer), std::uint8_t{0xFF});
    std::copy_n(record.Data, record.Count, buffer + start);

    if (record.Type == HexType::ExtendedLinear) {
        // The upper address comes from the buffer's first two positions; unless they hold the
        // record's two bytes it would be read from the padding and every later record misplaced.
        if (record.Count != 2 || start != 0) {
            return ProgramResult::BadRecord;
        }
        upper = static_cast<std::uint16_t>(buffer[0] << 8 | buffer[1]);
        return 0;
    }
    if (record.Type == HexType::ExtendedSegment) {
        // Segments are not applied, so only segment 0 leaves the data where the file means it.
        if (record.Count != 2 || record.Data[0] != 0 || record.Data[1] != 0) {
            return ProgramResult::BadRecord;
        }
        return 0;
    }
    if (record.Type != HexType::Data) {
        return 0;
    }

    plan.Space = SpaceOf(upper);
    if (plan.Space == HexSpace::None) {
        return 0;
    }
    const std::uint32_t rowOffset = record.Offset & 0xFFF0u;
    std::uint32_t first = rowOffset;
    std::uint32_t second = rowOffset + HexRowSize;
    if (plan.Space != HexSpace::Eeprom) {
        if (settings.AddressUnit == 0) {
            return BootResult::ZeroUnit;
        }
        const std::uint32_t base = std::uint32_t{upper} << 16 | rowOffset;
        first = base / settings.AddressUnit;
        // The second row's bytes follow the first row's in the address space, so its address is
        // derived the same way rather than by adding 16 address units.
        second = (base + HexRowSize) / settings.AddressUnit;
    }
    if (plan.Space == HexSpace::Program && first < BootBlockEnd) {
        return ProgramResult::BelowBootBlock;
    }
    plan.Enabled = EnabledIn(plan.Space, settings);
    if (plan.Enabled && plan.Space == HexSpace::Eeprom && record.Count > 0 &&
        rowOffset + end - 1 > settings.EepromEnd) {
        return ProgramResult::EepromOverrun;
    }

    // 64 bits: a record may fill all 32 positions.
    const std::uint64_t supplied = ((std::uint64_t{1} << record.Count) - 1) << start;
    plan.RowCount = end > HexRowSize ? 2 : 1;
    for (unsigned r = 0; r < plan.RowCount; ++r) {
        HexRow& row = plan.Rows[r];
        row.Address = r == 0 ? first : second;
        row.ByteAddress =
            plan.Space == HexSpace::Eeprom ? row.Address : row.Address * settings.AddressUnit;
        std::copy_n(buffer + r * HexRowSize, HexRowSize, row.Bytes);
        row.Supplied = static_cast<std::uint16_t>(supplied >> (r * HexRowSize));
    }
    return 0;
}
