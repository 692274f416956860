#include "link/Packet.h"

#include "tests/support/CaseName.h"
#include "tests/support/MemoryPort.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

struct SendCase {
    std::string name;
    Bytes payload;
    Bytes wire;
};

class SendVectors : public testing::TestWithParam<SendCase> {};

TEST_P(SendVectors, FramesPayloadOnTheWire) {
    const SendCase& c = GetParam();
    AttachedPort link = AttachMemoryPort();
    EXPECT_EQ(
        SendPacket(link.handle, c.payload.data(), static_cast<std::uint16_t>(c.payload.size())),
        static_cast<std::int32_t>(c.payload.size()));
    EXPECT_EQ(link.port->Written(), c.wire);
}

INSTANTIATE_TEST_SUITE_P(
    Packet, SendVectors,
    testing::Values(SendCase{"DeviceIdRead",
                             {0x01, 0x02, 0xFE, 0xFF, 0x3F},
                             {0x0F, 0x0F, 0x01, 0x02, 0xFE, 0xFF, 0x3F, 0xC1, 0x04}},
                    SendCase{"OnlyFirstByteEscaped",
                             {0x05, 0x01, 0xFF, 0x00, 0x00, 0x00},
                             {0x0F, 0x0F, 0x05, 0x05, 0x01, 0xFF, 0x00, 0x00, 0x00, 0xFB, 0x04}},
                    SendCase{"ChecksumEscaped", {0xF1}, {0x0F, 0x0F, 0xF1, 0x05, 0x0F, 0x04}},
                    SendCase{"Empty", {}, {0x0F, 0x0F, 0x00, 0x04}},
                    SendCase{"EveryFramingValueInPayload",
                             {0x04, 0x0F, 0x05},
                             {0x0F, 0x0F, 0x05, 0x04, 0x05, 0x0F, 0x05, 0x05, 0xE8, 0x04}}),
    CaseName());

// Payload 05 EC: its first byte and its checksum (0F) both need an escape, so every kind of byte
// in a frame occurs once.
const Bytes FaultPayload{0x05, 0xEC};
const Bytes FaultWire{0x0F, 0x0F, 0x05, 0x05, 0xEC, 0x05, 0x0F, 0x04};

TEST(SendPacketFaults, FailedWriteAtEachPositionGivesItsCodeAndStops) {
    const std::array<std::int32_t, 8> expected{
        PacketResult::StartWriteFailed,    PacketResult::StartWriteFailed,
        PacketResult::EscapeWriteFailed,   PacketResult::PayloadWriteFailed,
        PacketResult::PayloadWriteFailed,  PacketResult::ChecksumEscapeWriteFailed,
        PacketResult::ChecksumWriteFailed, PacketResult::EndWriteFailed};
    ASSERT_EQ(expected.size(), FaultWire.size());
    for (std::size_t at = 0; at < FaultWire.size(); ++at) {
        SCOPED_TRACE("write " + std::to_string(at));
        AttachedPort link = AttachMemoryPort();
        link.port->FailWriteAt(at);
        EXPECT_EQ(SendPacket(link.handle, FaultPayload.data(), 2), expected[at]);
        EXPECT_EQ(link.port->Written(), Bytes(FaultWire.begin(), FaultWire.begin() + at));
        EXPECT_EQ(link.port->WriteCalls(), at + 1);
    }
}

// Once a byte cannot leave, the frame ends there, whichever byte it is.
TEST(SendPacketFaults, ByteThatCannotLeaveEndsTheFrame) {
    for (std::size_t at = 0; at < FaultWire.size(); ++at) {
        SCOPED_TRACE("held from write " + std::to_string(at));
        AttachedPort link = AttachMemoryPort();
        link.port->HoldCtsFrom(at);
        EXPECT_EQ(SendPacket(link.handle, FaultPayload.data(), 2), PacketResult::NotWritten);
        EXPECT_EQ(link.port->WriteCalls(), at + 1);
    }
}

TEST(SendPacketFaults, InvalidOrClosedHandleFailsOnFirstStartByte) {
    EXPECT_EQ(SendPacket(InvalidComHandle, FaultPayload.data(), 2), PacketResult::StartWriteFailed);
    AttachedPort link = AttachMemoryPort();
    ASSERT_NE(CloseComPort(link.handle), 0);
    EXPECT_EQ(SendPacket(link.handle, FaultPayload.data(), 2), PacketResult::StartWriteFailed);
    EXPECT_TRUE(link.port->Written().empty());
}

