#pragma once
// A serial-number file and its journal: a counter (the next number in decimal on one line) or a
// list (one value per line), and FILE.journal beside it. Every change happens under the lock
// FILE.lock, with the journal and then the counter replaced whole, so parallel processes never
// take one number twice and a power cut leaves the old or the new state.

#include "line/SerialJournal.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class FileLock;

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
std::string LockPathOf(const std::string& file);

class SerialBook {
public:
    explicit SerialBook(SerialSource source) : source_(std::move(source)) {}

    // Reads the file and the journal as they stand; false, with why, when either is missing,
    // unreadable or not of its form.
    bool Load(std::string& why);
    // Load under the lock, so that no change is under way meanwhile (Windows will not rename
    // over a file that another process is reading).
    bool LoadLocked(std::string& why);

    // After Load: the value a reservation would take now; none when the list is used up.
    std::optional<std::string> Next() const;
    const std::vector<std::string>& List() const { return list_; }
    std::optional<std::uint64_t> Counter() const { return counter_; }
    const std::vector<JournalLine>& Lines() const { return lines_; }
    // Reservations with no end whose process has gone from this computer; they are journaled as
    // spoiled by the next reservation.
    std::vector<JournalLine> DeadReservations(const std::string& host) const;

    // Under the lock: journals the dead reservations as spoiled, then takes the next value for
    // owner. False, with why, when none is left or the files cannot be read or replaced.
    bool Reserve(const SerialOwner& owner, std::string& value, std::string& why);
    // Under the lock: journals how the board that reserved value ended (JournalEvent::Used or
    // JournalEvent::Released), with the time of its record.
    bool End(const std::string& value, const char* event, const SerialOwner& owner,
             const std::string& recordTime, std::string& why);

private:
    // Says why when the lock on the file was not taken.
    bool Held(const FileLock& lock, std::string& why) const;
    bool Append(const std::vector<JournalLine>& added, std::string& why);

    SerialSource source_;
    std::optional<std::uint64_t> counter_;
    std::vector<std::string> list_;
    std::string journalText_;
    std::vector<JournalLine> lines_;
};
