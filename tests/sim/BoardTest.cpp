#include "sim/Board.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Header(std::uint8_t command, std::uint8_t count, std::uint32_t address) {
    return {command, count, static_cast<std::uint8_t>(address),
            static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address >> 16)};
}

std::optional<Bytes> Exec(Board& board, const Bytes& request) {
    return board.Execute(request.data(), request.size());
}

Bytes Write(std::uint8_t command, std::uint8_t count, std::uint32_t address, const Bytes& data) {
    Bytes request(5 + data.size());
    const Bytes header = Header(command, count, address);
    std::copy(header.begin(), header.end(), request.begin());
    std::copy(data.begin(), data.end(), request.begin() + 5);
    return request;
}

// The data part of a read reply.
Bytes ReadData(Board& board, std::uint8_t command, std::uint8_t count, std::uint32_t address) {
    std::optional<Bytes> reply = Exec(board, Header(command, count, address));
    if (!reply || reply->size() < 5) {
        ADD_FAILURE() << "read got no reply";
        return {};
    }
    return Bytes(reply->begin() + 5, reply->end());
}

TEST(BoardFlash, WriteClearsBitsOnlyUntilTheRowIsErased) {
    Board board;
    EXPECT_EQ(board.ReadProgramSpace(0x200), 0xFF);
    ASSERT_TRUE(Exec(board, Write(2, 1, 0x200, {0xF0, 0x0F, 0xAA, 0x55, 0, 1, 2, 3})));
    ASSERT_TRUE(Exec(board, Write(2, 1, 0x200, {0x3C, 0x3C, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})));
    EXPECT_EQ(ReadData(board, 1, 8, 0x200), (Bytes{0x30, 0x0C, 0xAA, 0x55, 0, 1, 2, 3}));

    // Erasing the row that holds 0x23F (0x200..0x23F) restores 0xFF there and nowhere else.
    ASSERT_TRUE(Exec(board, Write(2, 1, 0x240, Bytes(8, 0x11))));
    ASSERT_TRUE(Exec(board, Header(3, 1, 0x23F)));
    EXPECT_EQ(ReadData(board, 1, 8, 0x200), Bytes(8, 0xFF));
    EXPECT_EQ(ReadData(board, 1, 8, 0x240), Bytes(8, 0x11));
}

TEST(BoardFlash, CountsAreBlocksForWritesAndRowsForErases) {
    Board board;
    Bytes data(24);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i);
    }
    ASSERT_TRUE(Exec(board, Write(2, 3, 0x1000, data)));
    EXPECT_EQ(ReadData(board, 1, 25, 0x1000).back(), 0xFF);
    EXPECT_EQ(ReadData(board, 1, 24, 0x1000), data);

    // Three rows from 0x1000 reach 0x10BF; 0x10C0 keeps what was written.
    ASSERT_TRUE(Exec(board, Write(2, 1, 0x10C0, Bytes(8, 0))));
    ASSERT_TRUE(Exec(board, Header(3, 3, 0x1000)));
    EXPECT_EQ(ReadData(board, 1, 8, 0x10B8), Bytes(8, 0xFF));
    EXPECT_EQ(ReadData(board, 1, 8, 0x10C0), Bytes(8, 0));

    // Several rows at once up to the last, which ends at 0x7FFF.
    ASSERT_TRUE(Exec(board, Write(2, 1, 0x7FF8, Bytes(8, 0))));
    ASSERT_TRUE(Exec(board, Header(3, 2, 0x7F80)));
    EXPECT_EQ(ReadData(board, 1, 8, 0x7FF8), Bytes(8, 0xFF));
}

