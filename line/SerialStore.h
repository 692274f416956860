#pragma once
// Where a board's serial number comes from and where its end is told: the files of one station
// (a counter or a list with its journal) or the line server that every station of a line
// shares. A board takes a number before its erase, says so before the number's first byte goes
// out, and ends it once its record is written: used when it passed, spoiled once any byte of the
// number may have reached it, released when none did.

#include "line/SerialBook.h"

#include <nlohmann/json.hpp>

#include <string>

class SerialStore {
public:
    virtual ~SerialStore() = default;

    // Takes the next number for the board on port; false, with why, when none can be had.
    virtual bool Reserve(const std::string& port, std::string& value, std::string& why) = 0;
    // The board on port holds value and keeps it: read before the erase, written back after.
    virtual bool Keep(const std::string& value, const std::string& port, std::string& why) = 0;
    // The reserved number's bytes are about to go to the board; false, with why, when that
    // cannot be made known, and the number must not be written.
    virtual bool Writing(std::string& why) = 0;
    // How the board ended with value (a JournalEvent: used, released or spoiled), at the time of
    // its record; record is the board's record line when the run made one. False, with why,
    // when the end is not safely kept: the number is then never given to another board.
    virtual bool End(const std::string& value, const char* event, const std::string& recordTime,
                     const nlohmann::ordered_json* record, std::string& why) = 0;
    // Records name a number as the store spells it rather than as the board's bytes read back
    // (a list's "0042" written as ascii:4 reads back as 42).
    virtual bool NamesAsStored() const { return false; }
    // Where the numbers come from, for messages: the file, or the server's pool.
    virtual std::string Name() const = 0;
};

// A counter or list file and its journal, locked while it changes; behaves as the journal
// always has.
class FileSerialStore : public SerialStore {
public:
    FileSerialStore(const SerialSource& source, SerialOwner owner)
        : source_(source), book_(source), owner_(std::move(owner)) {}

    bool Reserve(const std::string& port, std::string& value, std::string& why) override;
    bool Keep(const std::string& value, const std::string& port, std::string& why) override;
    bool Writing(std::string&) override { return true; }
    bool End(const std::string& value, const char* event, const std::string& recordTime,
             const nlohmann::ordered_json* record, std::string& why) override;
    std::string Name() const override { return source_.File(); }

private:
    SerialSource source_;
    SerialBook book_;
    SerialOwner owner_;
};
