#pragma once
// What a board's child process says to its parent, one line at a time on its output, and how the
// parent reads it back: a stage's progress ("erase: 42 %") and end ("erase: done in 3.1 s"), a
// failure ("tervix-flash: ..."), its record (one JSON object), the serial number that may be on
// its board from now on, and whether it appended its record line itself. The progress lines are
// also what a terminal that is not redrawn shows, so they read as plain text.

#include <optional>
#include <string>
#include <string_view>

// Every failure message of tervix-flash starts so.
inline constexpr std::string_view FailurePrefix = "tervix-flash: ";

// "erase: 42 %".
std::string ProgressLine(const char* stage, int percent);
// "erase: done in 3.1 s", "write: failed in 0.4 s".
std::string StageEndLine(const char* stage, bool succeeded, double seconds);
// "parent: serial 1041".
std::string SerialNumberLine(const std::string& serial);
// After the child's record line: whether the record file took it, and why not.
std::string RecordedLine(bool appended, const std::string& why);

// One line of a child's output, as its parent reads it.
struct ChildLine {
    enum Kind {
        Other,       // anything else, passed over
        Record,      // Text: the record's JSON
        Serial,      // Text: the number
        Recorded,    // the record file took the child's record line
        NotRecorded, // Text: why the record file refused it
        Failure,     // Text: the message
        Progress,    // Stage and Percent; 100 once the stage is done
    } What = Other;
    std::string Text;
    std::string Stage;
    int Percent = 0;
};

ChildLine ReadChildLine(const std::string& line);