TEST(BoardFlash, IdLocationsAreFlashAndConfigurationBytesAreReplaced) {
    Board board;
    ASSERT_TRUE(Exec(board, Write(2, 1, 0x200000, {1, 2, 3, 4, 5, 6, 7, 8})));
    ASSERT_TRUE(Exec(board, Write(2, 1, 0x200000, Bytes(8, 0xFE))));
    EXPECT_EQ(ReadData(board, 1, 8, 0x200000), (Bytes{0, 2, 2, 4, 4, 6, 6, 8}));
    ASSERT_TRUE(Exec(board, Header(3, 1, 0x200000)));
    EXPECT_EQ(ReadData(board, 1, 8, 0x200000), Bytes(8, 0xFF));

    ASSERT_TRUE(Exec(board, Write(7, 2, 0x300001, {0x22, 0x0F})));
    ASSERT_TRUE(Exec(board, Write(7, 1, 0x300001, {0x27})));
    EXPECT_EQ(ReadData(board, 6, 3, 0x300000), (Bytes{0xFF, 0x27, 0x0F}));
    // Past the fourteenth byte there is no configuration memory.
    ASSERT_TRUE(Exec(board, Write(7, 1, 0x30000E, {0x12})));
    EXPECT_EQ(ReadData(board, 6, 3, 0x30000C), (Bytes{0xFF, 0xFF, 0x00}));
}

TEST(BoardBootBlock, ErasesAndWritesThereChangeNothingAndAreCounted) {
    Board board;
    const Bytes before = ReadData(board, 1, 250, 0x106);
    EXPECT_EQ(board.ReadProgramSpace(0), Board::BootBlockByte(0));
    EXPECT_NE(Board::BootBlockByte(0x1FF), 0xFF);

    ASSERT_TRUE(Exec(board, Header(3, 8, 0)));
    ASSERT_TRUE(Exec(board, Write(2, 1, 0x100, Bytes(8, 0))));
    EXPECT_EQ(board.Stats().Violations, 2u);
    EXPECT_EQ(ReadData(board, 1, 250, 0x106), before);

    // A write straddling 0x200 leaves the boot block but programs the rest.
    ASSERT_TRUE(Exec(board, Write(2, 2, 0x1F8, Bytes(16, 0x00))));
    EXPECT_EQ(board.Stats().Violations, 3u);
    EXPECT_EQ(board.ReadProgramSpace(0x1FF), Board::BootBlockByte(0x1FF));
    EXPECT_EQ(board.ReadProgramSpace(0x200), 0x00);

    // The application area alone is no violation.
    ASSERT_TRUE(Exec(board, Header(3, 1, 0x200)));
    EXPECT_EQ(board.Stats().Violations, 3u);
}

TEST(BoardEeprom, BytesAreReplacedAndTheLastOneIsTheRunModeFlag) {
    Board board;
    EXPECT_FALSE(board.RunMode());
    ASSERT_TRUE(Exec(board, Write(5, 3, 0x10, {0x0F, 0x00, 0xA5})));
    ASSERT_TRUE(Exec(board, Write(5, 1, 0x11, {0xFF})));
    EXPECT_EQ(ReadData(board, 4, 4, 0x10), (Bytes{0x0F, 0xFF, 0xA5, 0xFF}));

    ASSERT_TRUE(Exec(board, Write(5, 1, 0xFF, {0x00})));
    EXPECT_TRUE(board.RunMode());
    ASSERT_TRUE(Exec(board, Write(5, 1, 0xFF, {0xFF})));
    EXPECT_FALSE(board.RunMode());

    // Program memory is untouched by EEPROM writes at the same addresses.
    EXPECT_EQ(board.ReadProgramSpace(0x10), Board::BootBlockByte(0x10));
    // Beyond 0xFF there is no EEPROM: reads give 0x00, writes are lost.
    ASSERT_TRUE(Exec(board, Write(5, 2, 0xFF, {0x00, 0x33})));
    EXPECT_EQ(ReadData(board, 4, 2, 0xFF), (Bytes{0x00, 0x00}));
}

TEST(BoardReads, DeviceIdUnimplementedAddressesAndStuckBytes) {
    Board board;
    EXPECT_EQ(ReadData(board, 1, 2, 0x3FFFFE), (Bytes{0x24, 0x04}));
    board.SetDeviceId(0x1234);
    EXPECT_EQ(ReadData(board, 1, 2, 0x3FFFFE), (Bytes{0x34, 0x12}));
    EXPECT_EQ(ReadData(board, 1, 4, 0x8000), Bytes(4, 0x00));
    EXPECT_EQ(ReadData(board, 1, 2, 0x3FFFFC), (Bytes{0x00, 0x00}));

    board.SetStuckByte(0x400, 0x5A);
    ASSERT_TRUE(Exec(board, Header(3, 1, 0x400)));
    EXPECT_EQ(ReadData(board, 1, 2, 0x400), (Bytes{0x5A, 0xFF}));
}

