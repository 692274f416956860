#pragma once
// A serial number on its way onto one board: checked before any board is touched, taken (or
// kept from the board) before the erase, written after the image, and journaled once the board's
// record is written: used when the board passed with it; else spoiled once any byte of it may
// have reached the board, released when none did. A kept number is journaled at once, so that a
// run that stops after the erase still names it.

#include "line/SerialBook.h"
#include "line/SerialFormat.h"
#include "line/SerialPlace.h"
#include "line/SerialStore.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct SerialSettings {
    std::optional<SerialPlace> Place; // none: no serial number
    SerialFormat Format;
    SerialSource Source; // none for verify, which only reads
    bool Keep = false;   // a board that holds a number keeps it
};

// Why a step of the serial number stopped, by the kind of its cause. Settings that each face
// names in its own words (an option, a key of the project file) are told apart by Which; Why
// then holds only what is wrong with the value, if anything.
struct SerialFault {
    enum Kind { None, Usage, File, Transfer } What = None;
    std::string Why;
    enum Setting {
        Other,            // Why says it all
        BytesFromCounter, // the bytes format with a counter, which has no bytes to give
        BytesNeedLength,  // the bytes format without a length, and no list to take it from
        PlaceRefused,     // the place cannot hold the number: Why says why
    } Which = Other;
    explicit operator bool() const { return What != None; }
};

// All that can be known before a board is touched: the format and place agree, the values that
// boards of this run may take fit (every list value; the counter's next `boards`), the file and
// its journal can be read, and the HEX file's own data keeps off the place. For Bytes the length
// comes from the list. hexPath may be empty (no file); without a source only place and format
// are checked.
SerialFault CheckSerialSettings(SerialSettings& settings, const std::string& hexPath,
                                std::size_t boards);
// The HEX file at hexPath, shown as name, holds data for some byte of the number's place.
SerialFault SerialPlaceCovered(const SerialSettings& settings, const std::string& hexPath,
                               const std::string& name);

// BoardSerial::Write's result when the store could not be told that the number is being written.
inline constexpr std::int32_t SerialWriteUntold = -2000;

class BoardSerial {
public:
    BoardSerial(const SerialSettings& settings, SerialStore& store)
        : settings_(settings), store_(store) {}

    // With the port open and before the erase: keeps what the board holds at the place (Keep,
    // not all 0xFF; told to the store as kept) or reserves the next value for the board on port.
    SerialFault Take(const std::string& port);
    // After the image: the number's bytes, written and read back. ProgramImageFast's results.
    // From the first byte on the number may be on the board. A store that cannot be told so
    // fails the write before any byte goes out (code SerialWriteUntold, why in failure).
    std::int32_t Write(ImageFailure& failure);
    // Why the store was not told of the write, when Write returned SerialWriteUntold.
    const std::string& Untold() const { return untold_; }
    // How the board ended, told to the store with the time of its record and the record itself
    // (when one was made); passed only when the board passed and its record was written. False,
    // with why, when the store could not keep it: a number whose end is not kept stays reserved
    // and is never given again.
    bool End(bool passed, const std::string& recordTime, const nlohmann::ordered_json* record,
             std::string& why);

    // The number as the record shows it, once taken or kept.
    const std::optional<std::string>& Value() const { return value_; }
    bool Kept() const { return kept_; }
    // The number stands on the board, or some of its bytes may have reached it.
    bool MayBeOnBoard() const { return kept_ || sent_; }

private:
    // How a kept number's bytes are named in the journal: as the list spells it, when the list
    // holds a value of those bytes.
    std::string JournalName(const std::vector<std::uint8_t>& bytes) const;

    SerialSettings settings_;
    SerialStore& store_;
    std::string untold_;
    std::optional<std::string> value_; // as the board's bytes read
    std::string bookValue_;            // as the file and the journal have it
    std::vector<std::uint8_t> bytes_;
    bool kept_ = false;
    bool sent_ = false; // a write of the number's bytes began
    bool open_ = false; // taken or kept, and how the board ended not journaled yet
};

// Reads the number at the place from the board on the open port (verify): its text, or none when
// the place is blank; a Transfer fault when the read failed.
SerialFault ReadBoardSerial(const SerialSettings& settings, std::optional<std::string>& value,
                            std::vector<std::uint8_t>& bytes);
