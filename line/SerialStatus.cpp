#include "line/SerialStatus.h"

#include "line/RecordFile.h"
#include "line/SerialBook.h"
#include "line/SharedFile.h"

#include <algorithm>
#include <charconv>
#include <unordered_map>

namespace {

// The events counted, in this order.
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
    std::map<std::string, std::string> KeptOn;
    std::array<JournalLine, StatusLastLines> Last; // in turn: their strings are reused
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

SerialBook BookOf(const std::string& file, bool list) {
    return SerialBook(list ? SerialSource{"", file, 1} : SerialSource{file, "", 1});
}

} // namespace

bool InitSerialFile(const std::string& file, std::optional<std::uint64_t> start,
                    std::size_t& values, std::optional<std::string>& first, std::string& why) {
    SerialBook book = BookOf(file, !start);
    if (!book.Init(start, {HostName(), OwnProcessId(), ""}, why)) {
        return false;
    }
    values = book.List().size();
    first = book.List().empty() ? std::nullopt : std::optional<std::string>(book.List().front());
    return true;
}

bool ReadSerialStatus(const std::string& file, SerialStatus& status, std::string& why) {
    status = {};
    status.List = StoreKindOf(file) == std::string(StoreKind::List);
    SerialBook book = BookOf(file, status.List);
    Tally tally;
    if (!book.Survey([&tally](const JournalLine& line) { tally.See(line); }, why)) {
        return false;
    }
    status.Warning = book.Warning();
    status.Next = book.Next();
    status.Values = book.List().size();
    status.Left = static_cast<std::size_t>(
        std::count_if(book.List().begin(), book.List().end(),
                      [&tally](const std::string& value) { return tally.Free(value); }));
    const int dead = static_cast<int>(book.DeadReservations(HostName()).size());
    const auto& counts = tally.Counts;
    status.Used = counts[UsedAt];
    status.Released = counts[ReleasedAt];
    status.Spoiled = counts[SpoiledAt] + dead;
    status.Kept = counts[KeptAt];
    status.Reserved = counts[ReservedAt] - dead;
    status.KeptOn = std::move(tally.KeptOn);
    const std::size_t shown = std::min(tally.Lines, tally.Last.size());
    for (std::size_t i = tally.Lines - shown; i < tally.Lines; ++i) {
        status.Last.push_back(std::move(tally.Last[i % tally.Last.size()]));
    }
    return true;
}