struct ReceiveCase {
    std::string name;
    Bytes wire;
    std::int32_t result;
    Bytes stored;
};

class ReceiveVectors : public testing::TestWithParam<ReceiveCase> {};

TEST_P(ReceiveVectors, DeframesAndChecks) {
    const ReceiveCase& c = GetParam();
    AttachedPort link = AttachMemoryPort();
    link.port->AppendStream(c.wire);
    std::array<std::uint8_t, 256> buffer{};
    EXPECT_EQ(ReceivePacket(link.handle, buffer.data(), 256), c.result);
    if (c.result >= 0) {
        EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + c.result), c.stored);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Packet, ReceiveVectors,
    testing::Values(
        ReceiveCase{"EmptyPacketPassesChecksum", {0x0F, 0x0F, 0x04}, 0, {}},
        ReceiveCase{"NoiseAndLoneStartSkipped",
                    {0xAA, 0x0F, 0xBB, 0x0F, 0x0F, 0x03, 0xFD, 0x04},
                    2,
                    {0x03, 0xFD}},
        ReceiveCase{"EscapedEndIsData", {0x0F, 0x0F, 0x05, 0x04, 0xFC, 0x04}, 2, {0x04, 0xFC}},
        ReceiveCase{"EscapedChecksum", {0x0F, 0x0F, 0xF1, 0x05, 0x0F, 0x04}, 2, {0xF1, 0x0F}},
        ReceiveCase{"BadChecksum", {0x0F, 0x0F, 0x03, 0xFC, 0x04}, PacketResult::BadChecksum, {}},
        ReceiveCase{"CutOffBeforeEnd", {0x0F, 0x0F, 0x03, 0xFD}, PacketResult::TimedOut, {}},
        ReceiveCase{"CutOffAfterEscape", {0x0F, 0x0F, 0x03, 0x05}, PacketResult::TimedOut, {}},
        ReceiveCase{"Silence", {}, PacketResult::TimedOut, {}},
        ReceiveCase{"ThirdStartNeedsOnlyOneMore",
                    {0x0F, 0x0F, 0x0F, 0x0F, 0x03, 0xFD, 0x04},
                    2,
                    {0x03, 0xFD}},
        ReceiveCase{"ThirdStartThenDataHuntsForTwo",
                    {0x0F, 0x0F, 0x0F, 0x03, 0xFD, 0x04},
                    PacketResult::TimedOut,
                    {}},
        // The dropped 80 must not count against the new packet's checksum.
        ReceiveCase{"StrayStartRestartsSum",
                    {0x0F, 0x0F, 0x80, 0x0F, 0x0F, 0x03, 0xFD, 0x04},
                    2,
                    {0x03, 0xFD}},
        ReceiveCase{"StartBeforeEndDropsUnfinishedPacket",
                    {0x0F, 0x0F, 0x01, 0x02, 0x0F, 0x0F, 0x04},
                    0,
                    {}}),
    CaseName());

TEST(ReceivePacketFaults, ReadFailureAnywhereEndsWithReadFailed) {
    const Bytes wire{0x0F, 0x0F, 0x05, 0x04, 0xFC, 0x04};
    for (std::size_t at = 0; at < wire.size(); ++at) {
        SCOPED_TRACE("read " + std::to_string(at));
        AttachedPort link = AttachMemoryPort();
        link.port->AppendStream(wire);
        link.port->FailReadAt(at);
        std::array<std::uint8_t, 256> buffer{};
        EXPECT_EQ(ReceivePacket(link.handle, buffer.data(), 256), PacketResult::ReadFailed);
        EXPECT_EQ(link.port->ReadCalls(), at + 1);
    }
}

Bytes Ones(std::size_t n) {
    return Bytes(n, 0x01);
}

// n stored bytes of value 01 sum to 0 modulo 256 when n is 256: 255 payload bytes and the
// checksum 01.
TEST(ReceivePacketCapacity, FullBufferAcceptedOneMoreOverflowsWithoutWritingPastIt) {
    for (std::size_t stored : {256u, 257u}) {
        SCOPED_TRACE(stored);
        AttachedPort link = AttachMemoryPort();
        Bytes wire{0x0F, 0x0F};
        Bytes body = Ones(stored);
        wire.insert(wire.end(), body.begin(), body.end());
        wire.push_back(0x04);
        link.port->AppendStream(wire);
        std::array<std::uint8_t, 257> buffer{};
        buffer[256] = 0xEE;
        std::int32_t expected = stored == 256 ? 256 : PacketResult::Overflow;
        EXPECT_EQ(ReceivePacket(link.handle, buffer.data(), 256), expected);
        EXPECT_EQ(buffer[256], 0xEE);
    }
}

