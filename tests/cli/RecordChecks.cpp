#include "tests/cli/RecordChecks.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <fstream>
#include <iterator>

const std::vector<std::string> RecordKeys = {
    "time",    "host",         "command",     "port",     "device_path",
    "device",  "file",         "sha256",      "rows",     "requests",
    "seconds", "result",       "exit_status", "serial",   "serial_unverified",
    "tags",    "tool_version", "station",     "position", "project"};

std::vector<std::string> KeysOf(const nlohmann::ordered_json& object) {
    std::vector<std::string> keys;
    for (const auto& [key, value] : object.items()) {
        keys.push_back(key);
    }
    return keys;
}

std::string Sha256Of(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha256(), nullptr);
    std::string hex;
    for (unsigned i = 0; i < length; ++i) {
        static const char* Digits = "0123456789abcdef";
        hex += Digits[digest[i] >> 4];
        hex += Digits[digest[i] & 0xF];
    }
    return hex;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void ExpectProgramHolds(const SimBoard& board, const HexImage& image) {
    for (const auto& [address, byte] : image) {
        if (address < 0x8000) {
            const auto it = board.Memory().find(address);
            ASSERT_NE(it, board.Memory().end()) << std::hex << address;
            EXPECT_EQ(it->second, byte) << "at 0x" << std::hex << address;
        }
    }
}

void ExpectHolds(const SimBoard& board, const HexImage& image) {
    for (const auto& [address, byte] : image) {
        if (address < 0x200000 || (address >= EepromBase && address < EepromBase + 0x100)) {
            const auto it = board.Memory().find(address);
            ASSERT_NE(it, board.Memory().end()) << std::hex << address;
            EXPECT_EQ(it->second, byte) << "at 0x" << std::hex << address;
        }
    }
}
