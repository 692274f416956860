#include "line/HexSnapshot.h"

#include "line/FileDigest.h"
#include "target/CFile.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <system_error>

namespace {

namespace fs = std::filesystem;

// Far more than any HEX file for this chip holds, comments and all: a device or a pipe that never
// ends must not fill the memory.
constexpr std::size_t MaxFileBytes = std::size_t{64} << 20;

// The whole file in one read pass; the reason in words when it fails.
bool ReadWhole(const std::string& path, std::string& bytes, std::string& reason) {
    CFile file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        reason = std::generic_category().message(errno);
        return false;
    }
    char buffer[65536];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
        bytes.append(buffer, got);
        if (bytes.size() > MaxFileBytes) {
            reason = "it holds more than 64 MiB, far more than any HEX file for this chip";
            return false;
        }
    }
    if (std::ferror(file.get())) {
        reason = std::generic_category().message(errno);
        return false;
    }
    return true;
}

// A new folder only this user may enter, under the system's temporary folder. The standard
// library has no portable mkdtemp; creating a directory fails when the name exists, so a name
// taken by anyone else is never used.
std::string MakePrivateFolder(std::error_code& error) {
    // Absolute: the boards' children work in folders of their own.
    const fs::path base = fs::absolute(fs::temp_directory_path(error), error);
    if (error) {
        return {};
    }
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, "tervix-%08x", static_cast<unsigned>(random()));
        const fs::path folder = base / name;
        if (fs::create_directory(folder, error)) {
            fs::permissions(folder, fs::perms::owner_all, error);
            return error ? std::string() : folder.string();
        }
        if (error) {
            return {};
        }
    }
    error = std::make_error_code(std::errc::file_exists);
    return {};
}

} // namespace

HexSnapshot::HexSnapshot(const std::string& file) {
    std::string bytes;
    std::string reason;
    if (!ReadWhole(file, bytes, reason)) {
        error_ = "cannot read " + file + ": " + reason;
        return;
    }
    sha256_ = Sha256Hex(bytes);
    std::error_code error;
    folder_ = MakePrivateFolder(error);
    if (!folder_.empty()) {
        const fs::path name = fs::path(file).filename();
        path_ = (fs::path(folder_) / (name.empty() ? fs::path("snapshot.hex") : name)).string();
        CFile copy(std::fopen(path_.c_str(), "wb"));
        if (!copy || std::fwrite(bytes.data(), 1, bytes.size(), copy.get()) != bytes.size() ||
            std::fclose(copy.release()) != 0) {
            error = std::error_code(errno, std::generic_category());
        }
    }
    if (error || !sha256_) {
        error_ = "cannot keep a private copy of " + file +
                 " for the run: " + (error ? error.message() : std::string("no SHA-256"));
    }
}

HexSnapshot::~HexSnapshot() {
    if (!folder_.empty()) {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
}
