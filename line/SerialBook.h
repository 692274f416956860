#pragma once
// A serial-number file and its journal: a counter (the next number in decimal on one line) or a
// list (one value per line), FILE.journal beside it, whose first line says which of the two it
// belongs to, and FILE.checkpoint, what the journal adds up to. Every change is one line
// appended to the journal under an exclusive lock on the journal itself, which nothing ever
// replaces, so parallel processes never take one number twice; a power cut loses at most a line
// not finished, which was never relied on. The file is reached by its own name whatever link
// names it, so that one file has one journal.

#include "line/SerialCheckpoint.h"
#include "line/SerialJournal.h"
#include "line/SharedFile.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct SerialSource {
    std::string Counter; // a counter file, or
    std::string List;    // a list file
    std::uint64_t Step = 1;

    const std::string& File() const { return Counter.empty() ? List : Counter; }
};

// Who takes a number, as the journal names it.
struct SerialOwner {
    std::string Host;
    long long Pid = 0;
    std::string Port;
};

std::string JournalPathOf(const std::string& file);
std::string CheckpointPathOf(const std::string& file);

// The kind of the file: as its journal's first line says, else a counter when it holds one
// number, else a list.
const char* StoreKindOf(const std::string& file);

// The book reads its files through streams, which throw when a read fails (a folder where the
// journal was): that is a journal that cannot be read or written like any other, and says why.
template <class Call> bool BookGuarded(Call&& call, std::string& why) {
    try {
        return call();
    } catch (const std::exception& e) {
        why = e.what();
        return false;
    }
}

class SerialBook {
public:
    explicit SerialBook(SerialSource source);

    // Under the lock: the file and what its journal adds up to; false, with why, when either
    // cannot be read or is not of its form, or the journal belongs to the other kind of file or
    // (a list's) is missing.
    bool LoadLocked(std::string& why);
    // LoadLocked from the journal's first line, showing every line to seen, the checkpoint
    // left aside.
    bool Survey(const std::function<void(const JournalLine&)>& seen, std::string& why);

    // After a load: the value a reservation would take now; none when the list is used up.
    std::optional<std::string> Next() const;
    const std::vector<std::string>& List() const { return list_; }
    std::optional<std::uint64_t> Counter() const { return counter_; }
    const JournalState& State() const { return journal_.State; }
    // What the last load found and passed over: a last line whose writer never finished it.
    const std::string& Warning() const { return warning_; }
    // Reservations with no end whose process has gone from this computer; they are journaled as
    // spoiled by the next reservation.
    std::vector<JournalLine> DeadReservations(const std::string& host) const;

    // Under the lock: journals the dead reservations as spoiled, then takes the next value for
    // owner. False, with why, when none is left or the files cannot be read or written.
    bool Reserve(const SerialOwner& owner, std::string& value, std::string& why);
    // Under the lock: journals event (any but init) for value, reserved or not, with the time of
    // its board's record. False, with why, when the line is not on the disk.
    bool End(const std::string& value, const char* event, const SerialOwner& owner,
             const std::string& recordTime, std::string& why);

    // Makes the journal, its first line naming the kind: a counter's, with the counter file
    // holding start, or a list's, the list being there already. Refused when the journal (or the
    // counter) is there already: numbers of it may be on boards.
    bool Init(std::optional<std::uint64_t> start, const SerialOwner& owner, std::string& why);

private:
    // Takes the lock on the journal; false, with why, when it cannot be taken.
    bool Lock(std::optional<FileLock>& lock, std::string& why) const;
    std::string NoJournal() const;
    // The counter or the list itself.
    bool ReadStore(std::string& why);
    // From the checkpoint on when it fits the journal (checkpoint), else from the first line.
    bool ReadJournal(bool checkpoint, const std::function<void(const JournalLine&)>& seen,
                     std::string& why);
    bool Load(std::string& why) { return ReadStore(why) && ReadJournal(true, nullptr, why); }
    std::optional<std::string> NextOf(const JournalState& state) const;
    bool Append(const std::vector<JournalLine>& added, std::string& why);

    SerialSource source_;
    std::string file_; // source_.File() by its own name
    std::optional<std::uint64_t> counter_;
    std::vector<std::string> list_;
    JournalCheckpoint journal_; // what the journal read so far adds up to
    std::string warning_;
};
