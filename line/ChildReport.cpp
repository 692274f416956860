#include "line/ChildReport.h"

#include <cstdio>

namespace {

constexpr std::string_view SerialPrefix = "parent: serial ";
constexpr std::string_view RecordedText = "parent: recorded";
constexpr std::string_view NotRecordedPrefix = "parent: not recorded: ";

std::string After(const std::string& line, std::string_view prefix) {
    return line.substr(prefix.size());
}

} // namespace

std::string ProgressLine(const char* stage, int percent) {
    char text[64];
    std::snprintf(text, sizeof text, "%s: %d %%", stage, percent);
    return text;
}

std::string StageEndLine(const char* stage, bool succeeded, double seconds) {
    char text[64];
    std::snprintf(text, sizeof text, "%s: %s in %.1f s", stage, succeeded ? "done" : "failed",
                  seconds);
    return text;
}

std::string SerialNumberLine(const std::string& serial) {
    return std::string(SerialPrefix) + serial;
}

std::string RecordedLine(bool appended, const std::string& why) {
    return appended ? std::string(RecordedText) : std::string(NotRecordedPrefix) + why;
}

ChildLine ReadChildLine(const std::string& line) {
    ChildLine read;
    if (line.starts_with('{')) {
        read.What = ChildLine::Record;
        read.Text = line;
    } else if (line.starts_with(SerialPrefix)) {
        read.What = ChildLine::Serial;
        read.Text = After(line, SerialPrefix);
    } else if (line == RecordedText) {
        read.What = ChildLine::Recorded;
    } else if (line.starts_with(NotRecordedPrefix)) {
        read.What = ChildLine::NotRecorded;
        read.Text = After(line, NotRecordedPrefix);
    } else if (line.starts_with(FailurePrefix)) {
        read.What = ChildLine::Failure;
        read.Text = After(line, FailurePrefix);
    } else {
        char stage[32] = {};
        int percent = 0;
        if (std::sscanf(line.c_str(), "%31[a-z]: %d %%", stage, &percent) == 2) {
            read = {ChildLine::Progress, {}, stage, percent};
        } else if (std::sscanf(line.c_str(), "%31[a-z]: done", stage) == 1 &&
                   line.find(": done in ") != std::string::npos) {
            read = {ChildLine::Progress, {}, stage, 100};
        }
    }
    return read;
}
