#include "sim/BoardFraming.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Fed {
    std::vector<FrameEvent> events; // every event other than None, in order
    std::vector<Bytes> requests;
};

Fed FeedAll(FrameDecoder& decoder, const Bytes& wire) {
    Fed fed;
    for (std::uint8_t byte : wire) {
        FrameEvent event = decoder.Feed(byte);
        if (event != FrameEvent::None) {
            fed.events.push_back(event);
        }
        if (event == FrameEvent::Request) {
            fed.requests.push_back(decoder.Payload());
        }
    }
    return fed;
}

TEST(BoardFramingEncode, EscapesPayloadAndChecksumAndAppliesFaults) {
    EXPECT_EQ(EncodeFrame({0x01, 0x02, 0xFE, 0xFF, 0x3F}),
              (Bytes{0x0F, 0x0F, 0x01, 0x02, 0xFE, 0xFF, 0x3F, 0xC1, 0x04}));
    EXPECT_EQ(EncodeFrame({0x05, 0x04, 0x0F, 0xE8}),
              (Bytes{0x0F, 0x0F, 0x05, 0x05, 0x05, 0x04, 0x05, 0x0F, 0xE8, 0x00, 0x04}));
    EXPECT_EQ(EncodeFrame({0xF1}), (Bytes{0x0F, 0x0F, 0xF1, 0x05, 0x0F, 0x04}));
    EXPECT_EQ(EncodeFrame({}), (Bytes{0x0F, 0x0F, 0x00, 0x04}));

    // Off by one: 0xC1 becomes 0xC2; 0x0E becomes 0x0F and must still be escaped.
    EXPECT_EQ(EncodeFrame({0x01, 0x02, 0xFE, 0xFF, 0x3F}, {.CorruptChecksum = true}),
              (Bytes{0x0F, 0x0F, 0x01, 0x02, 0xFE, 0xFF, 0x3F, 0xC2, 0x04}));
    EXPECT_EQ(EncodeFrame({0xF2}, {.CorruptChecksum = true}),
              (Bytes{0x0F, 0x0F, 0xF2, 0x05, 0x0F, 0x04}));
    EXPECT_EQ(EncodeFrame({0x10}, {.OmitEnd = true}), (Bytes{0x0F, 0x0F, 0x10, 0xF0}));
}

TEST(BoardFramingDecode, EveryByteValueSurvivesTheRoundTrip) {
    Bytes payload;
    for (int v = 0; v < 256; ++v) {
        payload.push_back(static_cast<std::uint8_t>(v));
    }
    payload.resize(255); // the largest request plus its checksum fills the decoder exactly
    FrameDecoder decoder;
    Fed fed = FeedAll(decoder, EncodeFrame(payload));
    ASSERT_EQ(fed.requests.size(), 1u);
    EXPECT_EQ(fed.requests[0], payload);
}

TEST(BoardFramingDecode, SkipsStrayBytesAndRestartsOnAStartInsideAFrame) {
    FrameDecoder decoder;
    // Noise with a lone 0F, then a good frame.
    Fed fed = FeedAll(decoder, {0xAA, 0x0F, 0xBB, 0x04, 0x05, 0x0F, 0x0F, 0x03, 0xFD, 0x04});
    EXPECT_EQ(fed.events, std::vector<FrameEvent>{FrameEvent::Request});
    EXPECT_EQ(fed.requests.at(0), Bytes{0x03});

    // A frame cut by a new start is reported broken; one more 0F opens the next frame.
    fed = FeedAll(decoder, {0x0F, 0x0F, 0x01, 0x02, 0x0F, 0x0F, 0x03, 0xFD, 0x04});
    EXPECT_EQ(fed.events, (std::vector<FrameEvent>{FrameEvent::Broken, FrameEvent::Request}));
    EXPECT_EQ(fed.requests.at(0), Bytes{0x03});

    // An escaped 0F is data, not a restart.
    fed = FeedAll(decoder, {0x0F, 0x0F, 0x05, 0x0F, 0xF1, 0x04});
    EXPECT_EQ(fed.requests.at(0), Bytes{0x0F});
}

TEST(BoardFramingDecode, BadChecksumAndOverflowBreakOnlyTheirOwnFrame) {
    FrameDecoder decoder;
    Fed fed = FeedAll(decoder, {0x0F, 0x0F, 0x03, 0xFC, 0x04});
    EXPECT_EQ(fed.events, std::vector<FrameEvent>{FrameEvent::Broken});

    Bytes tooLong(256, 0x00); // with its checksum: 257 bytes, one more than the decoder holds
    Bytes wire = EncodeFrame(tooLong);
    Bytes next = EncodeFrame({0x01, 0x02});
    wire.insert(wire.end(), next.begin(), next.end());
    fed = FeedAll(decoder, wire);
    EXPECT_EQ(fed.events, (std::vector<FrameEvent>{FrameEvent::Broken, FrameEvent::Request}));
    EXPECT_EQ(fed.requests.at(0), (Bytes{0x01, 0x02}));

    // The empty frame is well framed; whether it is a request is the board's business.
    fed = FeedAll(decoder, {0x0F, 0x0F, 0x00, 0x04});
    EXPECT_EQ(fed.events, std::vector<FrameEvent>{FrameEvent::Request});
    EXPECT_TRUE(fed.requests.at(0).empty());
}

} // namespace
