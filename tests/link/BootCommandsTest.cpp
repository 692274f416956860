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

// Byte-exact requests and replies of the commands this system sends.
TEST_F(BootTest, DeviceIdReadOnTheWire) {
    link.port->QueueReply({0x0F, 0x0F, 0x01, 0x02, 0xFE, 0xFF, 0x3F, 0x27, 0x05, 0x04, 0x96, 0x04});
    char text[5] = "xxxx";
    EXPECT_EQ(ReadDeviceId(text), 2);
    EXPECT_STREQ(text, "33");
    EXPECT_EQ(link.port->Written(), (Bytes{0x0F, 0x0F, 0x01, 0x02, 0xFE, 0xFF, 0x3F, 0xC1, 0x04}));
}

TEST_F(BootTest, RowWriteOnTheWire) {
    link.port->QueueReply(Frame({0x02}));
    BootCommand row{BootCode::WriteProgram, 16, 0x200, 8, 1, 9};
    Bytes data(16);
    std::iota(data.begin(), data.end(), std::uint8_t{0});
    EXPECT_EQ(BootWrite(link.handle, row, data.data()), 16);
    EXPECT_EQ(link.port->Written(),
              (Bytes{0x0F, 0x0F, 0x02, 0x02, 0x00, 0x02, 0x00, 0x00, 0x01, 0x02,
                     0x03, 0x05, 0x04, 0x05, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A,
                     0x0B, 0x0C, 0x0D, 0x0E, 0x05, 0x0F, 0x82, 0x04}));
}

TEST_F(BootTest, RunModeWriteOnTheWire) {
    link.port->QueueReply(Frame({}));
    BootCommand flag{BootCode::WriteEeprom, 1, 0xFF, 1, 1, 9};
    const std::uint8_t run = 0x00;
    EXPECT_EQ(BootWrite(link.handle, flag, &run), 1);
    EXPECT_EQ(link.port->Written(),
              (Bytes{0x0F, 0x0F, 0x05, 0x05, 0x01, 0xFF, 0x00, 0x00, 0x00, 0xFB, 0x04}));
}

enum class Op { Read, Write, Verify, Erase };

// An erase takes its rows from the count and its attempts from the retries.
std::int32_t Call(Op op, ComHandle handle, const BootCommand& command) {
    std::array<std::uint8_t, 256> buffer{};
    switch (op) {
    case Op::Read:
        return BootRead(handle, command, buffer.data());
    case Op::Write:
        return BootWrite(handle, command, buffer.data());
    case Op::Verify:
        return BootVerify(handle, command, buffer.data());
    case Op::Erase:
        return BootErase(handle, command.Address, command.Count,
                         static_cast<std::uint8_t>(command.Retries));
    }
    return 0;
}

// Each record is checked before anything is sent; the first failing check decides the code.
struct CheckCase {
    std::string name;
    Op op;
    BootCommand command;
    std::int32_t result;
};

class RecordChecks : public BootTest, public testing::WithParamInterface<CheckCase> {};

TEST_P(RecordChecks, RefusedRecordsSendNothing) {
    const CheckCase& c = GetParam();
    link.port->SetResponder([](const Bytes& request) {
        bool read = request[0] == BootCode::ReadProgram || request[0] == BootCode::ReadEeprom ||
                    request[0] == BootCode::ReadConfig;
        Bytes reply(request.begin(), request.begin() + 5);
        reply.resize(5 + (read ? std::size_t{request[1]} : 0));
        return Frame(reply);
    });
    EXPECT_EQ(Call(c.op, link.handle, c.command), c.result);
    EXPECT_EQ(link.port->Requests().size(), c.result < 0 ? 0u : 1u);
}

constexpr std::int32_t BadCommand = BootResult::BadCommand;
constexpr std::int32_t ZeroUnit = BootResult::ZeroUnit;
constexpr std::int32_t UnitTooLarge = BootResult::UnitTooLarge;
constexpr std::int32_t BlockBelowUnit = BootResult::BlockBelowUnit;
constexpr std::int32_t CountTooLarge = BootResult::CountTooLarge;
constexpr std::int32_t Misaligned = BootResult::Misaligned;

