#include "sim/BoardSession.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

// Feeds the wire bytes one by one; returns everything the board sent back and the latest moment
// it asked to send at.
struct Answer {
    Bytes bytes;
    Clock::time_point sendAt;
    int framesEnded = 0;
};

Answer Feed(BoardSession& session, const Bytes& wire) {
    Answer answer;
    for (std::uint8_t byte : wire) {
        BoardOutput out = session.Receive(byte);
        answer.bytes.insert(answer.bytes.end(), out.Bytes.begin(), out.Bytes.end());
        answer.sendAt = out.SendAt;
        answer.framesEnded += out.FrameEnded ? 1 : 0;
    }
    return answer;
}

const Bytes ReadId = EncodeFrame({0x01, 0x02, 0xFE, 0xFF, 0x3F});

TEST(BoardSessionFaults, EveryNthReplyIsDroppedCorruptedOrCut) {
    FaultPlan plan;
    plan.DropEvery = 2;
    plan.BadChecksumEvery = 3;
    plan.CutReplyEvery = 5;
    BoardSession session(plan);
    const Bytes good = EncodeFrame({0x01, 0x02, 0xFE, 0xFF, 0x3F, 0x24, 0x04});
    std::vector<Bytes> replies;
    for (int i = 0; i < 6; ++i) {
        replies.push_back(Feed(session, ReadId).bytes);
    }
    EXPECT_EQ(replies[0], good);
    EXPECT_TRUE(replies[1].empty());
    EXPECT_EQ(replies[2],
              EncodeFrame({0x01, 0x02, 0xFE, 0xFF, 0x3F, 0x24, 0x04}, {.CorruptChecksum = true}));
    EXPECT_TRUE(replies[3].empty());
    EXPECT_EQ(replies[4], Bytes(good.begin(), good.end() - 1));
    EXPECT_TRUE(replies[5].empty()); // the drop wins over the corruption

    const BoardStats stats = session.Stats();
    EXPECT_EQ(stats.RequestsByCommand[1], 6u); // a dropped reply's request is still carried out
    EXPECT_EQ(stats.DroppedReplies, 3u);
    EXPECT_EQ(stats.BadChecksumReplies, 1u);
    EXPECT_EQ(stats.CutReplies, 1u);
    EXPECT_EQ(stats.BytesReceived, 6 * ReadId.size());
    EXPECT_EQ(stats.BytesSent, good.size() * 2 + good.size() - 1);
}

