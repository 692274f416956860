#include "cli/SerialCommand.h"

#include "cli/ExitStatus.h"
#include "cli/Messages.h"
#include "line/ChildReport.h"
#include "line/SerialStatus.h"

#include <cstdio>

namespace {

int RunInit(const SerialCommandOptions& options) {
    if (!options.Start && !options.List) {
        return Fail(ExitStatus::Usage, "serial init: give --start N for a counter, or --list");
    }
    const std::string& file = options.File;
    std::size_t values = 0;
    std::optional<std::string> first;
    std::string why;
    if (!InitSerialFile(file, options.Start, values, first, why)) {
        return Fail(ExitStatus::File, why);
    }
    if (options.List) {
        std::printf("%s: a list of %zu values, the next %s\n", file.c_str(), values,
                    first ? first->c_str() : "none");
    } else {
        std::printf("%s: the next number is %llu\n", file.c_str(),
                    static_cast<unsigned long long>(*options.Start));
    }
    return ExitStatus::Success;
}

void PrintLine(const JournalLine& line) {
    const std::string& serial = line.Event == JournalEvent::Init ? line.Kind : line.Serial;
    std::string text =
        Format("  %s  %-8s  %-12s  %-10s  %s", line.Time.c_str(), line.Event.c_str(),
               serial.c_str(), line.Port.c_str(), line.RecordTime.empty() ? "" : "record ");
    text += line.RecordTime;
    text.erase(text.find_last_not_of(' ') + 1);
    std::printf("%s\n", text.c_str());
}

int RunStatus(const SerialCommandOptions& options) {
    const std::string& file = options.File;
    SerialStatus status;
    std::string why;
    if (!ReadSerialStatus(file, status, why)) {
        return Fail(ExitStatus::File, why);
    }
    if (!status.Warning.empty()) {
        std::fprintf(stderr, "%.*s%s\n", static_cast<int>(FailurePrefix.size()),
                     FailurePrefix.data(), status.Warning.c_str());
    }
    if (status.List) {
        std::printf("%s: list, %zu of %zu values left, next %s\n", file.c_str(), status.Left,
                    status.Values, status.Next ? status.Next->c_str() : "none");
    } else {
        std::printf("%s: counter, next number %s\n", file.c_str(),
                    status.Next ? status.Next->c_str() : "none (run out)");
    }
    std::printf("used %d, released %d, spoiled %d, kept %d, reserved now %d\n", status.Used,
                status.Released, status.Spoiled, status.Kept, status.Reserved);
    if (!status.KeptOn.empty()) {
        std::string kept;
        for (const auto& [serial, port] : status.KeptOn) {
            kept += (kept.empty() ? "" : ", ") + serial + " (" + port + ")";
        }
        std::printf("kept, and no line since (the board may have been left blank): %s\n",
                    kept.c_str());
    }
    for (const JournalLine& line : status.Last) {
        PrintLine(line);
    }
    return ExitStatus::Success;
}

} // namespace

CLI::App* AddSerialCommand(CLI::App& app, SerialCommandOptions& options) {
    CLI::App* serial = app.add_subcommand(
        "serial", "Serial-number files: make a counter or a list's journal, or show their state");
    serial->require_subcommand(1);
    CLI::App* init = serial->add_subcommand(
        "init", "Make a counter file holding its first number, or the journal of a list file");
    init->add_option("FILE", options.File, "Counter file to make, or list file")->required();
    CLI::Option* start =
        init->add_option("--start", options.Start, "A counter: the first number to give out");
    CLI::Option* list = init->add_flag(
        "--list", options.List, "A list: FILE holds the values, one per line, none given out yet");
    start->excludes(list);
    init->callback([&options] { options.Init = true; });
    CLI::App* status = serial->add_subcommand(
        "status",
        "The next number; how many were used, released, spoiled and kept; the last few lines");
    status->add_option("FILE", options.File, "Counter or list file")->required();
    return serial;
}

int RunSerial(const SerialCommandOptions& options) {
    return options.Init ? RunInit(options) : RunStatus(options);
}