INSTANTIATE_TEST_SUITE_P(
    Boot, RecordChecks,
    testing::Values(
        CheckCase{"ReadCommandCheckedFirst", Op::Read, {2, 4, 0, 0, 0, 9}, BadCommand},
        CheckCase{"ReadEraseCode", Op::Read, {3, 4, 0, 1, 1, 9}, BadCommand},
        CheckCase{"ReadZeroUnit", Op::Read, {1, 4, 0, 0, 0, 9}, ZeroUnit},
        CheckCase{"ReadUnitThree", Op::Read, {1, 4, 0, 0, 3, 9}, UnitTooLarge},
        CheckCase{"ReadBlockBelowUnit", Op::Read, {1, 4, 0, 1, 2, 9}, BlockBelowUnit},
        CheckCase{"ReadCount251", Op::Read, {1, 251, 0, 1, 1, 9}, CountTooLarge},
        CheckCase{"ReadBlockBeforeCount", Op::Read, {1, 251, 0, 0, 1, 9}, BlockBelowUnit},
        CheckCase{"ReadCount250", Op::Read, {1, 250, 0, 1, 1, 9}, 250},
        CheckCase{"ReadEeprom", Op::Read, {4, 2, 0, 1, 1, 9}, 2},
        CheckCase{"ReadConfig", Op::Read, {6, 2, 0, 1, 1, 9}, 2},
        CheckCase{"ReadUnitTwoCountsUnits", Op::Read, {1, 4, 0, 2, 2, 9}, 2},
        CheckCase{"WriteReadCode", Op::Write, {1, 8, 0, 8, 1, 9}, BadCommand},
        CheckCase{"WriteEraseCode", Op::Write, {3, 8, 0, 8, 1, 9}, BadCommand},
        CheckCase{"WriteEepromReadCode", Op::Write, {4, 8, 0, 8, 1, 9}, BadCommand},
        CheckCase{"WriteConfigReadCode", Op::Write, {6, 8, 0, 8, 1, 9}, BadCommand},
        CheckCase{"WriteZeroUnit", Op::Write, {2, 8, 0, 8, 0, 9}, ZeroUnit},
        CheckCase{"WriteUnitThree", Op::Write, {2, 8, 0, 8, 3, 9}, UnitTooLarge},
        CheckCase{"WriteZeroBlock", Op::Write, {2, 8, 0, 0, 1, 9}, BlockBelowUnit},
        CheckCase{"WriteCountBeforeAlignment", Op::Write, {2, 252, 4, 8, 1, 9}, CountTooLarge},
        CheckCase{"WriteBlockBeforeCount", Op::Write, {2, 251, 0, 0, 1, 9}, BlockBelowUnit},
        // Every other check fails too: the command's decides.
        CheckCase{"WriteCommandBeforeAll", Op::Write, {3, 251, 0x201, 0, 0, 9}, BadCommand},
        CheckCase{"WriteCommandBeforeUnit", Op::Write, {1, 8, 0, 8, 3, 9}, BadCommand},
        CheckCase{"WriteMisalignedAddress", Op::Write, {2, 16, 0x204, 8, 1, 9}, Misaligned},
        CheckCase{"WriteMisalignedCount", Op::Write, {2, 12, 0x200, 8, 1, 9}, Misaligned},
        CheckCase{"WriteProgram", Op::Write, {2, 16, 0x200, 8, 1, 9}, 16},
        CheckCase{"WriteConfig", Op::Write, {7, 1, 0, 1, 1, 9}, 1},
        CheckCase{"WriteOther", Op::Write, {8, 8, 8, 8, 1, 9}, 8},
        CheckCase{"VerifyWriteCode", Op::Verify, {2, 4, 0, 1, 1, 9}, BadCommand},
        CheckCase{"VerifyZeroUnit", Op::Verify, {1, 4, 0, 1, 0, 9}, ZeroUnit}),
    CaseName());

struct HeaderCase {
    std::string name;
    Op op;
    BootCommand command;
    Bytes header;
};

class RequestHeaders : public BootTest, public testing::WithParamInterface<HeaderCase> {};

