#include "target/EraseRunMode.h"
#include "link/BootCommands.h"
#include "link/Packet.h"
#include "target/TargetProfile.h"
#include "tests/target/TargetFixture.h"

#include <gtest/gtest.h>

namespace {

std::uint32_t RequestAddress(const Bytes& r) {
    return r[2] | r[3] << 8 | r[4] << 16;
}

class EraseTest : public BoardTest {};

TEST_F(EraseTest, DefaultRangeErasesTheApplicationAreaBlockByBlock) {
    board_->WithBoard([](Board& b) {
        for (std::uint32_t a = 0x200; a < 0x8000; ++a) {
            b.LoadProgramSpace(a, static_cast<std::uint8_t>(a));
        }
    });
    EXPECT_GE(EraseForFlash("job.hex"), 0);
    EXPECT_EQ(ProgressTotal, 0x7FFF);
    EXPECT_EQ(ProgressCount, 0x8000);
    EXPECT_EQ(Requests(BootCode::EraseProgram), 504u);
    EXPECT_EQ(board_->Stats().Requests(), 504u);
    for (std::uint32_t a = 0; a < 0x8000; ++a) {
        ASSERT_EQ(Program(a), a < 0x200 ? Board::BootBlockByte(a) : 0xFF) << std::hex << a;
    }
}

TEST(EraseLineTest, RequestsAreBuiltInPlaceAndStopAtTheFirstFailure) {
    LoadDefaults();
    LineBoard line([](const Bytes& r) { return RequestAddress(r) == 0x440; });
    ProgressCount = 0;
    EXPECT_EQ(EraseRange(0x200, 0x7FFF), PacketResult::NoAttemptsLeft);
    EXPECT_EQ(ProgressCount, 0x440);
    const std::vector<Bytes> requests = line.line.port->Requests();
    ASSERT_EQ(requests.size(), 9u + EraseAttempts);
    for (std::size_t i = 0; i < requests.size(); ++i) {
        const std::uint32_t address =
            0x200 + 64 * static_cast<std::uint32_t>(std::min<std::size_t>(i, 9));
        EXPECT_EQ(requests[i], (Bytes{0x03, 0x01, static_cast<std::uint8_t>(address),
                                      static_cast<std::uint8_t>(address >> 8), 0x00}));
    }
    LoadDefaults();
}

TEST(EraseLineTest, RangeEndsWithoutWrappingAround) {
    LoadDefaults();
    LineBoard line;
    ProgressCount = 5;
    EXPECT_EQ(EraseRange(0x300, 0x2FF), 0);
    EXPECT_EQ(ProgressCount, 5);
    EXPECT_GE(EraseRange(0x200, 0x220), 0);
    EXPECT_EQ(ProgressCount, 0x240);
    EXPECT_EQ(line.line.port->Requests().size(), 1u);

    EXPECT_GE(EraseRange(0xFFFFFF80, 0xFFFFFFFF), 0);
    EXPECT_EQ(line.line.port->Requests().size(), 3u);
    TargetProfile.EraseBlock = 0;
    EXPECT_GE(EraseRange(0x200, 0x7FFF), 0);
    EXPECT_EQ(line.line.port->Requests().size(), 4u);
    LoadDefaults();
}

TEST_F(EraseTest, RunModeFlagByte) {
    EXPECT_EQ(SetRunMode(1), 1);
    EXPECT_EQ(Eeprom(0xFF), 0x00);
    EXPECT_EQ(SetRunMode(0), 1);
    EXPECT_EQ(Eeprom(0xFF), 0xFF);
    EXPECT_EQ(Requests(BootCode::WriteEeprom), 2u);
    CloseComPort(TargetProfile.PortHandle);
    EXPECT_LT(SetRunMode(1), 0);
}

} // namespace
