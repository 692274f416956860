#include "cli/SerialCommand.h"

#include "cli/ExitStatus.h"
#include "cli/Messages.h"
#include "line/RecordFile.h"
#include "line/SerialBook.h"
#include "line/SharedFile.h"

#include <cstdio>
#include <filesystem>

namespace {

// The journal's last lines shown by status.
constexpr std::size_t LastLinesShown = 5;

int RunInit(const SerialCommandOptions& options) {
    const std::string& file = options.File;
    const FileLock lock(LockPathOf(file));
    if (!lock.Ok()) {
        return Fail(ExitStatus::File, std::string("cannot lock ") + LockPathOf(file));
    }
    std::error_code ignored;
    // Numbers of an earlier counter may be on boards: starting again could give them twice.
    for (const std::string& existing : {file, JournalPathOf(file)}) {
        if (std::filesystem::exists(existing, ignored)) {
            return Fail(ExitStatus::File,
                        existing + " exists already; its numbers may be on boards");
        }
    }
    if (!ReplaceFileDurably(file, std::to_string(options.Start) + "\n")) {
        return Fail(ExitStatus::File, std::string("cannot write ") + file);
    }
    std::printf("%s: the next number is %llu\n", file.c_str(),
                static_cast<unsigned long long>(options.Start));
    return ExitStatus::Success;
}

int RunStatus(const SerialCommandOptions& options) {
    // A counter holds one number; anything else is read as a list.
    SerialSource source{options.File, "", 1};
    SerialBook book(source);
    std::string why;
    if (!book.LoadLocked(why)) {
        source = {"", options.File, 1};
        book = SerialBook(source);
        if (!book.LoadLocked(why)) {
            return Fail(ExitStatus::File, why);
        }
    }
    // A reservation whose process has gone is spoiled, though no later run has said so yet.
    const int dead = static_cast<int>(book.DeadReservations(HostName()).size());
    int used = 0;
    int released = 0;
    int spoiled = dead;
    int reserved = 0;
    const auto latest = LatestLines(book.Lines());
    for (const auto& [serial, line] : latest) {
        used += line.Event == JournalEvent::Used ? 1 : 0;
        released += line.Event == JournalEvent::Released ? 1 : 0;
        spoiled += line.Event == JournalEvent::Spoiled ? 1 : 0;
        reserved += line.Event == JournalEvent::Reserved ? 1 : 0;
    }
    const std::optional<std::string> next = book.Next();
    if (book.Counter()) {
        std::printf("%s: counter, next number %s\n", options.File.c_str(),
                    next ? next->c_str() : "none (run out)");
    } else {
        std::size_t left = 0;
        for (const auto& value : book.List()) {
            const auto it = latest.find(value);
            left += it == latest.end() || it->second.Event == JournalEvent::Released ? 1 : 0;
        }
        std::printf("%s: list, %zu of %zu values left, next %s\n", options.File.c_str(), left,
                    book.List().size(), next ? next->c_str() : "none");
    }
    std::printf("used %d, released %d, spoiled %d, reserved now %d\n", used, released, spoiled,
                reserved - dead);
    const auto& lines = book.Lines();
    const std::size_t first = lines.size() > LastLinesShown ? lines.size() - LastLinesShown : 0;
    for (std::size_t i = first; i < lines.size(); ++i) {
        const JournalLine& line = lines[i];
        std::string text = Format("  %s  %-8s  %-12s  %-10s  %s", line.Time.c_str(),
                                  line.Event.c_str(), line.Serial.c_str(), line.Port.c_str(),
                                  line.RecordTime.empty() ? "" : "record ");
        text += line.RecordTime;
        text.erase(text.find_last_not_of(' ') + 1);
        std::printf("%s\n", text.c_str());
    }
    return ExitStatus::Success;
}

} // namespace

CLI::App* AddSerialCommand(CLI::App& app, SerialCommandOptions& options) {
    CLI::App* serial = app.add_subcommand(
        "serial", "Serial-number files: make a counter, or show a counter's or list's state");
    serial->require_subcommand(1);
    CLI::App* init = serial->add_subcommand("init", "Make a counter file holding its first number");
    init->add_option("FILE", options.File, "Counter file to make")->required();
    init->add_option("--start", options.Start, "The first number to give out")->required();
    init->callback([&options] { options.Init = true; });
    CLI::App* status = serial->add_subcommand(
        "status", "The next number; how many were used, released and spoiled; the last few");
    status->add_option("FILE", options.File, "Counter or list file")->required();
    return serial;
}

int RunSerial(const SerialCommandOptions& options) {
    return options.Init ? RunInit(options) : RunStatus(options);
}
