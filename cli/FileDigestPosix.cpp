#include "cli/FileDigest.h"

#include "cli/Messages.h"

#include <openssl/evp.h>

#include <fstream>
#include <memory>

namespace {

struct DigestFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

} // namespace

std::optional<std::string> FileSha256(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::unique_ptr<EVP_MD_CTX, DigestFree> context(EVP_MD_CTX_new());
    if (!file || !context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
        return std::nullopt;
    }
    char buffer[65536];
    while (file.read(buffer, sizeof buffer) || file.gcount() > 0) {
        EVP_DigestUpdate(context.get(), buffer, static_cast<std::size_t>(file.gcount()));
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (file.bad() || EVP_DigestFinal_ex(context.get(), digest, &length) != 1) {
        return std::nullopt;
    }
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += Format("%02x", digest[i]);
    }
    return hex;
}
