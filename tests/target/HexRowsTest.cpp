// Row planning cases that a run with the profile's defaults does not reach; the common ones are
// covered through the programmer against the board.

#include "target/HexRows.h"
#include "link/BootCommands.h"
#include "target/HexProgrammer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

HexRecord DataRecord(std::uint16_t offset, std::uint8_t count) {
    HexRecord r;
    r.Type = HexType::Data;
    r.Offset = offset;
    r.Count = count;
    std::fill_n(r.Data, count, std::uint8_t{0x5A});
    return r;
}

TEST(HexRowsTest, AddressUnitDividesProgramSpaceRowsOnly) {
    HexRowSettings words;
    words.AddressUnit = 2;
    std::uint16_t upper = 0;
    HexRowPlan plan;
    ASSERT_EQ(PlanHexRecord(DataRecord(0x0408, 16), upper, words, plan), 0);
    ASSERT_EQ(plan.RowCount, 2u);
    EXPECT_EQ(plan.Rows[0].Address, 0x200u);
    EXPECT_EQ(plan.Rows[1].Address, 0x208u); // the bytes after the first row's, in words
    EXPECT_EQ(plan.Rows[1].ByteAddress, 0x410u);
    // The guard looks at the address after the division.
    EXPECT_EQ(PlanHexRecord(DataRecord(0x03F0, 4), upper, words, plan),
              ProgramResult::BelowBootBlock);

    upper = 0x00F0;
    ASSERT_EQ(PlanHexRecord(DataRecord(0x00E8, 16), upper, words, plan), 0);
    EXPECT_EQ(plan.Rows[0].Address, 0xE0u);
    EXPECT_EQ(plan.Rows[1].Address, 0xF0u);
    EXPECT_EQ(plan.Rows[1].ByteAddress, 0xF0u);

    words.AddressUnit = 0;
    EXPECT_EQ(PlanHexRecord(DataRecord(0x00E8, 16), upper, words, plan), 0);
    upper = 0;
    EXPECT_EQ(PlanHexRecord(DataRecord(0x0400, 4), upper, words, plan), BootResult::ZeroUnit);
}

TEST(HexRowsTest, EnabledIdAndConfigurationRowsKeepTheirFullAddress) {
    HexRowSettings all;
    all.IdEnable = true;
    all.ConfigEnable = true;
    HexRowPlan plan;
    std::uint16_t upper = 0x0020;
    ASSERT_EQ(PlanHexRecord(DataRecord(0x0000, 8), upper, all, plan), 0);
    EXPECT_EQ(plan.Space, HexSpace::Id);
    EXPECT_TRUE(plan.Enabled);
    EXPECT_EQ(plan.Rows[0].Address, 0x200000u);
    EXPECT_EQ(plan.Rows[0].Supplied, 0x00FF);
    upper = 0x0030;
    ASSERT_EQ(PlanHexRecord(DataRecord(0x0004, 4), upper, all, plan), 0);
    EXPECT_EQ(plan.Space, HexSpace::Config);
    EXPECT_EQ(plan.Rows[0].Address, 0x300000u);
    EXPECT_EQ(plan.Rows[0].Supplied, 0x00F0);
}

TEST(HexRowsTest, EepromEndBindsOnlyWhileTheEepromIsWritten) {
    std::uint16_t upper = 0x00F0;
    HexRowPlan plan;
    HexRowSettings settings;
    EXPECT_EQ(PlanHexRecord(DataRecord(0x00F8, 8), upper, settings, plan), 0);
    EXPECT_EQ(PlanHexRecord(DataRecord(0x0100, 1), upper, settings, plan),
              ProgramResult::EepromOverrun);
    settings.EepromEnable = false;
    ASSERT_EQ(PlanHexRecord(DataRecord(0x0100, 1), upper, settings, plan), 0);
    EXPECT_FALSE(plan.Enabled);
}

} // namespace
