#pragma once
// Finding the board's port with the user's confirmation, checking the device, disconnecting.

#include <cstdint>
#include <functional>

namespace ConnectResult {
inline constexpr std::int32_t Disconnected = 1001;
inline constexpr std::int32_t NoPortAccepted = -1001;
inline constexpr std::int32_t CloseFailed = -1002;
inline constexpr std::int32_t WrongDevice = -1005;
} // namespace ConnectResult

inline constexpr const char* PortQuestionCaption = "Serial Port Selected?";

// Asks a Yes/No question (text, caption) and blocks the calling thread until it is answered;
// true means Yes. The desktop program shows a box, the command-line tool asks on the terminal,
// tests answer from a script.
using PortQuestion = std::function<bool(const char* text, const char* caption)>;

// Replaces the question asked for each port that opens; an empty function answers No.
void SetPortQuestion(PortQuestion question);

// Scans COM1..COM21, asking about each port that opens, and checks the device on the accepted
// one. A port still open from an earlier call is kept only when the expected device answers on
// it again; otherwise it is closed and the scan starts afresh.
std::int32_t ConnectTarget();
// The same for the one port at index of PortNameTable, opened without a question: no other port
// is opened. A port still open on another index is closed first.
std::int32_t ConnectNamedTarget(int index);
std::int32_t DisconnectTarget();
// The device number the last connect read from its board (also the one a wrong device was
// refused for), -1 when no number was read.
std::int32_t LastDeviceNumber();
