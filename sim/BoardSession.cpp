#include "sim/BoardSession.h"

namespace {

constexpr std::uint8_t EraseCommand = 3; // erase program memory

bool IsRead(std::uint8_t command) {
    return command == 1 || command == 4 || command == 6;
}

} // namespace

BoardSession::BoardSession(const FaultPlan& faults, const PaceModel& pace, bool paced)
    : faults_(faults), pace_(pace), paced_(paced), started_(std::chrono::steady_clock::now()) {}

BoardOutput BoardSession::Receive(std::uint8_t byte) {
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> guard(lock_);
    BoardStats& stats = board_.Stats();
    if (frameBytes_ == 0) {
        frameStart_ = now;
    }
    ++frameBytes_;
    ++stats.BytesReceived;

    BoardOutput out;
    out.SendAt = now;
    const FrameEvent event = decoder_.Feed(byte);
    if (event == FrameEvent::None) {
        return out;
    }
    out.FrameEnded = true;
    double modelled = pace_.WireMicroseconds(frameBytes_);
    double latency = 0;
    frameBytes_ = 0;

    if (event == FrameEvent::Broken) {
        ++stats.Malformed;
    } else if (faults_.Plan().Silent) {
        ++stats.DroppedReplies;
    } else if (auto reply = board_.Execute(decoder_.Payload().data(), decoder_.Payload().size())) {
        modelled += pace_.ProgrammingMicroseconds(decoder_.Payload());
        if (!stats.FirstEraseMs && decoder_.Payload()[0] == EraseCommand) {
            stats.FirstEraseMs = std::chrono::duration<double, std::milli>(now - started_).count();
        }
        const ReplyFate fate = faults_.NextReply();
        // A read's reply is its header and the bytes read; a write's is its header alone.
        if (fate.ShortRead && IsRead(decoder_.Payload()[0]) &&
            reply->size() > BoardMap::HeaderSize) {
            reply->pop_back();
            ++stats.ShortReplies;
        }
        if (fate.Drop) {
            ++stats.DroppedReplies;
        } else {
            out.Bytes = faults_.Noise();
            stats.NoiseBytes += out.Bytes.size();
            const std::vector<std::uint8_t> frame = EncodeFrame(*reply, fate.Frame);
            out.Bytes.insert(out.Bytes.end(), frame.begin(), frame.end());
            stats.BadChecksumReplies += fate.Frame.CorruptChecksum ? 1 : 0;
            stats.CutReplies += fate.Frame.OmitEnd ? 1 : 0;
            stats.BytesSent += out.Bytes.size();
            modelled += pace_.WireMicroseconds(out.Bytes.size());
            latency = pace_.LatencyMs * 1000.0;
        }
    }
    modelled += latency;
    stats.ModelledMicroseconds += modelled;
    // The adapter's latency holds a reply back also when the rest is not paced.
    const auto& from = paced_ ? frameStart_ : now;
    const double wait = paced_ ? modelled : latency;
    out.SendAt = from + std::chrono::microseconds(static_cast<std::int64_t>(wait));
    return out;
}

BoardStats BoardSession::Stats() const {
    std::lock_guard<std::mutex> guard(lock_);
    return board_.Stats();
}

std::string BoardSession::StatsText() const {
    std::lock_guard<std::mutex> guard(lock_);
    return FormatStats(board_.Stats(), board_.RunMode());
}
