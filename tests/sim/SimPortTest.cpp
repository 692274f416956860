#include "sim/SimPort.h"

#include "link/Packet.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// Exchanges one request with the host's link layer; returns the result and the stored reply.
struct Exchanged {
    std::int32_t result;
    Bytes stored;
};

Exchanged Exchange(ComHandle port, const Bytes& request, std::uint16_t attempts = 3) {
    std::uint8_t buffer[256] = {};
    std::copy(request.begin(), request.end(), buffer);
    std::int32_t result =
        ExchangePacket(port, buffer, static_cast<std::uint16_t>(request.size()), 256, attempts);
    return {result, Bytes(buffer, buffer + (result > 0 ? result : 0))};
}

TEST(SimPortExchange, HostReadsWritesAndErasesThroughTheLinkLayer) {
    auto board = std::make_shared<BoardSession>();
    const ComHandle port = AttachSimPort(board);
    ASSERT_NE(port, InvalidComHandle);
    Exchanged id = Exchange(port, {0x01, 0x02, 0xFE, 0xFF, 0x3F});
    EXPECT_EQ(id.result, 8);
    EXPECT_EQ(id.stored, (Bytes{0x01, 0x02, 0xFE, 0xFF, 0x3F, 0x24, 0x04, 0x99}));

    Bytes write = {0x02, 0x01, 0x00, 0x02, 0x00, 0x0F, 0x05, 0x04, 0x00, 1, 2, 3, 4};
    EXPECT_EQ(Exchange(port, write).result, 6);
    Exchanged back = Exchange(port, {0x01, 0x08, 0x00, 0x02, 0x00});
    ASSERT_EQ(back.result, 14);
    EXPECT_EQ(Bytes(back.stored.begin() + 5, back.stored.end() - 1),
              Bytes(write.begin() + 5, write.end()));

    EXPECT_EQ(Exchange(port, {0x03, 0x01, 0x00, 0x02, 0x00}).result, 6);
    EXPECT_EQ(board->WithBoard([](const Board& b) { return b.ReadProgramSpace(0x200); }), 0xFF);
    EXPECT_EQ(CloseComPort(port), 1);
}

TEST(SimPortDevice, ClosingWakesAWaitingReaderAndRefusesFurtherUse) {
    auto board = std::make_shared<BoardSession>();
    SimPort port(board, 60000);
    int readResult = 2;
    std::thread reader([&] {
        std::uint8_t byte = 0;
        readResult = port.ReadByte(&byte);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto closing = std::chrono::steady_clock::now();
    EXPECT_TRUE(port.Close());
    reader.join();
    EXPECT_EQ(readResult, -1);
    EXPECT_LT(std::chrono::steady_clock::now() - closing, std::chrono::seconds(30));
    EXPECT_EQ(port.WriteByte(0x0F), -1);
    EXPECT_EQ(port.ReadTimeoutMs(), 60000u);
}

} // namespace
