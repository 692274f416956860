#pragma once
// The COM port as the layers above see it: a handle on which single bytes are written and read.

#include <cstdint>

// Opaque and never reused: once closed, a handle stays invalid for good, so a stale value can
// never reach a device opened later.
using ComHandle = std::int64_t;
inline constexpr ComHandle InvalidComHandle = -1;

// Opens and configures the named port (a COM name or a device path); -1 on any failure.
ComHandle OpenComPort(const char* name, std::uint32_t baudRate, std::uint32_t readTimeoutMs);

// Non-zero when the handle was closed, 0 when closing failed (an unknown handle included).
int CloseComPort(ComHandle handle);

// One byte in: 1 with the byte, 0 when none arrived within the read time-out, -1 when the read
// call failed (an invalid or closed handle included).
int ReadComByte(ComHandle handle, std::uint8_t* byte);

// One byte out: 1 when written, 0 when it could not leave within three read time-outs (CTS
// held off), -1 when the write call failed (an invalid or closed handle included).
int WriteComByte(ComHandle handle, std::uint8_t byte);

// Drops the bytes received and not read yet: the tail of a reply to a run that was killed, which
// would pass for the answer to the next request. Nothing happens for an unknown handle.
void DiscardComInput(ComHandle handle);

// The read time-out the port was opened with, in milliseconds; 0 for an unknown handle.
std::uint32_t ComReadTimeoutMs(ComHandle handle);
