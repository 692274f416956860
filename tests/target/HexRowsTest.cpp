#include "target/HexRows.h"
#include "link/BootCommands.h"
#include "target/HexProgrammer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

HexRecord MakeRecord(std::uint8_t type, std::uint16_t offset, std::vector<std::uint8_t> data) {
    HexRecord r;
    r.Type = type;
    r.Offset = offset;
    r.Count = static_cast<std::uint8_t>(data.size());
    std::copy(data.begin(), data.end(), r.Data);
    return r;
}

std::vector<std::uint8_t> Counting(std::size_t n, std::uint8_t from = 0) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) {
        v[i] = static_cast<std::uint8_t>(from + i);
    }
    return v;
}

std::vector<std::uint8_t> RowBytes(const HexRow& row) {
    return {std::begin(row.Bytes), std::end(row.Bytes)};
}

TEST(HexRowsTest, RecordStraddlingTwoRowsIsPaddedAndMasked) {
    std::uint16_t upper = 0;
    HexRowPlan plan;
    ASSERT_EQ(PlanHexRecord(MakeRecord(HexType::Data, 0x0208, Counting(16, 0x10)), upper,
                            HexRowSettings{}, plan),
              0);
    EXPECT_EQ(plan.Space, HexSpace::Program);
    EXPECT_TRUE(plan.Enabled);
    ASSERT_EQ(plan.RowCount, 2u);
    EXPECT_EQ(plan.Rows[0].Address, 0x200u);
    EXPECT_EQ(plan.Rows[1].Address, 0x210u);
    std::vector<std::uint8_t> first(8, 0xFF);
    for (std::uint8_t b = 0x10; b < 0x18; ++b) {
        first.push_back(b);
    }
    std::vector<std::uint8_t> second = Counting(8, 0x18);
    second.resize(16, 0xFF);
    EXPECT_EQ(RowBytes(plan.Rows[0]), first);
    EXPECT_EQ(RowBytes(plan.Rows[1]), second);
    EXPECT_EQ(plan.Rows[0].Supplied, 0xFF00);
    EXPECT_EQ(plan.Rows[1].Supplied, 0x00FF);

    ASSERT_EQ(PlanHexRecord(MakeRecord(HexType::Data, 0x0200, Counting(16)), upper,
                            HexRowSettings{}, plan),
              0);
    EXPECT_EQ(plan.RowCount, 1u);
    EXPECT_EQ(plan.Rows[0].Supplied, 0xFFFF);
}

TEST(HexRowsTest, BootBlockGuardComesBeforeTheEnableFlag) {
    std::uint16_t upper = 0;
    HexRowPlan plan;
    HexRowSettings disabled;
    disabled.ProgramEnable = false;
    EXPECT_EQ(PlanHexRecord(MakeRecord(HexType::Data, 0x01F8, Counting(16)), upper,
                            HexRowSettings{}, plan),
              ProgramResult::BelowBootBlock);
    EXPECT_EQ(PlanHexRecord(MakeRecord(HexType::Data, 0x01F8, Counting(16)), upper, disabled, plan),
              ProgramResult::BelowBootBlock);
    ASSERT_EQ(PlanHexRecord(MakeRecord(HexType::Data, 0x0200, Counting(16)), upper, disabled, plan),
              0);
    EXPECT_FALSE(plan.Enabled);
    // The guard looks at the address after the division by the address unit.
    HexRowSettings words;
    words.AddressUnit = 2;
    EXPECT_EQ(PlanHexRecord(MakeRecord(HexType::Data, 0x03F0, Counting(4)), upper, words, plan),
              ProgramResult::BelowBootBlock);
    words.AddressUnit = 0;
    EXPECT_EQ(PlanHexRecord(MakeRecord(HexType::Data, 0x0400, Counting(4)), upper, words, plan),
              BootResult::ZeroUnit);
}

