#pragma once
// The journal of a serial-number file: one JSON object per line, one line per change of a
// number's state, so that every number given out can be traced to a board and no number is
// given twice. Parsing and the state the lines add up to; no file access here.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace JournalEvent {
inline constexpr const char* Reserved = "reserved"; // taken for a board about to be written
inline constexpr const char* Used = "used";         // the board passed with it
inline constexpr const char* Released = "released"; // the board failed: the next board takes it
// A reservation whose run ended without saying how: never given out again.
inline constexpr const char* Spoiled = "spoiled";
inline constexpr const char* Kept = "kept";
} // namespace JournalEvent

struct JournalLine {
    std::string Time;  // UTC, ISO 8601
    std::string Event; // one of JournalEvent
    std::string Serial;
    std::string Port;
    std::string Host;
    long long Pid = 0;      // the process that reserved the number
    std::string RecordTime; // the board record's time, for used and released
};

std::string JournalLineText(const JournalLine& line);

// The journal's lines; none, with why naming the line, when one is not a journal line.
std::optional<std::vector<JournalLine>> ParseJournal(const std::string& text, std::string& why);

// Every number's latest line.
std::map<std::string, JournalLine> LatestLines(const std::vector<JournalLine>& lines);

// The number a counter gives next: the smallest released one, else the first at or above the
// counter that no line names yet (counter, counter + step, ...), kept above every number the
// journal names so that a counter left behind by a power cut never repeats one. None when the
// numbers run out of 64 bits.
std::optional<std::uint64_t> NextCounterValue(std::uint64_t counter, std::uint64_t step,
                                              const std::vector<JournalLine>& lines);

// The first value of the list that no line names, or whose latest line released it.
std::optional<std::string> NextListValue(const std::vector<std::string>& list,
                                         const std::vector<JournalLine>& lines);