TEST(ReceivePacketCapacity, EscapedByteCountsOnceAgainstCapacity) {
    AttachedPort link = AttachMemoryPort();
    link.port->AppendStream({0x0F, 0x0F, 0x05, 0x04, 0xFC, 0x04});
    std::array<std::uint8_t, 2> buffer{};
    EXPECT_EQ(ReceivePacket(link.handle, buffer.data(), 2), 2);
    link.port->AppendStream({0x0F, 0x0F, 0x05, 0x04, 0xFC, 0x04});
    EXPECT_EQ(ReceivePacket(link.handle, buffer.data(), 1), PacketResult::Overflow);
}

struct HuntCase {
    std::string name;
    std::size_t junk;
    bool loneStarts;
    std::int32_t result;
};

class HuntBound : public testing::TestWithParam<HuntCase> {};

TEST_P(HuntBound, SkippedBytesEndTheReceiveAsTimeOut) {
    const HuntCase& c = GetParam();
    AttachedPort link = AttachMemoryPort();
    Bytes wire;
    for (std::size_t i = 0; i < c.junk; ++i) {
        if (c.loneStarts) {
            wire.push_back(0x0F);
        }
        wire.push_back(0xAA);
    }
    Bytes packet = Frame({0x03});
    wire.insert(wire.end(), packet.begin(), packet.end());
    link.port->AppendStream(wire);
    std::array<std::uint8_t, 256> buffer{};
    EXPECT_EQ(ReceivePacket(link.handle, buffer.data(), 256), c.result);
}

INSTANTIATE_TEST_SUITE_P(Packet, HuntBound,
                         testing::Values(HuntCase{"AtLimit", 1024, false, 2},
                                         HuntCase{"OverLimit", 1025, false, PacketResult::TimedOut},
                                         HuntCase{"LoneStartsAtLimit", 1024, true, 2},
                                         HuntCase{"LoneStartsOverLimit", 1025, true,
                                                  PacketResult::TimedOut}),
                         CaseName());

// A line that keeps breaking packets with stray start bytes never skips a byte while hunting;
// only the bound on the receive's total time ends it.
TEST(ReceiveTimeBound, EndlessBrokenPacketsEndAsTimeOut) {
    constexpr std::uint32_t readTimeoutMs = 20;
    AttachedPort link = AttachMemoryPort(readTimeoutMs);
    const Bytes pattern{0x0F, 0x0F, 0x55};
    std::size_t next = 0;
    link.port->SetFeeder([&] { return pattern[next++ % pattern.size()]; });
    std::array<std::uint8_t, 256> buffer{};
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReceivePacket(link.handle, buffer.data(), 256), PacketResult::TimedOut);
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(readTimeoutMs * ReceiveTimeoutFactor));
    EXPECT_LT(elapsed, std::chrono::seconds(10));
}

struct ExchangeCase {
    std::string name;
    std::vector<Bytes> replies;
    std::uint16_t attempts;
    std::int32_t result;
    std::size_t requests;
};

class ExchangeAttempts : public testing::TestWithParam<ExchangeCase> {};

const Bytes Request{0x01, 0x02, 0xFE, 0xFF, 0x3F};
const Bytes GoodReply{0x0F, 0x0F, 0x03, 0xFD, 0x04};
const Bytes BadSumReply{0x0F, 0x0F, 0x03, 0xFC, 0x04};
const Bytes Silence{};
const Bytes FailingRead{0x0F};
const Bytes OverlongReply = [] {
    Bytes wire{0x0F, 0x0F};
    Bytes body = Ones(300);
    wire.insert(wire.end(), body.begin(), body.end());
    wire.push_back(0x04);
    return wire;
}();

TEST_P(ExchangeAttempts, RepeatsOnlyOnTimeOutAndBadChecksum) {
    const ExchangeCase& c = GetParam();
    AttachedPort link = AttachMemoryPort();
    link.port->QueueReplies(c.replies);
    std::array<std::uint8_t, 256> buffer{};
    std::copy(Request.begin(), Request.end(), buffer.begin());
    EXPECT_EQ(ExchangePacket(link.handle, buffer.data(), 5, 256, c.attempts), c.result);
    EXPECT_EQ(link.port->Requests(), std::vector<Bytes>(c.requests, Request));
}

