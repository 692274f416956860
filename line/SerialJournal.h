#pragma once
// The journal of a serial-number file: one JSON object per line, one line per change of a
// number's state, so that every number given out can be traced to a board and no number is
// given twice. Its first line may say which kind of file it belongs to. Parsing and the state
// the lines add up to; no file access here.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace JournalEvent {
// The journal's first line, made by serial init: which kind of file (StoreKind) it belongs to.
inline constexpr const char* Init = "init";
inline constexpr const char* Reserved = "reserved"; // taken for a board about to be written
inline constexpr const char* Used = "used";         // the board passed with it
inline constexpr const char* Released = "released"; // the board failed: the next board takes it
// A reservation whose run ended without saying how, or a number that reached a board that did
// not pass: never given out again.
inline constexpr const char* Spoiled = "spoiled";
// Read from a board before its erase, to be written back: that board has it.
inline constexpr const char* Kept = "kept";
} // namespace JournalEvent

namespace StoreKind {
inline constexpr const char* Counter = "counter";
inline constexpr const char* List = "list";
} // namespace StoreKind

struct JournalLine {
    std::string Time;  // UTC, ISO 8601
    std::string Event; // one of JournalEvent
    std::string Serial;
    std::string Port;
    std::string Host;
    long long Pid = 0;      // the process that wrote the line
    std::string RecordTime; // the board record's time, for used and released
    std::string Kind;       // init only: one of StoreKind
};

std::string JournalLineText(const JournalLine& line);

// One line of the journal without its line end; false, with why, when it is not a journal line.
bool ParseJournalLine(std::string_view text, JournalLine& line, std::string& why);

// What the lines up to some point say about giving numbers: all that a reservation needs, and
// small whatever the journal's length. Only a list keeps every value's latest event, its number
// of values being the list's own.
struct JournalState {
    std::string Kind;        // from the init line; empty in a journal made before it was recorded
    bool EveryValue = false; // keep Latest (a list)
    std::optional<std::uint64_t> Highest;        // the highest number any line names
    std::set<std::string> Released;              // numbers whose latest line released them
    std::map<std::string, JournalLine> Reserved; // reservations not ended
    std::map<std::string, std::string> Latest;   // EveryValue: each value's latest event
    std::uint64_t Lines = 0;                     // lines taken, blank ones too

    // The next line; false, with why, for an init line that is not the first.
    bool Take(const JournalLine& line, std::string& why);
};

// Takes every line of text that ends with a line end into state, numbered on from state.Lines,
// and shows each to seen; taken says how many bytes that was, the rest being a line not
// finished. False, with why naming the line, at the first that is not a journal line.
bool TakeJournalText(std::string_view text, JournalState& state, std::size_t& taken,
                     std::string& why,
                     const std::function<void(const JournalLine&)>& seen = nullptr);

// The number a counter gives next: the smallest released one, else the first at or above the
// counter that no line names yet (counter, counter + step, ...), kept above every number the
// journal names so that a counter left behind by a power cut never repeats one. None when the
// numbers run out of 64 bits.
std::optional<std::uint64_t> NextCounterValue(std::uint64_t counter, std::uint64_t step,
                                              const JournalState& state);

// The first value of the list that no line names, or whose latest line released it.
std::optional<std::string> NextListValue(const std::vector<std::string>& list,
                                         const JournalState& state);
