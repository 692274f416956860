#include "target/EraseRunMode.h"
#include "link/BootCommands.h"
#include "link/Packet.h"
#include "target/HexRecord.h"
#include "target/TargetProfile.h"
#include "tests/support/CaseName.h"
#include "tests/target/TargetFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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
    // Bits 16 to 23 go in the fifth byte, bits 24 to 31 nowhere.
    EXPECT_EQ(line.line.port->Requests()[2], (Bytes{0x03, 0x01, 0xC0, 0xFF, 0xFF}));
    EXPECT_GE(EraseRange(0x12ABCDC0, 0x12ABCDC0), 0);
    EXPECT_EQ(line.line.port->Requests()[3], (Bytes{0x03, 0x01, 0xC0, 0xCD, 0xAB}));
    TargetProfile.EraseBlock = 0;
    EXPECT_GE(EraseRange(0x200, 0x7FFF), 0);
    EXPECT_EQ(line.line.port->Requests().size(), 5u);
    LoadDefaults();
}

// Erasing and programming in one call: a failed erase programs nothing.
TEST(EraseLineTest, EraseAndProgramNamesTheStepThatFailed) {
    LoadDefaults();
    TargetProfile.Retries = 2;
    WorkingFolder folder;
    const std::string path =
        folder.Create("a.hex", HexLine(HexType::Data, 0x0200, {1, 2, 3, 4}) + HexEnd);
    auto requests = [](const LineBoard& line, std::uint8_t command) {
        const std::vector<Bytes> all = line.line.port->Requests();
        return std::count_if(all.begin(), all.end(),
                             [command](const Bytes& r) { return r[0] == command; });
    };
    {
        LineBoard line([](const Bytes& r) { return r[0] == BootCode::EraseProgram; });
        EXPECT_EQ(EraseAndProgram(path.c_str()), EraseResult::EraseFailed);
        EXPECT_EQ(requests(line, BootCode::WriteProgram), 0);
    }
    {
        LineBoard line([](const Bytes& r) { return r[0] == BootCode::WriteProgram; });
        EXPECT_EQ(EraseAndProgram(path.c_str()), EraseResult::ProgramFailed);
        EXPECT_EQ(requests(line, BootCode::EraseProgram), 504);
    }
    {
        LineBoard line;
        EXPECT_EQ(EraseAndProgram(path.c_str()), 0);
        EXPECT_EQ(line.board->ReadProgramSpace(0x0203), 4);
    }
    EXPECT_STREQ(TargetProfile.HexPath, path.c_str());
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

// Boot mode before an erase: the flag written as 0xFF, then read back. A line that loses the
// write's or the read's replies, or a board that does not keep the flag, stops the job before it
// erases.
constexpr std::uint8_t W = BootCode::WriteEeprom;
constexpr std::uint8_t R = BootCode::ReadEeprom;

// What the line makes of a request: nullopt lets the board answer it; an empty reply is lost.
using Line = std::optional<Bytes> (*)(const Bytes& request);

std::optional<Bytes> Answered(const Bytes&) {
    return std::nullopt;
}
std::optional<Bytes> WritesLost(const Bytes& r) {
    return r[0] == W ? std::optional<Bytes>(Bytes{}) : std::nullopt;
}
std::optional<Bytes> ReadsLost(const Bytes& r) {
    return r[0] == R ? std::optional<Bytes>(Bytes{}) : std::nullopt;
}
// Acknowledged, never stored.
std::optional<Bytes> WritesIgnored(const Bytes& r) {
    return r[0] == W ? std::optional<Bytes>(Bytes(r.begin(), r.begin() + 5)) : std::nullopt;
}

struct BootModeCase {
    std::string name;
    Line line;
    std::int32_t result;
    std::vector<std::uint8_t> commands; // of the requests, in order, repeats included
    std::uint8_t flag;                  // afterwards
};

class BootMode : public testing::TestWithParam<BootModeCase> {};

TEST_P(BootMode, IsWrittenAndReadBack) {
    const BootModeCase& c = GetParam();
    LoadDefaults();
    TargetProfile.Retries = 2;
    auto board = std::make_shared<Board>();
    board->LoadEeprom(RunModeFlagAddress, 0x00);
    AttachedPort line = AttachMemoryPort(50);
    line.port->SetResponder([&c, board](const Bytes& request) {
        std::optional<Bytes> reply = c.line(request);
        if (!reply) {
            reply = board->Execute(request.data(), request.size()).value_or(Bytes{});
        }
        return reply->empty() ? Bytes{} : Frame(*reply);
    });
    TargetProfile.PortHandle = line.handle;
    EXPECT_EQ(EnterBootMode(), c.result);
    std::vector<std::uint8_t> commands;
    for (const Bytes& request : line.port->Requests()) {
        commands.push_back(request[0]);
    }
    EXPECT_EQ(commands, c.commands);
    EXPECT_EQ(board->ReadEeprom(RunModeFlagAddress), c.flag);
    CloseComPort(line.handle);
    LoadDefaults();
}

INSTANTIATE_TEST_SUITE_P(
    Flag, BootMode,
    testing::Values(
        BootModeCase{"Kept", Answered, 1, {W, R}, 0xFF},
        BootModeCase{"WriteLost", WritesLost, PacketResult::NoAttemptsLeft, {W, W}, 0x00},
        BootModeCase{"ReadLost", ReadsLost, PacketResult::NoAttemptsLeft, {W, R, R}, 0xFF},
        BootModeCase{"NotKept", WritesIgnored, EraseResult::BootModeNotKept, {W, R}, 0x00}),
    CaseName());

} // namespace