TEST(HexRowsTest, RecordsThatCannotBeStoredOrActedOnAreRefused) {
    std::uint16_t upper = 0;
    HexRowPlan plan;
    // Position 15 plus 17 bytes fills the buffer exactly; one more byte would run past it.
    ASSERT_EQ(PlanHexRecord(MakeRecord(HexType::Data, 0x020F, Counting(17)), upper,
                            HexRowSettings{}, plan),
              0);
    EXPECT_EQ(plan.Rows[1].Supplied, 0xFFFF);
    EXPECT_EQ(PlanHexRecord(MakeRecord(HexType::Data, 0x020F, Counting(18)), upper,
                            HexRowSettings{}, plan),
              ProgramResult::BadRecord);
    EXPECT_EQ(PlanHexRecord(MakeRecord(HexType::Data, 0x0200, Counting(255)), upper,
                            HexRowSettings{}, plan),
              ProgramResult::BadRecord);
    for (std::uint8_t type : {std::uint8_t{0x06}, std::uint8_t{0xFF}}) {
        EXPECT_EQ(PlanHexRecord(MakeRecord(type, 0x0200, {}), upper, HexRowSettings{}, plan),
                  ProgramResult::BadRecord);
    }
    for (std::uint8_t type : {HexType::EndOfFile, HexType::ExtendedSegment, HexType::StartSegment,
                              HexType::StartLinear}) {
        EXPECT_EQ(PlanHexRecord(MakeRecord(type, 0, {0x12, 0x34}), upper, HexRowSettings{}, plan),
                  0);
        EXPECT_EQ(plan.RowCount, 0u);
        EXPECT_EQ(upper, 0);
    }
}

TEST(HexRowsTest, UpperAddressSelectsTheSpace) {
    std::uint16_t upper = 0;
    HexRowPlan plan;
    const HexRowSettings defaults;
    struct Case {
        std::uint8_t hi, lo;
        HexSpace space;
        bool enabled;
        std::uint32_t address;
    };
    for (const Case& c : {Case{0x00, 0x01, HexSpace::Program, true, 0x10000},
                          Case{0x00, 0x20, HexSpace::Id, false, 0x200000},
                          Case{0x00, 0x30, HexSpace::Config, false, 0x300000},
                          Case{0x00, 0x21, HexSpace::None, false, 0},
                          Case{0x00, 0xF0, HexSpace::Eeprom, true, 0x0000}}) {
        ASSERT_EQ(PlanHexRecord(MakeRecord(HexType::ExtendedLinear, 0, {c.hi, c.lo}), upper,
                                defaults, plan),
                  0);
        EXPECT_EQ(upper, c.hi << 8 | c.lo);
        ASSERT_EQ(
            PlanHexRecord(MakeRecord(HexType::Data, 0x0004, Counting(4)), upper, defaults, plan),
            0);
        EXPECT_EQ(plan.Space, c.space);
        EXPECT_EQ(plan.Enabled, c.enabled);
        EXPECT_EQ(plan.RowCount, c.space == HexSpace::None ? 0u : 1u);
        if (plan.RowCount > 0) {
            EXPECT_EQ(plan.Rows[0].Address, c.address);
        }
    }
}

TEST(HexRowsTest, EepromRowsUseByteAddressesWithinTheEeprom) {
    std::uint16_t upper = 0x00F0;
    HexRowPlan plan;
    HexRowSettings words;
    words.AddressUnit = 2;
    ASSERT_EQ(PlanHexRecord(MakeRecord(HexType::Data, 0x00E8, Counting(24)), upper, words, plan),
              0);
    ASSERT_EQ(plan.RowCount, 2u);
    EXPECT_EQ(plan.Rows[0].Address, 0xE0u);
    EXPECT_EQ(plan.Rows[1].Address, 0xF0u);
    EXPECT_EQ(plan.Rows[1].Supplied, 0xFFFF);

    EXPECT_EQ(PlanHexRecord(MakeRecord(HexType::Data, 0x00F8, Counting(9)), upper, HexRowSettings{},
                            plan),
              ProgramResult::EepromOverrun);
    EXPECT_EQ(PlanHexRecord(MakeRecord(HexType::Data, 0x0100, Counting(1)), upper, HexRowSettings{},
                            plan),
              ProgramResult::EepromOverrun);
    HexRowSettings off;
    off.EepromEnable = false;
    ASSERT_EQ(PlanHexRecord(MakeRecord(HexType::Data, 0x0100, Counting(1)), upper, off, plan), 0);
    EXPECT_FALSE(plan.Enabled);
}

TEST(HexRowsTest, SuppliedRunsAreFoundInOrder) {
    unsigned start = 99;
    unsigned length = 99;
    ASSERT_TRUE(NextSuppliedRun(0x8F0E, 0, start, length));
    EXPECT_EQ(start, 1u);
    EXPECT_EQ(length, 3u);
    ASSERT_TRUE(NextSuppliedRun(0x8F0E, start + length, start, length));
    EXPECT_EQ(start, 8u);
    EXPECT_EQ(length, 4u);
    ASSERT_TRUE(NextSuppliedRun(0x8F0E, start + length, start, length));
    EXPECT_EQ(start, 15u);
    EXPECT_EQ(length, 1u);
    EXPECT_FALSE(NextSuppliedRun(0x8F0E, 16, start, length));
    EXPECT_FALSE(NextSuppliedRun(0, 0, start, length));
}

} // namespace
