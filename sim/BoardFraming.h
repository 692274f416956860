#pragma once
// The board's side of the packet format: 0F 0F, the payload and its checksum with 05 before any
// 04, 05 or 0F, then 04. Written apart from the host's link layer, as firmware would be, so the
// two check each other.

#include <cstddef>
#include <cstdint>
#include <vector>

enum class FrameEvent {
    None,    // the byte was consumed, no frame ended
    Request, // a frame ended with a good checksum; Payload() holds it
    Broken,  // a frame ended with a bad checksum, overflowed, or was cut by a new start
};

class FrameDecoder {
public:
    // Payload and checksum bytes one frame may hold: the host sends at most 255 + 1.
    static constexpr std::size_t Capacity = 256;

    FrameEvent Feed(std::uint8_t byte);

    // The last request's payload, without its checksum.
    const std::vector<std::uint8_t>& Payload() const { return payload_; }

private:
    enum class State { Hunting, Body, Escaped };
    FrameEvent Store(std::uint8_t byte);
    FrameEvent Finish();

    State state_ = State::Hunting;
    int need_ = 2;
    bool overflow_ = false;
    std::vector<std::uint8_t> stored_;
    std::vector<std::uint8_t> payload_;
};

struct FrameFaults {
    bool CorruptChecksum = false; // send a checksum that is off by one
    bool OmitEnd = false;         // stop before the end byte
};

// The payload framed for the wire.
std::vector<std::uint8_t> EncodeFrame(const std::vector<std::uint8_t>& payload,
                                      FrameFaults faults = {});
