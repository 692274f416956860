#include "tests/support/MemoryPort.h"

#include <numeric>
#include <utility>

namespace {

constexpr std::uint8_t Start = 0x0F;
constexpr std::uint8_t End = 0x04;
constexpr std::uint8_t Escape = 0x05;

bool IsSpecial(std::uint8_t byte) {
    return byte == Start || byte == End || byte == Escape;
}

void PutEscaped(Bytes& wire, std::uint8_t byte) {
    if (IsSpecial(byte)) {
        wire.push_back(Escape);
    }
    wire.push_back(byte);
}

} // namespace

MemoryPort::MemoryPort(std::uint32_t readTimeoutMs) : readTimeoutMs_(readTimeoutMs) {}

void MemoryPort::QueueReply(Bytes wire) {
    std::lock_guard<std::mutex> guard(lock_);
    replies_.push_back(std::move(wire));
}

void MemoryPort::QueueReplies(const std::vector<Bytes>& wires) {
    std::lock_guard<std::mutex> guard(lock_);
    replies_.insert(replies_.end(), wires.begin(), wires.end());
}

void MemoryPort::AppendStream(const Bytes& wire) {
    std::lock_guard<std::mutex> guard(lock_);
    incoming_.insert(incoming_.end(), wire.begin(), wire.end());
}

void MemoryPort::SetResponder(Responder responder) {
    std::lock_guard<std::mutex> guard(lock_);
    responder_ = std::move(responder);
}

void MemoryPort::SetFeeder(Feeder feeder) {
    std::lock_guard<std::mutex> guard(lock_);
    feeder_ = std::move(feeder);
}

void MemoryPort::FailWriteAt(std::size_t index) {
    std::lock_guard<std::mutex> guard(lock_);
    failWriteAt_ = index;
}

void MemoryPort::HoldCtsFrom(std::size_t index) {
    std::lock_guard<std::mutex> guard(lock_);
    ctsHeldFrom_ = index;
}

void MemoryPort::FailReadAt(std::size_t index) {
    std::lock_guard<std::mutex> guard(lock_);
    failReadAt_ = index;
}

Bytes MemoryPort::Written() const {
    std::lock_guard<std::mutex> guard(lock_);
    return written_;
}

std::vector<Bytes> MemoryPort::Requests() const {
    std::lock_guard<std::mutex> guard(lock_);
    return requests_;
}

std::size_t MemoryPort::WriteCalls() const {
    std::lock_guard<std::mutex> guard(lock_);
    return writeCalls_;
}

std::size_t MemoryPort::ReadCalls() const {
    std::lock_guard<std::mutex> guard(lock_);
    return readCalls_;
}

bool MemoryPort::Closed() const {
    std::lock_guard<std::mutex> guard(lock_);
    return closed_;
}

void MemoryPort::ClearWritten() {
    std::lock_guard<std::mutex> guard(lock_);
    written_.clear();
    requests_.clear();
}

int MemoryPort::ReadByte(std::uint8_t* byte) {
    std::lock_guard<std::mutex> guard(lock_);
    std::size_t call = readCalls_++;
    if (failReadAt_ == call) {
        return -1;
    }
    if (!incoming_.empty()) {
        *byte = incoming_.front();
        incoming_.pop_front();
        return 1;
    }
    if (feeder_) {
        if (std::optional<std::uint8_t> next = feeder_()) {
            *byte = *next;
            return 1;
        }
    }
    return 0;
}

int MemoryPort::WriteByte(std::uint8_t byte) {
    std::lock_guard<std::mutex> guard(lock_);
    std::size_t call = writeCalls_++;
    if (failWriteAt_ == call) {
        return -1;
    }
    if (ctsHeldFrom_ && call >= *ctsHeldFrom_) {
        return 0;
    }
    written_.push_back(byte);
    TrackFrame(byte);
    return 1;
}

bool MemoryPort::Close() {
    std::lock_guard<std::mutex> guard(lock_);
    closed_ = true;
    return true;
}

std::uint32_t MemoryPort::ReadTimeoutMs() const {
    return readTimeoutMs_;
}

void MemoryPort::TrackFrame(std::uint8_t byte) {
    if (startsNeeded_ > 0) {
        startsNeeded_ = byte == Start ? startsNeeded_ - 1 : 2;
        if (startsNeeded_ == 0) {
            frame_.clear();
            escaped_ = false;
        }
        return;
    }
    if (escaped_) {
        escaped_ = false;
        frame_.push_back(byte);
    } else if (byte == Escape) {
        escaped_ = true;
    } else if (byte == Start) {
        startsNeeded_ = 1;
    } else if (byte == End) {
        startsNeeded_ = 2;
        FrameEnded();
    } else {
        frame_.push_back(byte);
    }
}

void MemoryPort::FrameEnded() {
    bool sound = std::accumulate(frame_.begin(), frame_.end(), 0u) % 256 == 0;
    Bytes payload = frame_;
    if (!payload.empty()) {
        payload.pop_back();
    }
    requests_.push_back(payload);
    if (!replies_.empty()) {
        Bytes reply = std::move(replies_.front());
        replies_.pop_front();
        incoming_.insert(incoming_.end(), reply.begin(), reply.end());
    } else if (responder_ && sound) {
        Bytes reply = responder_(payload);
        incoming_.insert(incoming_.end(), reply.begin(), reply.end());
    }
}

AttachedPort AttachMemoryPort(std::uint32_t readTimeoutMs) {
    auto port = std::make_shared<MemoryPort>(readTimeoutMs);
    return {AttachPortDevice(port), port};
}

Bytes Frame(const Bytes& payload) {
    Bytes wire{Start, Start};
    std::uint32_t sum = 0;
    for (std::uint8_t byte : payload) {
        PutEscaped(wire, byte);
        sum += byte;
    }
    PutEscaped(wire, static_cast<std::uint8_t>(0x100 - (sum & 0xFF)));
    wire.push_back(End);
    return wire;
}
