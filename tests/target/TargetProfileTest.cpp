#include "target/TargetProfile.h"

#include "tests/support/MemoryPort.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(PortNameTable, TwentyOneNamesWithDevicePrefixFromCom10) {
    ASSERT_EQ(std::size(PortNameTable), 21u);
    for (int i = 0; i < PortNameCount; ++i) {
        std::string number = std::to_string(i + 1);
        std::string expected = (i < 9 ? "COM" : "\\\\.\\COM") + number;
        EXPECT_EQ(PortNameTable[i], expected) << "entry " << i;
    }
    EXPECT_STREQ(PortNameTable[8], "COM9");
    EXPECT_STREQ(PortNameTable[9], "\\\\.\\COM10");
    EXPECT_EQ(std::string(PortNameTable[9]).size(), 9u);
}

TEST(BaudTable, FifteenSpeedsWhoseTextsMatchTheirValues) {
    ASSERT_EQ(std::size(BaudTable), 15u);
    for (const BaudEntry& entry : BaudTable) {
        EXPECT_EQ(entry.Text, std::to_string(entry.Value));
    }
    for (int i = 1; i < BaudCount; ++i) {
        EXPECT_LT(BaudTable[i - 1].Value, BaudTable[i].Value) << "entry " << i;
    }
    EXPECT_EQ(BaudTable[DefaultBaudIndex].Value, 115200u);
    EXPECT_EQ(BaudTable[13].Value, 128000u);
}

class LoadDefaultsTest : public testing::Test {
protected:
    void TearDown() override {
        LoadDefaults();
        TargetProfile.PortIndex = 0;
        g_stage = StageIdle;
        ProgressTotal = 0;
        ProgressCount = 0;
        ProgressPercent = 0;
    }
};

TEST_F(LoadDefaultsTest, StoresEveryDefault) {
    // Every field off its default first, so that none passes by being left alone.
    TargetProfile.BaudRate = 1;
    TargetProfile.PortName = "elsewhere";
    TargetProfile.ReadTimeoutMs = 1;
    TargetProfile.MaxReadCount = 1;
    TargetProfile.Retries = 1;
    TargetProfile.DeviceName = "";
    TargetProfile.DeviceNumber = "";
    TargetProfile.WriteBlock = 1;
    TargetProfile.EraseBlock = 1;
    TargetProfile.AddressUnit = 2;
    TargetProfile.HexPath = "";
    TargetProfile.OutputHexPath = "";
    TargetProfile.ProgramEnd = 1;
    TargetProfile.ProgramStart = 1;
    TargetProfile.EepromEnd = 1;
    TargetProfile.EepromStart = 1;
    TargetProfile.ConfigEnd = 1;
    TargetProfile.ConfigStart = 1;
    TargetProfile.IdEnd = 1;
    TargetProfile.IdStart = 1;
    TargetProfile.ProgramEnable = 0;
    TargetProfile.EepromEnable = 0;
    TargetProfile.IdEnable = 1;
    TargetProfile.ConfigEnable = 1;
    TargetProfile.Connected = 1;
    TargetProfile.PortHandle = 12345;

    LoadDefaults();

    const TargetProfileData& p = TargetProfile;
    EXPECT_EQ(p.PortHandle, InvalidComHandle);
    EXPECT_EQ(p.BaudRate, 115200u);
    EXPECT_STREQ(p.PortName, "COM1");
    EXPECT_EQ(p.ReadTimeoutMs, 1500u);
    EXPECT_EQ(p.MaxReadCount, 128);
    EXPECT_EQ(p.Retries, 9);
    EXPECT_STREQ(p.DeviceName, "PIC18F452");
    EXPECT_STREQ(p.DeviceNumber, "33");
    EXPECT_EQ(p.WriteBlock, 8);
    EXPECT_EQ(p.EraseBlock, 64);
    EXPECT_EQ(p.AddressUnit, 1);
    EXPECT_STREQ(p.HexPath, "test.hex");
    EXPECT_STREQ(p.OutputHexPath, "testo.hex");
    EXPECT_EQ(p.ProgramEnd, 0x7FFFu);
    EXPECT_EQ(p.ProgramStart, 0x200u);
    EXPECT_EQ(p.EepromEnd, 0xFFu);
    EXPECT_EQ(p.EepromStart, 0u);
    EXPECT_EQ(p.ConfigEnd, 0x30000Fu);
    EXPECT_EQ(p.ConfigStart, 0x300000u);
    EXPECT_EQ(p.IdEnd, 0x20000Fu);
    EXPECT_EQ(p.IdStart, 0x200000u);
    EXPECT_EQ(p.ProgramEnable, 1);
    EXPECT_EQ(p.EepromEnable, 1);
    EXPECT_EQ(p.IdEnable, 0);
    EXPECT_EQ(p.ConfigEnable, 0);
    EXPECT_EQ(p.Connected, 0);
}

// A job carries the port index and the job's values over; defaults must not disturb them, nor
// close the port they forget.
TEST_F(LoadDefaultsTest, LeavesIndexStageProgressAndOpenPortAlone) {
    AttachedPort link = AttachMemoryPort();
    TargetProfile.PortHandle = link.handle;
    TargetProfile.Connected = 1;
    TargetProfile.PortIndex = 4;
    g_stage = StageWrite;
    ProgressTotal = 7;
    ProgressCount = 8;
    ProgressPercent = 9;

    LoadDefaults();

    EXPECT_EQ(TargetProfile.PortIndex, 4);
    EXPECT_EQ(g_stage, StageWrite);
    EXPECT_EQ(ProgressTotal, 7);
    EXPECT_EQ(ProgressCount, 8);
    EXPECT_EQ(ProgressPercent, 9);
    EXPECT_FALSE(link.port->Closed());
    EXPECT_NE(FindPortDevice(link.handle), nullptr);
    EXPECT_NE(CloseComPort(link.handle), 0);
}

} // namespace
