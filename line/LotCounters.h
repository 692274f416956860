#pragma once
// Passed, failed and first-pass yield of the boards that record lines tell of, each board counted
// once: by the serial number its records name, else by its port and time. A station keeps one
// count for its own jobs since it started, and one for its lot read from the record file (every
// line of its project with its tags), so that a station started again goes on with its lot's
// figures, and lines other stations append to the same file count too.

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

struct YieldCounts {
    std::size_t Passed = 0;    // boards with a record that passed
    std::size_t Failed = 0;    // boards with none that passed
    std::size_t FirstPass = 0; // boards whose first record passed

    std::size_t Boards() const { return Passed + Failed; }
    // FirstPass of Boards in percent; none before the first board.
    std::optional<double> FirstPassYield() const;
};

class LotCounters {
public:
    // One record line, as the record file holds it; anything but an object is passed over.
    void Add(const nlohmann::json& record);
    const YieldCounts& Counts() const { return counts_; }
    void Clear() { *this = LotCounters(); }

private:
    std::unordered_map<std::string, bool> passed_; // by board: whether a record of it passed
    YieldCounts counts_;
};

// One lot's lines of a record file, read from where the last read stopped.
class LotFile {
public:
    LotFile(std::string path, std::string project, nlohmann::json tags);

    // Counts the lines appended since the last call; false, with why, when the file cannot be
    // read. A file found shorter than before (replaced) is counted again from its start.
    bool ReadNew(std::string& why);
    const YieldCounts& Counts() const { return counters_.Counts(); }

private:
    void Take(std::string_view line);

    std::string path_;
    std::string project_;
    nlohmann::json tags_;
    std::uint64_t offset_ = 0;
    std::string pending_; // a line not ended yet: its writer's one write has not all arrived
    LotCounters counters_;
};
