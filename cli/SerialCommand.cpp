#include "cli/SerialCommand.h"

#include "cli/ExitStatus.h"
#include "cli/Messages.h"
#include "line/RecordFile.h"
#include "line/SerialBook.h"
#include "line/SharedFile.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <unordered_map>

namespace {

// The journal's last lines shown by status.
constexpr std::size_t LastLinesShown = 5;

int RunInit(const SerialCommandOptions& options) {
    if (!options.Start && !options.List) {
        return Fail(ExitStatus::Usage, "serial init: give --start N for a counter, or --list");
    }
    const std::string& file = options.File;
    SerialBook book(options.List ? SerialSource{"", file, 1} : SerialSource{file, "", 1});
    std::string why;
    if (!book.Init(options.Start, {HostName(), OwnProcessId(), ""}, why)) {
        return Fail(ExitStatus::File, why);
    }
    if (options.List) {
        std::printf("%s: a list of %zu values, the next %s\n", file.c_str(), book.List().size(),
                    book.List().empty() ? "none" : book.List().front().c_str());
    } else {
        std::printf("%s: the next number is %llu\n", file.c_str(),
                    static_cast<unsigned long long>(*options.Start));
    }
    return ExitStatus::Success;
}

// Every number's latest line as the whole journal tells it, read line by line: only this much
// is held, however long the journal.
struct Tally {
    std::unordered_map<std::string, const char*> Latest;
    std::unordered_map<std::string, std::string> KeptOn; // the port of a number's last kept line
    std::deque<JournalLine> Last;

    void See(const JournalLine& line) {
        Last.push_back(line);
        if (Last.size() > LastLinesShown) {
            Last.pop_front();
        }
        if (line.Event == JournalEvent::Init) {
            return;
        }
        for (const char* event :
             {JournalEvent::Reserved, JournalEvent::Used, JournalEvent::Released,
              JournalEvent::Spoiled, JournalEvent::Kept}) {
            if (line.Event == event) {
                Latest[line.Serial] = event;
            }
        }
        if (line.Event == JournalEvent::Kept) {
            KeptOn[line.Serial] = line.Port;
        }
    }

    int Count(const char* event) const {
        return static_cast<int>(
            std::count_if(Latest.begin(), Latest.end(),
                          [event](const auto& entry) { return entry.second == event; }));
    }

    bool Free(const std::string& value) const {
        const auto it = Latest.find(value);
        return it == Latest.end() || it->second == JournalEvent::Released;
    }
};

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
    const bool list = StoreKindOf(file) == std::string(StoreKind::List);
    SerialBook book(list ? SerialSource{"", file, 1} : SerialSource{file, "", 1});
    Tally tally;
    std::string why;
    if (!book.Survey([&tally](const JournalLine& line) { tally.See(line); }, why)) {
        return Fail(ExitStatus::File, why);
    }
    if (!book.Warning().empty()) {
        std::fprintf(stderr, "tervix-flash: %s\n", book.Warning().c_str());
    }
    const std::optional<std::string> next = book.Next();
    if (list) {
        const auto left = std::count_if(book.List().begin(), book.List().end(),
                                        [&tally](const auto& value) { return tally.Free(value); });
        std::printf("%s: list, %zu of %zu values left, next %s\n", file.c_str(),
                    static_cast<std::size_t>(left), book.List().size(),
                    next ? next->c_str() : "none");
    } else {
        std::printf("%s: counter, next number %s\n", file.c_str(),
                    next ? next->c_str() : "none (run out)");
    }
    // A reservation whose process has gone is spoiled, though no later run has said so yet.
    const int dead = static_cast<int>(book.DeadReservations(HostName()).size());
    std::printf("used %d, released %d, spoiled %d, kept %d, reserved now %d\n",
                tally.Count(JournalEvent::Used), tally.Count(JournalEvent::Released),
                tally.Count(JournalEvent::Spoiled) + dead, tally.Count(JournalEvent::Kept),
                tally.Count(JournalEvent::Reserved) - dead);
    std::vector<std::string> kept;
    for (const auto& [serial, event] : tally.Latest) {
        if (event == JournalEvent::Kept) {
            kept.push_back(serial + " (" + tally.KeptOn[serial] + ")");
        }
    }
    if (!kept.empty()) {
        std::sort(kept.begin(), kept.end());
        std::string text;
        for (const std::string& one : kept) {
            text += (text.empty() ? "" : ", ") + one;
        }
        std::printf("kept, and no line since (the board may have been left blank): %s\n",
                    text.c_str());
    }
    for (const JournalLine& line : tally.Last) {
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
