#pragma once
// Access tokens: "tvx_" + a public key of 16 hexadecimal digits + "_" + 48 secret ones. The key
// finds the token's row; only a SHA-256 of the whole token is kept, and compared in constant
// time, so neither the database nor the timing of an answer gives a token away.

#include <optional>
#include <string>
#include <string_view>

struct NewToken {
    std::string Key;
    std::string Text;
};

// Random from the system's generator; throws std::runtime_error when it has none to give.
NewToken MakeToken();
// The key of a token's text; none when the text is not a token's.
std::optional<std::string> TokenKey(std::string_view text);
// SHA-256 of the text, lower-case hexadecimal.
std::string TokenHash(std::string_view text);
// Whether two hashes are equal, in a time that does not depend on where they differ.
bool SameHash(std::string_view a, std::string_view b);
