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

// A counter file's number: decimal, alone on its line.
std::optional<std::uint64_t> CounterValue(const std::string& text) {
    const std::string number = Trimmed(text);
    std::uint64_t value = 0;
    const auto [last, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (number.empty() || error != std::errc() || last != number.data() + number.size()) {
        return std::nullopt;
    }
    return value;
}

// The journal is read in pieces this large: a long history is never held whole.
constexpr std::size_t JournalPiece = 1 << 20;

// Whether the journal, size bytes long, is the one checkpoint was made from.
bool Fits(const JournalCheckpoint& checkpoint, std::ifstream& journal, std::uint64_t size) {
    if (checkpoint.Bytes > size) {
        return false;
    }
    std::string tail(checkpoint.Tail.size(), '\0');
    journal.seekg(static_cast<std::streamoff>(checkpoint.Bytes - tail.size()));
    journal.read(tail.data(), static_cast<std::streamsize>(tail.size()));
    return journal && tail == checkpoint.Tail;
}

std::optional<JournalCheckpoint> ReadCheckpoint(const std::string& path) {
    std::string text;
    return ReadFile(path, text) == Read::Ok ? ParseCheckpoint(text) : std::nullopt;
}

// How a list's values stand, for the message that none is left.
std::string ListCounts(const std::vector<std::string>& list, const JournalState& state) {
    std::map<std::string, int> counts;
    for (const std::string& value : list) {
        if (const auto it = state.Latest.find(value); it != state.Latest.end()) {
            ++counts[it->second];
        }
    }
    std::ostringstream text;
    text << counts[JournalEvent::Used] << " used, " << counts[JournalEvent::Reserved]
         << " reserved, " << counts[JournalEvent::Spoiled] << " spoiled, "
         << counts[JournalEvent::Kept] << " kept of " << list.size();
    return text.str();
}

} // namespace

std::string JournalPathOf(const std::string& file) {
    return file + ".journal";
}

std::string CheckpointPathOf(const std::string& file) {
    return file + ".checkpoint";
}

const char* StoreKindOf(const std::string& file) {
    const std::string resolved = ResolvedPath(file);
    const std::string& path = resolved.empty() ? file : resolved;
    std::ifstream journal(JournalPathOf(path), std::ios::binary);
    std::string first;
    JournalLine line;
    std::string why;
    if (std::getline(journal, first) && ParseJournalLine(first, line, why) &&
        line.Event == JournalEvent::Init) {
        return line.Kind == StoreKind::List ? StoreKind::List : StoreKind::Counter;
    }
    std::string text;
    return ReadFile(path, text) == Read::Ok && CounterValue(text) ? StoreKind::Counter
                                                                  : StoreKind::List;
}

SerialBook::SerialBook(SerialSource source)
    : source_(std::move(source)), file_(ResolvedPath(source_.File())) {
    if (file_.empty()) {
        file_ = source_.File(); // a folder that is not there: reading says so
    }
}

bool SerialBook::Lock(std::optional<FileLock>& lock, std::string& why) const {
    const bool list = source_.Counter.empty();
    const std::string journal = JournalPathOf(file_);
    // A counter's journal starts with its first change; a list's must have been made.
    lock.emplace(journal, !list);
    if (lock->Ok()) {
        return true;
    }
    std::error_code ignored;
    why = list && !std::filesystem::exists(journal, ignored)
              ? NoJournal()
              : std::string("cannot lock ") + journal;
    return false;
}

std::string SerialBook::NoJournal() const {
    const std::string& file = source_.File();
    return file + " has no journal " + JournalPathOf(file_) +
           ", so its values may be on boards already; if none is, make the journal with "
           "tervix-flash serial init " +
           file + " --list";
}

bool SerialBook::ReadStore(std::string& why) {
    const std::string& file = source_.File();
    std::string text;
    switch (ReadFile(file_, text)) {
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
        counter_ = CounterValue(text);
        if (!counter_) {
            why = file + " does not hold a number in decimal on one line";
        }
        return counter_.has_value();
    }
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
    return true;
}

