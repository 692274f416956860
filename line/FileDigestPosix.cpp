#include "line/FileDigest.h"

#include <openssl/evp.h>

std::optional<std::string> Sha256Hex(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr) != 1) {
        return std::nullopt;
    }
    constexpr char Digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += Digits[digest[i] >> 4];
        hex += Digits[digest[i] & 0xF];
    }
    return hex;
}
