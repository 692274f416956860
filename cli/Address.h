#pragma once
// Addresses as typed on the command line.

#include <cstdint>
#include <optional>
#include <string>

// Decimal, or hexadecimal with 0x; a leading zero does not mean octal here.
std::optional<std::uint32_t> ParseAddress(const std::string& text);
