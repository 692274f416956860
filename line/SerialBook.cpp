#include "line/SerialBook.h"

#include "line/SharedFile.h"
#include "line/UtcTime.h"

#include <charconv>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

namespace {

enum class Read { Ok, Missing, Failed };

Read ReadFile(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::error_code ignored;
        return std::filesystem::exists(path, ignored) ? Read::Failed : Read::Missing;
    }
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return in.bad() ? Read::Failed : Read::Ok;
}

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

} // namespace

std::string JournalPathOf(const std::string& file) {
    return file + ".journal";
}

std::string LockPathOf(const std::string& file) {
    return file + ".lock";
}

bool SerialBook::Held(const FileLock& lock, std::string& why) const {
    if (!lock.Ok()) {
        why = std::string("cannot lock ") + LockPathOf(source_.File());
    }
    return lock.Ok();
}

bool SerialBook::Load(std::string& why) {
    const std::string& file = source_.File();
    std::string text;
    switch (ReadFile(file, text)) {
    case Read::Missing:
        why = file + " does not exist" +
              (source_.Counter.empty()
                   ? ""
                   : std::string("; make it with tervix-flash serial init ") + file + " --start N");
        return false;
    case Read::Failed:
        why = std::string("cannot read ") + file;
        return false;
    case Read::Ok:
        break;
    }
    list_.clear();
    counter_.reset();
    if (!source_.Counter.empty()) {
        const std::string number = Trimmed(text);
        std::uint64_t value = 0;
        const auto [last, error] =
            std::from_chars(number.data(), number.data() + number.size(), value);
        if (number.empty() || error != std::errc() || last != number.data() + number.size()) {
            why = file + " does not hold a number in decimal on one line";
            return false;
        }
        counter_ = value;
    } else {
        std::istringstream in(text);
        std::set<std::string> seen;
        int number = 0;
        for (std::string line; std::getline(in, line);) {
            ++number;
            const std::string value = Trimmed(line);
            if (value.empty()) {
                continue;
            }
            if (!seen.insert(value).second) {
                why = file + " line " + std::to_string(number) + ": " + value +
                      " stands in the list twice";
                return false;
            }
            list_.push_back(value);
        }
    }
    journalText_.clear();
    const std::string journal = JournalPathOf(file);
    if (ReadFile(journal, journalText_) == Read::Failed) {
        why = std::string("cannot read ") + journal;
        return false;
    }
    auto lines = ParseJournal(journalText_, why);
    if (!lines) {
        why = journal + " " + why;
        return false;
    }
    lines_ = std::move(*lines);
    return true;
}

bool SerialBook::LoadLocked(std::string& why) {
    std::error_code ignored;
    if (!std::filesystem::exists(source_.File(), ignored)) {
        return Load(why); // says why, and leaves no lock file beside a name that is not there
    }
    const FileLock lock(LockPathOf(source_.File()));
    return Held(lock, why) && Load(why);
}

std::optional<std::string> SerialBook::Next() const {
    if (counter_) {
        const auto value = NextCounterValue(*counter_, source_.Step, lines_);
        return value ? std::optional<std::string>(std::to_string(*value)) : std::nullopt;
    }
    return NextListValue(list_, lines_);
}

std::vector<JournalLine> SerialBook::DeadReservations(const std::string& host) const {
    std::vector<JournalLine> dead;
    for (const auto& [serial, line] : LatestLines(lines_)) {
        if (line.Event == JournalEvent::Reserved && line.Host == host &&
            line.Pid != OwnProcessId() && !ProcessRunning(line.Pid)) {
            dead.push_back(line);
        }
    }
    return dead;
}

bool SerialBook::Append(const std::vector<JournalLine>& added, std::string& why) {
    std::string text = journalText_;
    if (!text.empty() && text.back() != '\n') {
        text += '\n';
    }
    for (const JournalLine& line : added) {
        text += JournalLineText(line) + "\n";
    }
    const std::string journal = JournalPathOf(source_.File());
    if (!ReplaceFileDurably(journal, text)) {
        why = std::string("cannot write ") + journal;
        return false;
    }
    journalText_ = std::move(text);
    lines_.insert(lines_.end(), added.begin(), added.end());
    return true;
}

bool SerialBook::Reserve(const SerialOwner& owner, std::string& value, std::string& why) {
    const FileLock lock(LockPathOf(source_.File()));
    if (!Held(lock, why) || !Load(why)) {
        return false;
    }
    const std::string now = UtcTimeNow();
    std::vector<JournalLine> added;
    for (JournalLine spoiled : DeadReservations(owner.Host)) {
        spoiled.Time = now;
        spoiled.Event = JournalEvent::Spoiled;
        added.push_back(spoiled);
    }
    // Spoiled lines go in first: the value below is chosen with them counted.
    lines_.insert(lines_.end(), added.begin(), added.end());
    const std::optional<std::string> next = Next();
    lines_.resize(lines_.size() - added.size());
    if (!next) {
        std::string ignored;
        if (!added.empty()) {
            Append(added, ignored);
        }
        why = counter_ ? std::string("the counter ") + source_.File() + " has run out of numbers"
                       : std::string("no value of ") + source_.File() + " is left: all " +
                             std::to_string(list_.size()) + " were given out";
        return false;
    }
    added.push_back({now, JournalEvent::Reserved, *next, owner.Port, owner.Host, owner.Pid, ""});
    // The journal first: a counter left behind by a cut between the two is overtaken by the
    // journal's numbers when read again.
    if (!Append(added, why)) {
        return false;
    }
    value = *next;
    if (counter_) {
        const std::uint64_t taken = std::stoull(*next);
        if (taken >= *counter_ && taken <= UINT64_MAX - source_.Step &&
            !ReplaceFileDurably(source_.File(), std::to_string(taken + source_.Step) + "\n")) {
            why = std::string("cannot write ") + source_.File();
            return false;
        }
    }
    return true;
}

bool SerialBook::End(const std::string& value, const char* event, const SerialOwner& owner,
                     const std::string& recordTime, std::string& why) {
    const FileLock lock(LockPathOf(source_.File()));
    if (!Held(lock, why) || !Load(why)) {
        return false;
    }
    return Append({{UtcTimeNow(), event, value, owner.Port, owner.Host, owner.Pid, recordTime}},
                  why);
}
