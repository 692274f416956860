#pragma once
// A serial port held in memory, for tests and small fake boards: it records every byte written,
// recognises the request frames among them, and answers from a script, a byte stream, a feeder
// or a responder. Faults are injected by call index. A read with nothing to deliver is a time-out
// at once, so tests never wait for one.

#include "link/PortDevice.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

class MemoryPort : public PortDevice {
public:
    // Builds the reply to one request payload (checksum removed). Returns the bytes to put on
    // the line, usually Frame(...) of the reply payload; empty for no answer. It runs with the
    // port locked and must not call back into the port.
    using Responder = std::function<Bytes(const Bytes& payload)>;
    // Supplies the next byte when nothing else is waiting; nullopt for a time-out.
    using Feeder = std::function<std::optional<std::uint8_t>()>;

    explicit MemoryPort(std::uint32_t readTimeoutMs = 1500);

    // What the line delivers. Queued replies are released one per request frame written (any
    // frame, whatever its checksum); the responder answers frames whose checksum holds, after
    // the queue is used up. Stream bytes are readable at once.
    void QueueReply(Bytes wire);
    void QueueReplies(const std::vector<Bytes>& wires);
    void AppendStream(const Bytes& wire);
    void SetResponder(Responder responder);
    void SetFeeder(Feeder feeder);

    // Faults, counted over the calls made so far (0 is the first call): the write call with this
    // index fails (-1); from this write call on nothing leaves (count 0, CTS held off); the read
    // call with this index fails (-1).
    void FailWriteAt(std::size_t index);
    void HoldCtsFrom(std::size_t index);
    void FailReadAt(std::size_t index);

    // Bytes that left (writes that returned 1), in order.
    Bytes Written() const;
    // The payloads of the request frames written so far, unescaped, checksum removed.
    std::vector<Bytes> Requests() const;
    std::size_t WriteCalls() const;
    std::size_t ReadCalls() const;
    bool Closed() const;
    // Forgets what was written and the frames recognised; faults and replies stay.
    void ClearWritten();

    int ReadByte(std::uint8_t* byte) override;
    int WriteByte(std::uint8_t byte) override;
    bool Close() override;
    std::uint32_t ReadTimeoutMs() const override;

private:
    void TrackFrame(std::uint8_t byte);
    void FrameEnded();

    const std::uint32_t readTimeoutMs_;
    mutable std::mutex lock_;
    std::deque<std::uint8_t> incoming_;
    std::deque<Bytes> replies_;
    Responder responder_;
    Feeder feeder_;
    std::optional<std::size_t> failWriteAt_;
    std::optional<std::size_t> ctsHeldFrom_;
    std::optional<std::size_t> failReadAt_;
    Bytes written_;
    std::vector<Bytes> requests_;
    std::size_t writeCalls_ = 0;
    std::size_t readCalls_ = 0;
    bool closed_ = false;

    // Frame recognition over the written bytes, the same rules a board applies.
    int startsNeeded_ = 2;
    bool escaped_ = false;
    Bytes frame_;
};

// A MemoryPort registered under a fresh handle.
struct AttachedPort {
    ComHandle handle;
    std::shared_ptr<MemoryPort> port;
};
AttachedPort AttachMemoryPort(std::uint32_t readTimeoutMs = 1500);

// A packet on the wire: start bytes, escaped payload and checksum, end byte.
Bytes Frame(const Bytes& payload);