TEST_P(RequestHeaders, CountByteAndLow24AddressBits) {
    link.port->QueueReply(Frame({0x00, 0x00}));
    Call(GetParam().op, link.handle, GetParam().command);
    ASSERT_EQ(link.port->Requests().size(), 1u);
    Bytes request = link.port->Requests()[0];
    EXPECT_EQ(Bytes(request.begin(), request.begin() + 5), GetParam().header);
}

INSTANTIATE_TEST_SUITE_P(
    Boot, RequestHeaders,
    testing::Values(HeaderCase("ReadOddCountInWords", Op::Read, {1, 3, 0x123456, 2, 2, 9},
                               {0x01, 0x01, 0x56, 0x34, 0x12}),
                    HeaderCase("ReadHighAddressByteDropped", Op::Read, {6, 14, 0xAB300001, 1, 1, 9},
                               {0x06, 0x0E, 0x01, 0x00, 0x30}),
                    HeaderCase("WriteCountsBlocks", Op::Write, {2, 48, 0x7FD0, 16, 1, 9},
                               {0x02, 0x03, 0xD0, 0x7F, 0x00}),
                    HeaderCase("EraseRows", Op::Erase, {3, 2, 0x01000240, 0, 0, 5},
                               {0x03, 0x02, 0x40, 0x02, 0x00})),
    CaseName());

TEST_F(BootTest, ReadDataCountComesFromTheReply) {
    struct Case {
        Bytes reply;
        std::int32_t result;
    };
    const Case cases[] = {
        {ReadReply(Pattern(16)), 16}, {ReadReply(Pattern(3)), 3}, {ReadReply(Pattern(250)), 250},
        {ReadReply({}), 0},           {Frame({0x01, 0x02}), 0},   {Frame({}), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.result);
        link.port->QueueReply(c.reply);
        std::array<std::uint8_t, 251> out{};
        out.fill(0xEE);
        EXPECT_EQ(BootRead(link.handle, {1, 16, 0, 1, 1, 9}, out.data()), c.result);
        if (c.result > 0) {
            EXPECT_EQ(Bytes(out.begin(), out.begin() + c.result), Pattern(std::size_t(c.result)));
        }
        EXPECT_EQ(out[std::size_t(std::max(c.result, 0))], 0xEE);
    }
}

TEST_F(BootTest, LinkFailuresPassThrough) {
    std::array<std::uint8_t, 256> out{};
    EXPECT_EQ(BootRead(link.handle, {1, 2, 0, 1, 1, 3}, out.data()), PacketResult::NoAttemptsLeft);
    EXPECT_EQ(link.port->Requests().size(), 3u);
    EXPECT_EQ(BootWrite(InvalidComHandle, {5, 1, 0xFF, 1, 1, 9}, out.data()),
              PacketResult::StartWriteFailed);
    ComHandle stale = link.handle;
    ASSERT_NE(CloseComPort(stale), 0);
    link.port->ClearWritten();
    EXPECT_EQ(BootWrite(stale, {5, 1, 0xFF, 1, 1, 9}, out.data()), PacketResult::StartWriteFailed);
    EXPECT_TRUE(link.port->Written().empty());
}

