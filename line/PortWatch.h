#pragma once
// A waiting position's port, looked at a few times a second with one short device read. The port
// stays open from one look to the next, so that the lines a board may react to (DTR) do not
// change while it sits on its position; it is closed before the board's job opens it, and as soon
// as a look finds the line dead (the board or its adapter unplugged), so the next look opens
// whatever is plugged in then.

#include "line/BoardProbe.h"
#include "link/ComPort.h"

#include <cstdint>
#include <string>

class PortWatch {
public:
    PortWatch(std::string port, std::uint32_t baudRate, std::uint32_t readTimeoutMs);
    ~PortWatch();
    PortWatch(const PortWatch&) = delete;
    PortWatch& operator=(const PortWatch&) = delete;

    // One device read, the port opened first when it is not open.
    ProbedPort Look();
    // Closes the port, if open.
    void Release();

private:
    std::string port_;
    std::uint32_t baudRate_;
    std::uint32_t readTimeoutMs_;
    ComHandle handle_ = InvalidComHandle;
};
