#include "sim/BoardFraming.h"

#include <numeric>

namespace {

constexpr std::uint8_t Start = 0x0F;
constexpr std::uint8_t End = 0x04;
constexpr std::uint8_t Escape = 0x05;

bool NeedsEscape(std::uint8_t byte) {
    return byte == Start || byte == End || byte == Escape;
}

} // namespace

FrameEvent FrameDecoder::Feed(std::uint8_t byte) {
    switch (state_) {
    case State::Hunting:
        if (byte != Start) {
            need_ = 2;
        } else if (--need_ == 0) {
            state_ = State::Body;
            stored_.clear();
            overflow_ = false;
        }
        return FrameEvent::None;
    case State::Escaped:
        state_ = State::Body;
        return Store(byte);
    case State::Body:
        break;
    }
    switch (byte) {
    case End:
        return Finish();
    case Escape:
        state_ = State::Escaped;
        return FrameEvent::None;
    case Start:
        // A start inside a frame begins the next one; what came before is lost.
        state_ = State::Hunting;
        need_ = 1;
        return FrameEvent::Broken;
    default:
        return Store(byte);
    }
}

FrameEvent FrameDecoder::Store(std::uint8_t byte) {
    if (stored_.size() == Capacity) {
        overflow_ = true;
    } else {
        stored_.push_back(byte);
    }
    return FrameEvent::None;
}

FrameEvent FrameDecoder::Finish() {
    state_ = State::Hunting;
    need_ = 2;
    const unsigned sum = std::accumulate(stored_.begin(), stored_.end(), 0u);
    if (overflow_ || (sum & 0xFF) != 0) {
        return FrameEvent::Broken;
    }
    payload_.assign(stored_.begin(), stored_.empty() ? stored_.end() : stored_.end() - 1);
    return FrameEvent::Request;
}

std::vector<std::uint8_t> EncodeFrame(const std::vector<std::uint8_t>& payload,
                                      FrameFaults faults) {
    std::vector<std::uint8_t> wire{Start, Start};
    auto put = [&wire](std::uint8_t byte) {
        if (NeedsEscape(byte)) {
            wire.push_back(Escape);
        }
        wire.push_back(byte);
    };
    unsigned sum = 0;
    for (std::uint8_t byte : payload) {
        sum += byte;
        put(byte);
    }
    auto checksum = static_cast<std::uint8_t>(0x100 - (sum & 0xFF));
    if (faults.CorruptChecksum) {
        ++checksum;
    }
    put(checksum);
    if (!faults.OmitEnd) {
        wire.push_back(End);
    }
    return wire;
}