TEST_F(BootTest, VerifyComparesOnlyWhatCameBack) {
    struct Case {
        std::string name;
        Bytes data;
        std::int32_t result;
    };
    Bytes expected = Pattern(16);
    Bytes lastDiffers = expected;
    lastDiffers[15] ^= 0x01;
    Bytes firstDiffers = expected;
    firstDiffers[0] = 0;
    // Extra bytes lie beyond what the caller holds: they are never compared.
    Bytes longer = expected;
    longer.insert(longer.end(), 200, 0xEE);
    const Case cases[] = {
        {"Equal", expected, 16},
        {"LastDiffers", lastDiffers, BootResult::VerifyMismatch},
        {"FirstDiffers", firstDiffers, BootResult::VerifyMismatch},
        {"Shorter", Bytes(expected.begin(), expected.begin() + 10), 10},
        {"Longer", longer, 16},
        {"NoData", {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        link.port->QueueReply(ReadReply(c.data));
        EXPECT_EQ(BootVerify(link.handle, {1, 16, 0x200, 1, 1, 9}, expected.data()), c.result);
    }
}

TEST_F(BootTest, EraseReturnsSecondStoredByte) {
    link.port->QueueReply(Frame({0x03, 0x2A, 0x00}));
    EXPECT_EQ(BootErase(link.handle, 0x200, 1, 5), 0x2A);
    // Only the checksum stored: the request's row count is still in place.
    link.port->QueueReply(Frame({}));
    EXPECT_EQ(BootErase(link.handle, 0x240, 7, 5), 7);
    link.port->ClearWritten();
    EXPECT_EQ(BootErase(link.handle, 0x280, 1, 5), PacketResult::NoAttemptsLeft);
    EXPECT_EQ(link.port->Requests().size(), 5u);
}

struct DeviceCase {
    std::string name;
    Bytes data;
    const char* text;
    std::int32_t result;
};

class DeviceId : public BootTest, public testing::WithParamInterface<DeviceCase> {};

TEST_P(DeviceId, DecodesUpperElevenBits) {
    link.port->QueueReply(ReadReply(GetParam().data));
    char text[5] = "xxxx";
    EXPECT_EQ(ReadDeviceId(text), GetParam().result);
    EXPECT_STREQ(text, GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Boot, DeviceId,
                         testing::Values(DeviceCase{"Pic18F452", {0x27, 0x04}, "33", 2},
                                         DeviceCase{"LowestRevision", {0x20, 0x04}, "33", 2},
                                         DeviceCase{"HighestRevision", {0x3F, 0x04}, "33", 2},
                                         DeviceCase{"NextDevice", {0x40, 0x04}, "34", 2},
                                         DeviceCase{"Largest", {0xFF, 0xFF}, "2047", 2},
                                         DeviceCase{
                                             "ExtraBytesIgnored", {0x27, 0x04, 0xFF}, "33", 3},
                                         DeviceCase{"HighByteMissing", {0x27}, "1", 1},
                                         DeviceCase{"NoData", {}, "0", 0}),
                         CaseName());

struct LateReplyCase {
    std::string name;
    std::vector<Bytes> replies; // what the line brings after each request
    const char* text;
    std::int32_t result;
    std::size_t requests;
};

class JobDeviceId : public BootTest, public testing::WithParamInterface<LateReplyCase> {};

// The reply to a request of a killed run's, still on its way when the next run opened the port,
// is no answer to this run's first request: the answer that follows it is.
TEST_P(JobDeviceId, PassesOverALateReplyToAnotherRequest) {
    const LateReplyCase& c = GetParam();
    link.port->QueueReplies(c.replies);
    char text[5] = "xxxx";
    EXPECT_EQ(ReadJobDeviceId(text), c.result);
    EXPECT_STREQ(text, c.text);
    EXPECT_EQ(link.port->Requests().size(), c.requests);
}

const Bytes Device33 = Frame({0x01, 0x02, 0xFE, 0xFF, 0x3F, 0x27, 0x04});
const Bytes LateErase = Frame({0x03, 0x20, 0x00, 0x02, 0x00});

Bytes Joined(Bytes first, const Bytes& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

INSTANTIATE_TEST_SUITE_P(
    Boot, JobDeviceId,
    testing::Values(
        LateReplyCase{"ItsOwnAnswer", {Device33}, "33", 2, 1},
        LateReplyCase{"AnswerAfterALateReply", {Joined(LateErase, Device33)}, "33", 2, 1},
        // The answer never came after the late reply: the request goes out again.
        LateReplyCase{"AskedAgainWhenNoAnswerFollows", {LateErase, Device33}, "33", 2, 2},
        LateReplyCase{"NeverItsOwnAnswer", {LateErase, LateErase}, "0", 0, 2}),
    CaseName());

TEST_F(BootTest, DeviceIdWithoutPortOrAnswer) {
    char text[5] = "xxxx";
    TargetProfile.PortHandle = InvalidComHandle;
    EXPECT_EQ(ReadDeviceId(text), BootResult::NoPort);
    EXPECT_STREQ(text, "xxxx");
    EXPECT_EQ(link.port->WriteCalls(), 0u);

    TargetProfile.PortHandle = link.handle;
    TargetProfile.Retries = 2;
    EXPECT_EQ(ReadDeviceId(text), PacketResult::NoAttemptsLeft);
    EXPECT_STREQ(text, "0");
    EXPECT_EQ(link.port->Requests().size(), 2u);
}

} // namespace
