#pragma once
// A board reached without a serial device: a PortDevice whose written bytes go straight to a
// BoardSession and whose reads return the board's replies. A silent board costs one read
// time-out per read, so the in-process time-out is kept short.

#include "link/PortDevice.h"
#include "sim/BoardSession.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

inline constexpr std::uint32_t DefaultSimReadTimeoutMs = 20;

class SimPort : public PortDevice {
public:
    explicit SimPort(std::shared_ptr<BoardSession> board,
                     std::uint32_t readTimeoutMs = DefaultSimReadTimeoutMs);

    int ReadByte(std::uint8_t* byte) override;
    int WriteByte(std::uint8_t byte) override;
    bool Close() override;
    std::uint32_t ReadTimeoutMs() const override { return readTimeoutMs_; }

private:
    std::shared_ptr<BoardSession> board_;
    std::uint32_t readTimeoutMs_;
    std::mutex lock_;
    std::condition_variable arrived_;
    std::deque<std::uint8_t> pending_;
    bool closed_ = false;
};

// Opens a port on the board and registers it; the handle works with every ComPort call.
ComHandle AttachSimPort(std::shared_ptr<BoardSession> board,
                        std::uint32_t readTimeoutMs = DefaultSimReadTimeoutMs);
