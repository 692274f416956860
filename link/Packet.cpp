#include "link/Packet.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <vector>

namespace {

std::atomic<std::uint32_t> packetsSent{0};
// Set from a signal handler: lock-free, as static_assert below makes sure.
std::atomic<bool> stopRequested{false};
std::atomic<bool> exchangeStopped{false};
static_assert(std::atomic<bool>::is_always_lock_free);

bool NeedsEscape(std::uint8_t byte) {
    return byte == StartByte || byte == EndByte || byte == EscapeByte;
}

// One byte out. A byte the line did not take ends the frame: with the write call's failure, the
// code of the byte's position; with nothing written, NotWritten, since waiting out the write
// time-out for every further byte would only report an incomplete frame as sent.
std::int32_t Put(ComHandle port, std::uint8_t byte, std::int32_t failure) {
    const int written = WriteComByte(port, byte);
    if (written < 0) {
        return failure;
    }
    return written == 1 ? 0 : PacketResult::NotWritten;
}

// Bounds one receive: the hunt may skip only so many bytes, and the whole receive may last only
// so many read time-outs, so a line that never stops talking still ends in a time-out.
class ReceiveBudget {
public:
    explicit ReceiveBudget(ComHandle port)
        : start_(std::chrono::steady_clock::now()),
          limit_(std::chrono::milliseconds(std::int64_t{ComReadTimeoutMs(port)} *
                                           ReceiveTimeoutFactor)) {}

    bool SkipOne() { return ++skipped_ <= MaxHuntSkip; }

    // A port without a read time-out gets no time bound; its hunt is still bounded.
    bool TimeLeft() const {
        return limit_.count() == 0 || std::chrono::steady_clock::now() - start_ <= limit_;
    }

private:
    std::chrono::steady_clock::time_point start_;
    std::chrono::milliseconds limit_;
    std::uint32_t skipped_ = 0;
};

// One byte in, mapped to the receive's codes: 1 with a byte, else -1 or -2.
std::int32_t ReadOne(ComHandle port, const ReceiveBudget& budget, std::uint8_t* byte) {
    int got = ReadComByte(port, byte);
    if (got < 0) {
        return PacketResult::ReadFailed;
    }
    if (got == 0 || !budget.TimeLeft()) {
        return PacketResult::TimedOut;
    }
    return 1;
}

} // namespace

std::int32_t SendPacket(ComHandle port, const std::uint8_t* payload, std::uint16_t length) {
    for (int i = 0; i < 2; ++i) {
        if (std::int32_t failed = Put(port, StartByte, PacketResult::StartWriteFailed)) {
            return failed;
        }
    }
    std::uint32_t sum = 0;
    for (std::uint16_t i = 0; i < length; ++i) {
        std::uint8_t byte = payload[i];
        if (NeedsEscape(byte)) {
            if (std::int32_t failed = Put(port, EscapeByte, PacketResult::EscapeWriteFailed)) {
                return failed;
            }
        }
        sum += byte;
        if (std::int32_t failed = Put(port, byte, PacketResult::PayloadWriteFailed)) {
            return failed;
        }
    }
    auto checksum = static_cast<std::uint8_t>(0x100 - (sum & 0xFF));
    if (NeedsEscape(checksum)) {
        if (std::int32_t failed = Put(port, EscapeByte, PacketResult::ChecksumEscapeWriteFailed)) {
            return failed;
        }
    }
    if (std::int32_t failed = Put(port, checksum, PacketResult::ChecksumWriteFailed)) {
        return failed;
    }
    if (std::int32_t failed = Put(port, EndByte, PacketResult::EndWriteFailed)) {
        return failed;
    }
    packetsSent.fetch_add(1, std::memory_order_relaxed);
    return length;
}

std::uint32_t PacketsSent() {
    return packetsSent.load(std::memory_order_relaxed);
}

void RequestStop() {
    stopRequested.store(true, std::memory_order_relaxed);
}

bool StopRequested() {
    return stopRequested.load(std::memory_order_relaxed);
}

bool ExchangeStopped() {
    return exchangeStopped.load(std::memory_order_relaxed);
}

std::int32_t ReceivePacket(ComHandle port, std::uint8_t* buffer, std::uint16_t capacity) {
    ReceiveBudget budget(port);
    std::uint32_t sum = 0;
    std::uint16_t stored = 0;
    int startsNeeded = 2;

    auto store = [&](std::uint8_t byte) {
        if (stored >= capacity) {
            return false;
        }
        buffer[stored++] = byte;
        sum += byte;
        return true;
    };

    for (;;) {
        std::uint8_t byte = 0;
        std::int32_t got = ReadOne(port, budget, &byte);
        if (got < 0) {
            return got;
        }
        if (startsNeeded > 0) {
            if (byte == StartByte) {
                if (--startsNeeded == 0) {
                    // A packet broken off by a stray start byte leaves nothing behind, its
                    // share of the sum included.
                    stored = 0;
                    sum = 0;
                }
            } else {
                startsNeeded = 2;
                if (!budget.SkipOne()) {
                    return PacketResult::TimedOut;
                }
            }
            continue;
        }
        if (byte == EndByte) {
            return (sum & 0xFF) == 0 ? stored : PacketResult::BadChecksum;
        }
        if (byte == StartByte) {
            startsNeeded = 1;
            continue;
        }
        if (byte == EscapeByte) {
            got = ReadOne(port, budget, &byte);
            if (got < 0) {
                return got;
            }
        }
        if (!store(byte)) {
            return PacketResult::Overflow;
        }
    }
}

std::int32_t ExchangePacket(ComHandle port, std::uint8_t* buffer, std::uint16_t sendLength,
                            std::uint16_t capacity, std::uint16_t attempts) {
    if (attempts == 0) {
        return PacketResult::NoAttemptsLeft;
    }
    // A failed reply may already have overwritten the request; every attempt sends the original.
    const std::vector<std::uint8_t> request(buffer, buffer + sendLength);
    for (std::uint16_t remaining = attempts; remaining > 0; --remaining) {
        if (StopRequested()) {
            exchangeStopped.store(true, std::memory_order_relaxed);
            return PacketResult::Stopped;
        }
        std::copy(request.begin(), request.end(), buffer);
        std::int32_t sent = SendPacket(port, buffer, sendLength);
        if (sent < 0) {
            return sent;
        }
        std::int32_t received = ReceivePacket(port, buffer, capacity);
        if (received != PacketResult::TimedOut && received != PacketResult::BadChecksum) {
            return received;
        }
    }
    return PacketResult::NoAttemptsLeft;
}