bool SerialBook::ReadJournal(bool checkpoint, const std::function<void(const JournalLine&)>& seen,
                             std::string& why) {
    const bool list = source_.Counter.empty();
    const std::string journal = JournalPathOf(file_);
    journal_ = {};
    journal_.State.EveryValue = list;
    warning_.clear();
    std::ifstream in(journal, std::ios::binary);
    if (!in) {
        why = std::string("cannot read ") + journal;
        return false;
    }
    in.seekg(0, std::ios::end);
    const auto size = static_cast<std::uint64_t>(in.tellg());
    if (list && size == 0) {
        why = NoJournal(); // made by a lock, never by serial init
        return false;
    }
    if (checkpoint) {
        const auto made = ReadCheckpoint(CheckpointPathOf(file_));
        if (made && made->State.EveryValue == list && Fits(*made, in, size)) {
            journal_ = *made;
        }
    }
    in.clear();
    in.seekg(static_cast<std::streamoff>(journal_.Bytes));
    std::string pending;
    std::string piece(JournalPiece, '\0');
    while (in) {
        in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
        pending.append(piece.data(), static_cast<std::size_t>(in.gcount()));
        std::size_t taken = 0;
        if (!TakeJournalText(pending, journal_.State, taken, why, seen)) {
            why = journal + " " + why;
            return false;
        }
        journal_.Grow(std::string_view(pending).substr(0, taken));
        pending.erase(0, taken);
    }
    if (in.bad()) {
        why = std::string("cannot read ") + journal;
        return false;
    }
    if (!pending.empty()) {
        warning_ = journal + " line " + std::to_string(journal_.State.Lines + 1) +
                   " was never finished, its writer having stopped in the middle of it: it is "
                   "left out, and the next change is written in its place";
    }
    const std::string& kind = journal_.State.Kind;
    const char* used = list ? StoreKind::List : StoreKind::Counter;
    if (!kind.empty() && kind != used) {
        why = journal + " is the journal of a " + kind + ", and " + source_.File() +
              " is read as a " + used;
        return false;
    }
    return true;
}

bool SerialBook::LoadLocked(std::string& why) {
    std::error_code ignored;
    if (!std::filesystem::exists(file_, ignored)) {
        return ReadStore(why); // says why, and makes no journal beside a name that is not there
    }
    std::optional<FileLock> lock;
    return Lock(lock, why) && Load(why);
}

bool SerialBook::Survey(const std::function<void(const JournalLine&)>& seen, std::string& why) {
    std::error_code ignored;
    if (!std::filesystem::exists(file_, ignored)) {
        return ReadStore(why);
    }
    std::optional<FileLock> lock;
    return Lock(lock, why) && ReadStore(why) && ReadJournal(false, seen, why);
}

std::optional<std::string> SerialBook::NextOf(const JournalState& state) const {
    if (counter_) {
        const auto value = NextCounterValue(*counter_, source_.Step, state);
        return value ? std::optional<std::string>(std::to_string(*value)) : std::nullopt;
    }
    return NextListValue(list_, state);
}

std::optional<std::string> SerialBook::Next() const {
    return NextOf(journal_.State);
}

std::vector<JournalLine> SerialBook::DeadReservations(const std::string& host) const {
    std::vector<JournalLine> dead;
    for (const auto& [serial, line] : journal_.State.Reserved) {
        if (line.Host == host && line.Pid != OwnProcessId() && !ProcessRunning(line.Pid)) {
            dead.push_back(line);
        }
    }
    return dead;
}

