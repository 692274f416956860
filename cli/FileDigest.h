#pragma once
// The SHA-256 of a file's bytes, which names the firmware in a board's record. One file per
// platform behind this interface: OpenSSL's libcrypto, or Windows' own cryptography.

#include <optional>
#include <string>

// Lower-case hexadecimal; none when the file cannot be read.
std::optional<std::string> FileSha256(const std::string& path);
