#include "line/LotCounters.h"

#include <algorithm>
#include <fstream>
#include <string_view>
#include <utility>

namespace {

std::string TextOf(const nlohmann::json& record, const char* key) {
    const auto it = record.find(key);
    return it != record.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// The board a record is of: the number it got or was found holding, else where and when it ran.
std::string BoardOf(const nlohmann::json& record) {
    for (const char* key : {"serial", "serial_unverified"}) {
        if (std::string serial = TextOf(record, key); !serial.empty()) {
            return "serial " + serial;
        }
    }
    return "port " + TextOf(record, "port") + " at " + TextOf(record, "time");
}

} // namespace

std::optional<double> YieldCounts::FirstPassYield() const {
    if (Boards() == 0) {
        return std::nullopt;
    }
    return 100.0 * static_cast<double>(FirstPass) / static_cast<double>(Boards());
}

void LotCounters::Add(const nlohmann::json& record) {
    if (!record.is_object()) {
        return;
    }
    const auto status = record.find("exit_status");
    const bool passed = status != record.end() && *status == 0;
    const auto [board, first] = passed_.emplace(BoardOf(record), passed);
    if (first) {
        ++(passed ? counts_.Passed : counts_.Failed);
        counts_.FirstPass += passed ? 1 : 0;
    } else if (passed && !board->second) {
        board->second = true;
        --counts_.Failed;
        ++counts_.Passed;
    }
}

LotFile::LotFile(std::string path, std::string project, nlohmann::json tags)
    : path_(std::move(path)), project_(std::move(project)), tags_(std::move(tags)) {}

void LotFile::Take(std::string_view line) {
    const nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
    if (record.is_object() && TextOf(record, "command") == "flash" &&
        TextOf(record, "project") == project_ && record.value("tags", nlohmann::json()) == tags_) {
        counters_.Add(record);
    }
}

bool LotFile::ReadNew(std::string& why) {
    std::ifstream file(path_, std::ios::binary);
    if (!file) {
        why = "cannot read the record " + path_;
        return false;
    }
    file.seekg(0, std::ios::end);
    const auto size = static_cast<std::uint64_t>(file.tellg());
    if (size < offset_) {
        offset_ = 0;
        pending_.clear();
        counters_.Clear();
    }
    file.seekg(static_cast<std::streamoff>(offset_));
    // A chunk at a time, a lot's file may hold years of lines; and no further than the length
    // found, since a device (/dev/zero) would never end.
    char buffer[65536];
    while (offset_ < size &&
           (file.read(buffer, static_cast<std::streamsize>(
                                  std::min<std::uint64_t>(sizeof buffer, size - offset_))) ||
            file.gcount() > 0)) {
        pending_.append(buffer, static_cast<std::size_t>(file.gcount()));
        offset_ += static_cast<std::uint64_t>(file.gcount());
        std::size_t start = 0;
        for (std::size_t end; (end = pending_.find('\n', start)) != std::string::npos;
             start = end + 1) {
            Take(std::string_view(pending_).substr(start, end - start));
        }
        pending_.erase(0, start);
    }
    return true;
}
