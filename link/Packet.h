#pragma once
// Framing of bootloader packets: 0F 0F, the payload and its checksum with 05 before any 04, 05
// or 0F, then 04.

#include "link/ComPort.h"

#include <cstdint>

inline constexpr std::uint8_t StartByte = 0x0F;
inline constexpr std::uint8_t EndByte = 0x04;
inline constexpr std::uint8_t EscapeByte = 0x05;

namespace PacketResult {
inline constexpr std::int32_t ReadFailed = -1;
inline constexpr std::int32_t TimedOut = -2;
inline constexpr std::int32_t Overflow = -3;
inline constexpr std::int32_t BadChecksum = -4;
inline constexpr std::int32_t NoAttemptsLeft = -5;
inline constexpr std::int32_t StartWriteFailed = -111;
// A byte was not written: the write reported a count other than 1 (CTS held off).
inline constexpr std::int32_t NotWritten = -1003;
inline constexpr std::int32_t EscapeWriteFailed = -112;
inline constexpr std::int32_t PayloadWriteFailed = -113;
inline constexpr std::int32_t ChecksumEscapeWriteFailed = -114;
inline constexpr std::int32_t ChecksumWriteFailed = -115;
inline constexpr std::int32_t EndWriteFailed = -116;
// A stop was requested (RequestStop) before the request went out; nothing was sent.
inline constexpr std::int32_t Stopped = -1004;
} // namespace PacketResult

// A receive gives up as a time-out after this many bytes skipped while hunting for a start, or
// once it has taken longer than this many read time-outs in all, so a babbling line cannot hold
// it for ever.
inline constexpr std::uint32_t MaxHuntSkip = 1024;
inline constexpr std::uint32_t ReceiveTimeoutFactor = 10;

// Writes one framed packet; returns the payload length, or a write failure code.
std::int32_t SendPacket(ComHandle port, const std::uint8_t* payload, std::uint16_t length);

// Packets this process has sent whole, repeats included: what a run cost the board in requests.
std::uint32_t PacketsSent();

// Stopping at a request boundary. Once RequestStop has been called (a signal handler may call
// it: it only sets a lock-free atomic flag), every exchange ends with PacketResult::Stopped
// before sending its request, so whatever operation runs ends by its normal path, which closes
// the port, and no request is ever cut in half.
void RequestStop();
bool StopRequested();
// Whether an exchange has ended with PacketResult::Stopped: an operation was cut short.
bool ExchangeStopped();

// Reads one packet into buffer (payload then checksum, unescaped); returns the stored count.
std::int32_t ReceivePacket(ComHandle port, std::uint8_t* buffer, std::uint16_t capacity);

// Sends the first sendLength bytes of buffer and receives the reply over it, repeating on a
// time-out or a bad checksum up to attempts times in all.
std::int32_t ExchangePacket(ComHandle port, std::uint8_t* buffer, std::uint16_t sendLength,
                            std::uint16_t capacity, std::uint16_t attempts);
