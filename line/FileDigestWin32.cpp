#include "line/FileDigest.h"

#include <windows.h>

#include <bcrypt.h>

namespace {

constexpr ULONG Sha256Size = 32;

// Closes what was opened, whichever step failed.
struct Sha256Hash {
    BCRYPT_ALG_HANDLE Algorithm = nullptr;
    BCRYPT_HASH_HANDLE Hash = nullptr;
    ~Sha256Hash() {
        if (Hash != nullptr) {
            BCryptDestroyHash(Hash);
        }
        if (Algorithm != nullptr) {
            BCryptCloseAlgorithmProvider(Algorithm, 0);
        }
    }
};

} // namespace

std::optional<std::string> Sha256Hex(const std::string& bytes) {
    Sha256Hash sha;
    if (!BCRYPT_SUCCESS(
            BCryptOpenAlgorithmProvider(&sha.Algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
        !BCRYPT_SUCCESS(BCryptCreateHash(sha.Algorithm, &sha.Hash, nullptr, 0, nullptr, 0, 0)) ||
        !BCRYPT_SUCCESS(BCryptHashData(sha.Hash,
                                       reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
                                       static_cast<ULONG>(bytes.size()), 0))) {
        return std::nullopt;
    }
    UCHAR digest[Sha256Size];
    if (!BCRYPT_SUCCESS(BCryptFinishHash(sha.Hash, digest, Sha256Size, 0))) {
        return std::nullopt;
    }
    constexpr char Digits[] = "0123456789abcdef";
    std::string hex;
    for (UCHAR octet : digest) {
        hex += Digits[octet >> 4];
        hex += Digits[octet & 0xF];
    }
    return hex;
}