TEST(BoardReplies, EveryCommandEchoesItsHeaderAndReadsAppendTheirData) {
    Board board;
    for (int code : {1, 4, 6}) {
        const auto command = static_cast<std::uint8_t>(code);
        std::optional<Bytes> reply = Exec(board, Header(command, 3, 0x300000));
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->size(), 8u) << int{command};
        EXPECT_EQ(Bytes(reply->begin(), reply->begin() + 5), Header(command, 3, 0x300000));
    }
    const Bytes writes[] = {Write(2, 1, 0x208, Bytes(8, 0)), Header(3, 1, 0x7FC0),
                            Write(5, 2, 0x20, {1, 2}), Write(7, 1, 0x300000, {9}),
                            Write(8, 0, 0x1234, {7, 7, 7})};
    for (const Bytes& request : writes) {
        std::optional<Bytes> reply = Exec(board, request);
        ASSERT_TRUE(reply) << int{request[0]};
        EXPECT_EQ(*reply, Bytes(request.begin(), request.begin() + 5));
    }
    const BoardStats& stats = board.Stats();
    for (int code = 1; code <= 8; ++code) {
        EXPECT_EQ(stats.RequestsByCommand[code], 1u) << code;
    }
    EXPECT_EQ(stats.Requests(), 8u);
    EXPECT_EQ(stats.Malformed, 0u);
    // A read of nothing still gets its header back.
    EXPECT_EQ(Exec(board, Header(1, 0, 0x200))->size(), 5u);
}

TEST(BoardReplies, MalformedRequestsGetNoReplyChangeNothingAndAreCounted) {
    Board board;
    const Bytes bad[] = {
        {},
        {1, 2, 0, 0},        // header cut short
        Header(0, 1, 0x200), // unknown commands
        Header(9, 1, 0x200),
        Write(2, 1, 0x204, Bytes(8, 0)), // write not on an 8-byte boundary
        Write(2, 2, 0x200, Bytes(8, 0)), // two blocks announced, one sent
        Write(2, 1, 0x200, Bytes(9, 0)), // one byte too many
        Write(5, 2, 0x00, {0}),          // EEPROM count is in bytes
        Write(1, 1, 0x200, {0}),         // reads and erases carry no data
        Write(3, 1, 0x200, {0}),
        Write(7, 0, 0x300000, {0}),
        // What the chip's bootloader cannot take: more than 250 data bytes, an erase past the
        // end of program memory.
        Write(2, 32, 0x200, Bytes(256, 0)),
        Write(5, 251, 0x00, Bytes(251, 0)),
        Header(1, 251, 0x200),
        Header(4, 251, 0x00),
        Header(3, 2, 0x7FC0),
        Header(3, 255, 0x5000),
    };
    for (const Bytes& request : bad) {
        EXPECT_FALSE(Exec(board, request)) << request.size();
    }
    EXPECT_EQ(board.Stats().Malformed, std::size(bad));
    EXPECT_EQ(board.Stats().Requests(), 0u);
    EXPECT_EQ(board.ReadProgramSpace(0x200), 0xFF);
    EXPECT_EQ(board.ReadEeprom(0), 0xFF);
}

TEST(BoardLoad, FillsMemoriesDirectlyButNeverTheBootBlockOrDeviceId) {
    Board board;
    EXPECT_TRUE(board.LoadProgramSpace(0x300, 0x12));
    EXPECT_TRUE(board.LoadProgramSpace(0x300, 0x21)); // replaced, not ANDed
    EXPECT_EQ(board.ReadProgramSpace(0x300), 0x21);
    EXPECT_TRUE(board.LoadProgramSpace(0x10, 0x00));
    EXPECT_EQ(board.ReadProgramSpace(0x10), Board::BootBlockByte(0x10));
    EXPECT_FALSE(board.LoadProgramSpace(0x3FFFFE, 0x00));
    EXPECT_FALSE(board.LoadProgramSpace(0x8000, 0x00));
    EXPECT_TRUE(board.LoadEeprom(0xFF, 0x00));
    EXPECT_TRUE(board.RunMode());
    EXPECT_FALSE(board.LoadEeprom(0x100, 0x00));
    EXPECT_EQ(board.Stats().Violations, 0u);
}

} // namespace
