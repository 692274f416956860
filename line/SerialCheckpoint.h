#pragma once
// What a serial-number file's journal adds up to, kept beside it as FILE.checkpoint so that a
// change reads only the journal's lines written since, never the whole history. It is only ever
// replaced whole, and it is never the only copy of anything: the journal rebuilds it when it is
// missing, damaged or made from another journal.

#include "line/SerialJournal.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct JournalCheckpoint {
    JournalState State;
    std::uint64_t Bytes = 0; // how much of the journal State takes in, up to a line end
    // The journal's last bytes up to Bytes (TailBytes at most): a journal that does not end in
    // them at Bytes is not the one this was made from.
    std::string Tail;

    // Bytes and Tail once State has taken in text, the journal's next bytes.
    void Grow(std::string_view text);
};

inline constexpr std::size_t TailBytes = 256;

std::string CheckpointText(const JournalCheckpoint& checkpoint);
// None when text is not a checkpoint.
std::optional<JournalCheckpoint> ParseCheckpoint(const std::string& text);
