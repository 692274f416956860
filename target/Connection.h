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

std::int32_t ConnectTarget();
std::int32_t DisconnectTarget();
