#pragma once
// Turning the operations' result codes into words, and printing what went wrong.

#include <cstddef>
#include <cstdint>
#include <string>

// The cause behind a code of the link or the bootloader commands, with the code itself.
std::string DescribeLinkCode(std::int32_t code);

// Prints "tervix-flash: message" on standard error and returns status, so callers can write
// `return Fail(ExitStatus::Erase, ...)`.
int Fail(int status, const std::string& message);
// The message of the last Fail, "" when none: the result in words of a board's record.
const std::string& LastFailure();

// "1 board", "2 boards": a count and its noun, plural after any count but one.
std::string Counted(std::size_t count, const char* noun);

// printf-style formatting into a string.
[[gnu::format(printf, 1, 2)]] std::string Format(const char* format, ...);