INSTANTIATE_TEST_SUITE_P(
    Packet, ExchangeAttempts,
    testing::Values(
        ExchangeCase{"FirstReplyGood", {GoodReply}, 9, 2, 1},
        ExchangeCase{"BadChecksumThenGood", {BadSumReply, GoodReply}, 9, 2, 2},
        ExchangeCase{"TimeOutThenGood", {Silence, Silence, GoodReply}, 9, 2, 3},
        ExchangeCase{"EveryReplyBad",
                     {BadSumReply, Silence, BadSumReply},
                     3,
                     PacketResult::NoAttemptsLeft,
                     3},
        ExchangeCase{"GoodReplyAfterLastAttemptUnused",
                     {Silence, GoodReply},
                     1,
                     PacketResult::NoAttemptsLeft,
                     1},
        ExchangeCase{
            "OverflowNotRepeated", {OverlongReply, GoodReply}, 9, PacketResult::Overflow, 1},
        ExchangeCase{"NoAttempts", {GoodReply}, 0, PacketResult::NoAttemptsLeft, 0}),
    CaseName());

TEST(ExchangeFaults, ReadFailureIsNotRepeated) {
    AttachedPort link = AttachMemoryPort();
    link.port->QueueReplies({BadSumReply, GoodReply});
    link.port->FailReadAt(BadSumReply.size() + 1);
    std::array<std::uint8_t, 256> buffer{};
    std::copy(Request.begin(), Request.end(), buffer.begin());
    EXPECT_EQ(ExchangePacket(link.handle, buffer.data(), 5, 256, 9), PacketResult::ReadFailed);
    EXPECT_EQ(link.port->Requests().size(), 2u);
}

TEST(ExchangeFaults, SendFailureIsNotRepeated) {
    AttachedPort link = AttachMemoryPort();
    link.port->QueueReply(Silence);
    // The first write of the second attempt.
    link.port->FailWriteAt(Frame(Request).size());
    std::array<std::uint8_t, 256> buffer{};
    std::copy(Request.begin(), Request.end(), buffer.begin());
    EXPECT_EQ(ExchangePacket(link.handle, buffer.data(), 5, 256, 9),
              PacketResult::StartWriteFailed);
    EXPECT_EQ(link.port->WriteCalls(), Frame(Request).size() + 1);
}

TEST(ExchangeFaults, ZeroAttemptsWritesNothing) {
    AttachedPort link = AttachMemoryPort();
    std::array<std::uint8_t, 8> buffer{};
    EXPECT_EQ(ExchangePacket(link.handle, buffer.data(), 5, 8, 0), PacketResult::NoAttemptsLeft);
    EXPECT_EQ(link.port->WriteCalls(), 0u);
    EXPECT_EQ(link.port->ReadCalls(), 0u);
}

// A long reply with a bad checksum overwrites the request in the buffer; the next attempt must
// still send the request, and bytes beyond the good reply keep the request's values.
TEST(ExchangeBuffer, RequestRestoredBeforeEveryAttempt) {
    AttachedPort link = AttachMemoryPort();
    Bytes clobber{0x0F, 0x0F, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x04};
    link.port->QueueReplies({clobber, GoodReply});
    std::array<std::uint8_t, 256> buffer{};
    std::copy(Request.begin(), Request.end(), buffer.begin());
    EXPECT_EQ(ExchangePacket(link.handle, buffer.data(), 5, 256, 9), 2);
    EXPECT_EQ(link.port->Requests(), std::vector<Bytes>(2, Request));
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 5), (Bytes{0x03, 0xFD, 0xFE, 0xFF, 0x3F}));
}

// The first attempt asks for a stop while it waits for its reply: no further request goes out.
bool StopEndsTheExchangeBeforeItsNextRequest() {
    AttachedPort link = AttachMemoryPort();
    link.port->SetFeeder([]() -> std::optional<std::uint8_t> {
        RequestStop();
        return std::nullopt;
    });
    std::array<std::uint8_t, 256> buffer{};
    std::copy(Request.begin(), Request.end(), buffer.begin());
    return ExchangePacket(link.handle, buffer.data(), 5, 256, 9) == PacketResult::Stopped &&
           link.port->Requests().size() == 1 && ExchangeStopped();
}

// A stop holds for the rest of the process, so it is requested in a child process of its own.
TEST(ExchangeStopDeathTest, AStopEndsTheExchangeBeforeItsNextRequest) {
    EXPECT_EXIT(std::exit(StopEndsTheExchangeBeforeItsNextRequest() ? 0 : 1),
                testing::ExitedWithCode(0), "");
}

} // namespace
