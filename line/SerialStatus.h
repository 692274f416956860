#pragma once
// A serial-number file made, and what its journal says as a whole: the next number, how many
// were used, released, spoiled and kept, the reservations open now and the last few lines. For
// every face that shows a serial-number file; the words are the face's.

#include "line/SerialJournal.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

// Makes the journal of file: a counter's whose first number is start, or a list's. False, with
// why, when it cannot be made (it is there already: numbers of it may be on boards). For a list,
// values is how many it holds and first the first of them.
bool InitSerialFile(const std::string& file, std::optional<std::uint64_t> start,
                    std::size_t& values, std::optional<std::string>& first, std::string& why);

struct SerialStatus {
    bool List = false;
    std::size_t Values = 0; // a list's values
    std::size_t Left = 0;   // a list's values no board has taken for good
    std::optional<std::string> Next;
    // Numbers by their latest event. A reservation whose process has gone is counted as spoiled,
    // though no later run has said so yet.
    int Used = 0;
    int Released = 0;
    int Spoiled = 0;
    int Kept = 0;
    int Reserved = 0;
    // Numbers whose latest line is kept, and the port that kept them: their boards may have been
    // left blank.
    std::map<std::string, std::string> KeptOn;
    std::vector<JournalLine> Last; // the journal's last lines, oldest first
    std::string Warning;           // a last line whose writer never finished it
};

// The journal's last lines that a status holds.
inline constexpr std::size_t StatusLastLines = 5;

// Reads the whole journal of file, line by line, holding only the counts however long it is.
// False, with why, when the file or its journal cannot be read.
bool ReadSerialStatus(const std::string& file, SerialStatus& status, std::string& why);
