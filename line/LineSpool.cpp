#include "line/LineSpool.h"

#include "line/SharedFile.h"
#include "line/UtcTime.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <sstream>

namespace {

// The spool's text up to its last whole line: a line its writer never finished was never
// relied on, and the next append writes over it.
bool ReadWholeLines(const std::string& path, std::string& text, std::string& why) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (errno == ENOENT) {
            text.clear();
            return true;
        }
        why = "cannot read the spool " + path + ": " + std::strerror(errno);
        return false;
    }
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        why = "cannot read the spool " + path;
        return false;
    }
    text.resize(text.rfind('\n') + 1); // npos + 1 is 0
    return true;
}

bool Locked(const std::string& path, const FileLock& lock, std::string& why) {
    if (!lock.Ok()) {
        why = "cannot lock the spool " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

SpoolEntry EntryOf(const nlohmann::ordered_json& line) {
    SpoolEntry entry;
    entry.Id = line.at("entry").get<std::string>();
    entry.Url = line.at("url").get<std::string>();
    entry.Kind = line.at("kind").get<std::string>();
    if (entry.Kind != SpoolKind::Record) {
        entry.Reservation = line.at("reservation").get<std::int64_t>();
    }
    if (entry.Kind == SpoolKind::Record || entry.Kind == SpoolKind::Used) {
        entry.Record = line.at("record");
        if (!entry.Record.is_object()) {
            throw std::invalid_argument("a record is an object");
        }
    } else if (entry.Kind != SpoolKind::Released && entry.Kind != SpoolKind::Spoiled) {
        throw std::invalid_argument("unknown kind");
    }
    return entry;
}

// The entries in text that wait, and how many lines are neither entries nor marks.
SpoolContent Parse(const std::string& text) {
    SpoolContent content;
    std::map<std::string, std::size_t> at; // entry id to its place in Waiting
    std::set<std::string> sent;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const auto json = nlohmann::ordered_json::parse(line, nullptr, false);
        try {
            if (json.is_object() && json.contains("sent")) {
                sent.insert(json.at("sent").get<std::string>());
                continue;
            }
            SpoolEntry entry = EntryOf(json);
            at.emplace(entry.Id, content.Waiting.size());
            content.Waiting.push_back(std::move(entry));
        } catch (const std::exception&) {
            ++content.Damaged;
        }
    }
    std::erase_if(content.Waiting,
                  [&sent](const SpoolEntry& entry) { return sent.contains(entry.Id); });
    return content;
}

} // namespace

std::string NewSpoolId() {
    std::random_device random;
    char part[24];
    std::snprintf(part, sizeof part, "%08x%08x", static_cast<unsigned>(random()),
                  static_cast<unsigned>(random()));
    return UtcTimeNow() + "-" + part;
}

nlohmann::ordered_json SpoolEntryJson(const SpoolEntry& entry) {
    nlohmann::ordered_json line;
    line["entry"] = entry.Id;
    line["url"] = entry.Url;
    line["kind"] = entry.Kind;
    if (entry.Kind != SpoolKind::Record) {
        line["reservation"] = entry.Reservation;
    }
    if (!entry.Record.is_null()) {
        line["record"] = entry.Record;
    }
    return line;
}

bool LineSpool::Append(const std::vector<SpoolEntry>& entries, std::string& why) const {
    std::string added;
    for (const SpoolEntry& entry : entries) {
        added += SpoolEntryJson(entry).dump() + "\n";
    }
    const FileLock lock(path_, true);
    std::string text;
    if (!Locked(path_, lock, why) || !ReadWholeLines(path_, text, why)) {
        return false;
    }
    if (!AppendDurably(path_, added, text.size())) {
        why = "cannot append to the spool " + path_ + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool LineSpool::Read(SpoolContent& content, std::string& why) const {
    std::error_code missing;
    if (!std::filesystem::exists(path_, missing)) {
        content = {};
        return true;
    }
    const FileLock lock(path_, false);
    std::string text;
    if (!Locked(path_, lock, why) || !ReadWholeLines(path_, text, why)) {
        return false;
    }
    content = Parse(text);
    return true;
}

bool LineSpool::MarkSent(const std::set<std::string>& ids, std::string& why) const {
    if (ids.empty()) {
        return true;
    }
    const FileLock lock(path_, true);
    std::string text;
    if (!Locked(path_, lock, why) || !ReadWholeLines(path_, text, why)) {
        return false;
    }
    std::string marks;
    for (const std::string& id : ids) {
        marks += nlohmann::ordered_json{{"sent", id}}.dump() + "\n";
    }
    const SpoolContent left = Parse(text + marks);
    // Nothing waits: the spool starts again empty. A damaged line is kept for a person to see.
    const bool empty = left.Waiting.empty() && left.Damaged == 0;
    if (!AppendDurably(path_, empty ? std::string() : marks, empty ? 0 : text.size())) {
        why = "cannot mark entries sent in the spool " + path_ + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool LineSpool::SetAside(const SpoolEntry& entry, const std::string& reason,
                         std::string& why) const {
    const std::string refused = path_ + ".refused";
    nlohmann::ordered_json line = SpoolEntryJson(entry);
    line["refused"] = reason;
    const FileLock lock(refused, true);
    std::string text;
    if (!Locked(refused, lock, why) || !ReadWholeLines(refused, text, why)) {
        return false;
    }
    if (!AppendDurably(refused, line.dump() + "\n", text.size())) {
        why = "cannot append to " + refused + ": " + std::strerror(errno);
        return false;
    }
    return true;
}
