// Reading a range of memory in chunks the bootloader takes, whatever the replies bring.

#include "link/BootCommands.h"

#include "link/Packet.h"
#include "target/TargetProfile.h"
#include "tests/link/BootFixture.h"
#include "tests/support/CaseName.h"
#include "tests/support/MemoryPort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <numeric>
#include <ostream>
#include <string>

namespace {

struct Read {
    std::uint8_t countByte;
    std::uint32_t address;
    bool operator==(const Read&) const = default;
};

void PrintTo(const Read& read, std::ostream* os) {
    *os << int{read.countByte} << " units at " << read.address;
}

class MemoryRange : public BootTest {
protected:
    std::vector<Read> Reads() const {
        std::vector<Read> reads;
        for (const Bytes& request : link.port->Requests()) {
            reads.push_back({request[1], AddressOf(request)});
        }
        return reads;
    }

    Bytes image = Pattern(1024);
    std::array<std::uint8_t, 1024> out{};

    void SetUp() override {
        BootTest::SetUp();
        out.fill(0xEE);
    }
};

TEST_F(MemoryRange, ChunksOfAtMostMaxReadCount) {
    link.port->SetResponder(FakeMemory(image, 1));
    EXPECT_EQ(ReadMemoryRange(0, 299, 1, BootCode::ReadProgram, out.data()), 44);
    EXPECT_EQ(Reads(), (std::vector<Read>{{128, 0}, {128, 128}, {44, 256}}));
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 300), Bytes(image.begin(), image.begin() + 300));
    EXPECT_EQ(out[300], 0xEE);
}

TEST_F(MemoryRange, NothingToReadOrRefused) {
    link.port->SetResponder(FakeMemory(image, 1));
    EXPECT_EQ(ReadMemoryRange(10, 9, 1, BootCode::ReadProgram, out.data()), 0);
    EXPECT_EQ(ReadMemoryRange(0, 9, 0, BootCode::ReadProgram, out.data()), BootResult::ZeroUnit);
    EXPECT_EQ(ReadMemoryRange(0, 9, 1, BootCode::WriteProgram, out.data()), BootResult::BadCommand);
    EXPECT_EQ(ReadMemoryRange(0, 9, 3, BootCode::ReadProgram, out.data()),
              BootResult::UnitTooLarge);
    EXPECT_EQ(link.port->WriteCalls(), 0u);
    EXPECT_EQ(out[0], 0xEE);
}

// With two bytes per unit the last unit brings both its bytes and every request asks for whole
// units, so the output ends exactly at the range's last byte.
TEST_F(MemoryRange, WordUnitsCoverWholeUnits) {
    link.port->SetResponder(FakeMemory(image, 2));
    EXPECT_EQ(ReadMemoryRange(0, 99, 2, BootCode::ReadProgram, out.data()), 72);
    EXPECT_EQ(Reads(), (std::vector<Read>{{64, 0}, {36, 64}}));
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 200), Bytes(image.begin(), image.begin() + 200));
    EXPECT_EQ(out[200], 0xEE);

    link.port->ClearWritten();
    out.fill(0xEE);
    TargetProfile.MaxReadCount = 5;
    EXPECT_EQ(ReadMemoryRange(3, 7, 2, BootCode::ReadProgram, out.data()), 2);
    EXPECT_EQ(Reads(), (std::vector<Read>{{2, 3}, {2, 5}, {1, 7}}));
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 10), Bytes(image.begin() + 6, image.begin() + 16));
    EXPECT_EQ(out[10], 0xEE);
}

TEST_F(MemoryRange, AlwaysMovesOnAndNeverWraps) {
    link.port->SetResponder(FakeMemory(image, 1));
    TargetProfile.MaxReadCount = 0;
    EXPECT_EQ(ReadMemoryRange(0, 2, 1, BootCode::ReadProgram, out.data()), 1);
    EXPECT_EQ(Reads(), (std::vector<Read>{{1, 0}, {1, 1}, {1, 2}}));

    link.port->ClearWritten();
    out.fill(0xEE);
    LoadDefaults();
    TargetProfile.PortHandle = link.handle;
    EXPECT_EQ(ReadMemoryRange(0xFFFFFFFF, 0xFFFFFFFF, 1, BootCode::ReadEeprom, out.data()), 1);
    EXPECT_EQ(Reads(), (std::vector<Read>{{1, 0xFFFFFF}}));
    EXPECT_EQ(out[1], 0xEE);
}

TEST_F(MemoryRange, OversizedReplyStaysWithinItsChunk) {
    link.port->SetResponder([](const Bytes&) { return ReadReply(Bytes(200, 0x5A)); });
    EXPECT_EQ(ReadMemoryRange(0, 9, 1, BootCode::ReadProgram, out.data()), 200);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 10), Bytes(10, 0x5A));
    EXPECT_EQ(out[10], 0xEE);
}

TEST_F(MemoryRange, FailureKeepsEarlierChunks) {
    TargetProfile.Retries = 1;
    link.port->QueueReplies({ReadReply(Bytes(128, 0x11)), ReadReply(Bytes(128, 0x22))});
    EXPECT_EQ(ReadMemoryRange(0, 299, 1, BootCode::ReadProgram, out.data()),
              PacketResult::NoAttemptsLeft);
    EXPECT_EQ(Reads().size(), 3u);
    EXPECT_EQ(out[0], 0x11);
    EXPECT_EQ(out[255], 0x22);
    EXPECT_EQ(out[256], 0xEE);
}

} // namespace
