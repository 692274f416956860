#pragma once
// The SHA-256 of a file's bytes, which names the firmware in a board's record. One file per
// platform behind this interface: OpenSSL's libcrypto, or Windows' own cryptography.

#include <optional>
#include <string>

// Lower-case hexadecimal; none when the digest cannot be made.
std::optional<std::string> Sha256Hex(const std::string& bytes);
