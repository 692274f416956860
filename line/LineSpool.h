#pragma once
// A station's spool: every board's record and every end of a reservation is appended to this
// file and synced before it is sent, and marked sent once the server has it, so that nothing is
// lost while the server or the network is away; the next run, or `line push`, sends what is
// left. The file is only ever appended to, under the lock of the file itself, so that the
// processes of a run's boards share it; once nothing in it waits, it is cut back to nothing.

#include <nlohmann/json.hpp>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

// What waits to be sent.
struct SpoolEntry {
    std::string Id;  // unique, made by its writer
    std::string Url; // the server it is for
    // "record", or how a reservation ended: "used" (with the record), "released", "spoiled".
    std::string Kind;
    std::int64_t Reservation = 0;  // an end's
    nlohmann::ordered_json Record; // a record's, and a used end's: the board's record
};

namespace SpoolKind {
inline constexpr const char* Record = "record";
inline constexpr const char* Used = "used";
inline constexpr const char* Released = "released";
inline constexpr const char* Spoiled = "spoiled";
} // namespace SpoolKind

// A new entry id, unique for good: the time and a random part.
std::string NewSpoolId();

// What a spool holds now.
struct SpoolContent {
    std::vector<SpoolEntry> Waiting; // in the order they were appended
    std::size_t Damaged = 0;         // lines that are not entries; left where they are
};

class LineSpool {
public:
    explicit LineSpool(std::string path) : path_(std::move(path)) {}

    // Appends the entries with one synced write; false, with why, when they are not on the disk.
    bool Append(const std::vector<SpoolEntry>& entries, std::string& why) const;
    // The entries not marked sent; false, with why, when the spool cannot be read. A spool that
    // is not there holds nothing.
    bool Read(SpoolContent& content, std::string& why) const;
    // Marks the entries of ids sent, and empties the spool once nothing waits in it.
    bool MarkSent(const std::set<std::string>& ids, std::string& why) const;
    // Keeps an entry the server refused for good beside the spool (PATH.refused, with the
    // reason), out of the way of those that wait.
    bool SetAside(const SpoolEntry& entry, const std::string& reason, std::string& why) const;

    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

nlohmann::ordered_json SpoolEntryJson(const SpoolEntry& entry);
