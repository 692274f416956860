#include "server/Token.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <stdexcept>

namespace {

constexpr std::string_view Prefix = "tvx_";
constexpr std::size_t KeyDigits = 16;
constexpr std::size_t SecretDigits = 48;

std::string Hex(const unsigned char* bytes, std::size_t count) {
    constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

std::string RandomHex(std::size_t digits) {
    unsigned char bytes[32];
    if (RAND_bytes(bytes, static_cast<int>(digits / 2)) != 1) {
        throw std::runtime_error("the system gave no random bytes for a token");
    }
    return Hex(bytes, digits / 2);
}

bool AllHex(std::string_view text) {
    return text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

} // namespace

NewToken MakeToken() {
    NewToken token;
    token.Key = RandomHex(KeyDigits);
    token.Text = std::string(Prefix) + token.Key + "_" + RandomHex(SecretDigits);
    return token;
}

std::optional<std::string> TokenKey(std::string_view text) {
    if (text.size() != Prefix.size() + KeyDigits + 1 + SecretDigits || !text.starts_with(Prefix) ||
        text[Prefix.size() + KeyDigits] != '_') {
        return std::nullopt;
    }
    const std::string_view key = text.substr(Prefix.size(), KeyDigits);
    if (!AllHex(key) || !AllHex(text.substr(Prefix.size() + KeyDigits + 1))) {
        return std::nullopt;
    }
    return std::string(key);
}

std::string TokenHash(std::string_view text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(text.data(), text.size(), digest, &size, EVP_sha256(), nullptr);
    return Hex(digest, size);
}

bool SameHash(std::string_view a, std::string_view b) {
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}