bool SerialBook::Append(const std::vector<JournalLine>& added, std::string& why) {
    std::string text;
    for (const JournalLine& line : added) {
        text += JournalLineText(line) + "\n";
    }
    const std::string journal = JournalPathOf(file_);
    if (!AppendDurably(journal, text, journal_.Bytes)) {
        why = std::string("cannot write ") + journal;
        return false;
    }
    for (const JournalLine& line : added) {
        journal_.State.Take(line, why);
    }
    journal_.Grow(text);
    warning_.clear();
    // Should this fail, the older checkpoint is brought up to date from the journal by the next
    // reader: the line above is what counts.
    ReplaceFileDurably(CheckpointPathOf(file_), CheckpointText(journal_));
    return true;
}

bool SerialBook::Reserve(const SerialOwner& owner, std::string& value, std::string& why) {
    std::optional<FileLock> lock;
    if (!Lock(lock, why) || !Load(why)) {
        return false;
    }
    const std::string now = UtcTimeNow();
    std::vector<JournalLine> added;
    // Spoiled lines go in first: the value below is chosen with them counted.
    JournalState after = journal_.State;
    for (JournalLine spoiled : DeadReservations(owner.Host)) {
        spoiled.Time = now;
        spoiled.Event = JournalEvent::Spoiled;
        after.Take(spoiled, why);
        added.push_back(spoiled);
    }
    const std::optional<std::string> next = NextOf(after);
    if (!next) {
        std::string ignored;
        if (!added.empty()) {
            Append(added, ignored);
        }
        why = counter_ ? std::string("the counter ") + source_.File() + " has run out of numbers"
                       : std::string("no value of ") + source_.File() +
                             " is left: " + ListCounts(list_, after);
        return false;
    }
    added.push_back(
        {now, JournalEvent::Reserved, *next, owner.Port, owner.Host, owner.Pid, "", ""});
    // The journal first: a counter left behind by a cut between the two is overtaken by the
    // journal's numbers when read again.
    if (!Append(added, why)) {
        return false;
    }
    value = *next;
    if (counter_) {
        const std::uint64_t taken = std::stoull(*next);
        if (taken >= *counter_ && taken <= UINT64_MAX - source_.Step &&
            !ReplaceFileDurably(file_, std::to_string(taken + source_.Step) + "\n")) {
            why = std::string("cannot write ") + source_.File();
            return false;
        }
    }
    return true;
}

bool SerialBook::End(const std::string& value, const char* event, const SerialOwner& owner,
                     const std::string& recordTime, std::string& why) {
    std::optional<FileLock> lock;
    if (!Lock(lock, why) || !Load(why)) {
        return false;
    }
    return Append({{UtcTimeNow(), event, value, owner.Port, owner.Host, owner.Pid, recordTime, ""}},
                  why);
}

bool SerialBook::Init(std::optional<std::uint64_t> start, const SerialOwner& owner,
                      std::string& why) {
    const std::string journal = JournalPathOf(file_);
    const FileLock lock(journal, true);
    if (!lock.Ok()) {
        why = std::string("cannot lock ") + journal;
        return false;
    }
    std::error_code ignored;
    // Numbers of an earlier file may be on boards: starting again could give them twice. An empty
    // journal is one that a lock made.
    for (const std::string& existing : {start ? file_ : std::string(), journal}) {
        if (!existing.empty() && std::filesystem::exists(existing, ignored) &&
            (existing == file_ || std::filesystem::file_size(existing, ignored) > 0)) {
            why = existing + " exists already; its numbers may be on boards";
            return false;
        }
    }
    if (!start && !ReadStore(why)) {
        return false;
    }
    if (start && !ReplaceFileDurably(file_, std::to_string(*start) + "\n")) {
        why = std::string("cannot write ") + source_.File();
        return false;
    }
    JournalLine init{UtcTimeNow(), JournalEvent::Init, "", "", owner.Host, owner.Pid, "", ""};
    init.Kind = start ? StoreKind::Counter : StoreKind::List;
    if (!AppendDurably(journal, JournalLineText(init) + "\n", 0)) {
        why = std::string("cannot write ") + journal;
        return false;
    }
    return true;
}