// Every second request is hit: a read then answers one byte short, a write as ever.
TEST(BoardSessionFaults, EveryNthReadIsAnsweredOneByteShort) {
    FaultPlan plan;
    plan.ShortReadEvery = 2;
    BoardSession session(plan);
    const Bytes writeFlag = EncodeFrame({0x05, 0x01, 0xFF, 0x00, 0x00, 0xFF});
    const Bytes readEeprom = EncodeFrame({0x04, 0x03, 0x10, 0x00, 0x00});
    EXPECT_EQ(Feed(session, ReadId).bytes, EncodeFrame({0x01, 0x02, 0xFE, 0xFF, 0x3F, 0x24, 0x04}));
    EXPECT_EQ(Feed(session, ReadId).bytes, EncodeFrame({0x01, 0x02, 0xFE, 0xFF, 0x3F, 0x24}));
    EXPECT_EQ(Feed(session, readEeprom).bytes,
              EncodeFrame({0x04, 0x03, 0x10, 0x00, 0x00, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Feed(session, writeFlag).bytes, EncodeFrame({0x05, 0x01, 0xFF, 0x00, 0x00}));
    EXPECT_EQ(Feed(session, readEeprom).bytes,
              EncodeFrame({0x04, 0x03, 0x10, 0x00, 0x00, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Feed(session, readEeprom).bytes,
              EncodeFrame({0x04, 0x03, 0x10, 0x00, 0x00, 0xFF, 0xFF}));
    EXPECT_EQ(session.Stats().ShortReplies, 2u);
}

TEST(BoardSessionFaults, NoiseIsRepeatableAndNeverLooksLikeAStart) {
    FaultPlan plan;
    plan.NoiseBytes = 300;
    plan.Seed = 7;
    BoardSession first(plan);
    BoardSession second(plan);
    const Bytes reply = EncodeFrame({0x01, 0x02, 0xFE, 0xFF, 0x3F, 0x24, 0x04});
    int strayStarts = 0;
    int strayEscapes = 0;
    for (int i = 0; i < 5; ++i) {
        const Bytes a = Feed(first, ReadId).bytes;
        ASSERT_EQ(a, Feed(second, ReadId).bytes);
        ASSERT_EQ(a.size(), 300 + reply.size());
        ASSERT_TRUE(std::equal(reply.begin(), reply.end(), a.end() - reply.size()));
        const Bytes noise(a.begin(), a.end() - reply.size());
        EXPECT_NE(noise.back(), 0x0F);
        for (std::size_t k = 0; k < noise.size(); ++k) {
            strayStarts += noise[k] == 0x0F ? 1 : 0;
            strayEscapes += noise[k] == 0x05 ? 1 : 0;
            if (k > 0) {
                EXPECT_FALSE(noise[k] == 0x0F && noise[k - 1] == 0x0F) << k;
            }
        }
    }
    EXPECT_GT(strayStarts, 0);
    EXPECT_GT(strayEscapes, 0);
    EXPECT_EQ(first.Stats().NoiseBytes, 1500u);

    BoardSession again(plan);
    plan.Seed = 8;
    BoardSession other(plan);
    EXPECT_NE(Feed(other, ReadId).bytes, Feed(again, ReadId).bytes);
}

TEST(BoardSessionFaults, SilentBoardReadsFramesButNeverActs) {
    FaultPlan plan;
    plan.Silent = true;
    BoardSession session(plan);
    Answer answer = Feed(session, EncodeFrame({0x05, 0x01, 0xFF, 0x00, 0x00, 0x00}));
    EXPECT_TRUE(answer.bytes.empty());
    EXPECT_EQ(answer.framesEnded, 1);
    EXPECT_FALSE(session.WithBoard([](const Board& b) { return b.RunMode(); }));
    EXPECT_EQ(session.Stats().DroppedReplies, 1u);
    EXPECT_EQ(session.Stats().Requests(), 0u);
}

TEST(BoardSessionFaults, BrokenFramesAndBadRequestsCountAsMalformed) {
    BoardSession session;
    Bytes wire = {0x0F, 0x0F, 0x03, 0xFC, 0x04};                       // bad checksum
    const Bytes shortRequest = EncodeFrame({0x01, 0x02});              // header cut short
    const Bytes unknown = EncodeFrame({0x09, 0x00, 0x00, 0x02, 0x00}); // no such command
    wire.insert(wire.end(), shortRequest.begin(), shortRequest.end());
    wire.insert(wire.end(), unknown.begin(), unknown.end());
    Answer answer = Feed(session, wire);
    EXPECT_TRUE(answer.bytes.empty());
    EXPECT_EQ(answer.framesEnded, 3);
    EXPECT_EQ(session.Stats().Malformed, 3u);
    // The board still answers the next good request.
    EXPECT_FALSE(Feed(session, ReadId).bytes.empty());
}

TEST(BoardSessionPacing, ModelsWireAndProgrammingTimeAndDelaysOnlyWhenPaced) {
    PaceModel pace;
    pace.Baud = 10000; // 1 ms per byte
    pace.EraseRowMs = 3;
    const Bytes erase = EncodeFrame({0x03, 0x02, 0x00, 0x04, 0x00}); // two rows
    const std::size_t replyBytes = erase.size();                     // the header echoed

    BoardSession unpaced({}, pace, false);
    Answer answer = Feed(unpaced, erase);
    EXPECT_EQ(answer.bytes.size(), replyBytes);
    EXPECT_LE(answer.sendAt, Clock::now());
    const double expected = static_cast<double>(erase.size() + replyBytes) * 1000.0 + 2 * 3000.0;
    EXPECT_DOUBLE_EQ(unpaced.Stats().ModelledMicroseconds, expected);

    BoardSession paced({}, pace, true);
    const auto start = Clock::now();
    answer = Feed(paced, erase);
    EXPECT_GE(answer.sendAt - start, std::chrono::microseconds(static_cast<long>(expected) - 1));

    // The adapter's latency is modelled and holds the reply back, paced or not; a request that
    // gets no reply waits for none.
    pace.LatencyMs = 2.5;
    const Bytes unknown = EncodeFrame({0x09, 0x00, 0x00, 0x02, 0x00});
    for (const bool pacing : {false, true}) {
        BoardSession late({}, pace, pacing);
        const auto sent = Clock::now();
        answer = Feed(late, erase);
        EXPECT_DOUBLE_EQ(late.Stats().ModelledMicroseconds, expected + 2500.0);
        const double wait = pacing ? expected + 2500.0 : 2500.0;
        EXPECT_GE(answer.sendAt - sent, std::chrono::microseconds(static_cast<long>(wait)));
        Feed(late, unknown);
        EXPECT_DOUBLE_EQ(late.Stats().ModelledMicroseconds,
                         expected + 2500.0 + static_cast<double>(unknown.size()) * 1000.0);
    }
}

} // namespace
