#include "cli/SerialCommand.h"

#include "cli/ExitStatus.h"
#include "cli/Messages.h"
#include "line/RecordFile.h"
#include "line/SerialBook.h"
#include "line/SharedFile.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <map>
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

// The events counted by status, in its order.
constexpr std::array<const char*, 5> Counted = {JournalEvent::Used, JournalEvent::Released,
                                                JournalEvent::Spoiled, JournalEvent::Kept,
                                                JournalEvent::Reserved};
enum { UsedAt, ReleasedAt, SpoiledAt, KeptAt, ReservedAt };

// A serial in plain decimal (no sign, no leading zero): the number it names.
std::optional<std::uint64_t> PlainNumber(const std::string& serial) {
    std::uint64_t value = 0;
    const char* end = serial.data() + serial.size();
    const auto [last, error] = std::from_chars(serial.data(), end, value);
    if (error != std::errc() || last != end || (serial.size() > 1 && serial[0] == '0')) {
        return std::nullopt;
    }
    return value;
}

// Every number's latest event as the whole journal tells it, read line by line and counted as it
// goes: only this much is held, however long the journal.
struct Tally {
    // Where in Counted. Plain numbers are kept apart: hashed as themselves, a counter's numbers
    // lie side by side, which makes a million lines several times quicker to read.
    std::unordered_map<std::uint64_t, std::size_t> Numbers;
    std::unordered_map<std::string, std::size_t> Others;
    std::array<int, Counted.size()> Counts{};
    std::map<std::string, std::string> KeptOn; // a number whose latest line is kept, and its port
    std::array<JournalLine, LastLinesShown> Last; // in turn: their strings are reused
    std::size_t Lines = 0;

    void See(const JournalLine& line) {
        Last[Lines++ % Last.size()] = line;
        const auto counted =
            std::find_if(Counted.begin(), Counted.end(),
                         [&line](const char* event) { return line.Event == event; });
        if (counted == Counted.end()) {
            return; // the kind of file
        }
        const auto at = static_cast<std::size_t>(counted - Counted.begin());
        const auto number = PlainNumber(line.Serial);
        std::size_t& latest = number
                                  ? Numbers.try_emplace(*number, Counted.size()).first->second
                                  : Others.try_emplace(line.Serial, Counted.size()).first->second;
        if (latest < Counted.size()) {
            --Counts[latest];
        }
        latest = at;
        ++Counts[at];
        if (at == KeptAt) {
            KeptOn[line.Serial] = line.Port;
        } else if (!KeptOn.empty()) {
            KeptOn.erase(line.Serial);
        }
    }

    bool Free(const std::string& value) const {
        const auto number = PlainNumber(value);
        if (number) {
            const auto it = Numbers.find(*number);
            return it == Numbers.end() || it->second == ReleasedAt;
        }
        const auto it = Others.find(value);
        return it == Others.end() || it->second == ReleasedAt;
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
    const auto& counts = tally.Counts;
    std::printf("used %d, released %d, spoiled %d, kept %d, reserved now %d\n", counts[UsedAt],
                counts[ReleasedAt], counts[SpoiledAt] + dead, counts[KeptAt],
                counts[ReservedAt] - dead);
    if (!tally.KeptOn.empty()) {
        std::string kept;
        for (const auto& [serial, port] : tally.KeptOn) {
            kept += (kept.empty() ? "" : ", ") + serial + " (" + port + ")";
        }
        std::printf("kept, and no line since (the board may have been left blank): %s\n",
                    kept.c_str());
    }
    const std::size_t shown = std::min(tally.Lines, tally.Last.size());
    for (std::size_t i = tally.Lines - shown; i < tally.Lines; ++i) {
        PrintLine(tally.Last[i % tally.Last.size()]);
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
