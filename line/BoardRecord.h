#pragma once
// The record of one board's run: one JSON object per board, one line each, with a fixed set of
// keys, so that a production line can prove afterwards which firmware went onto which board.

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// What a command learns about its board on the way, whether it ends well or not.
struct BoardOutcome {
    std::optional<int> Device;         // the device number the board reported
    int Rows = 0;                      // rows written and verified, or compared
    std::string Result;                // in words, on success; a failure's message otherwise
    std::optional<std::string> Serial; // the serial number written and verified, kept or read
    // A number that reached the board, or stood on it, without being verified there at the end.
    std::optional<std::string> SerialUnverified;
    // When the run ended, as its serial number's journal has it; none: when the record is made.
    std::optional<std::string> Time;
    // The board's record line as it was made, once the board is recorded; null before.
    nlohmann::ordered_json Line;
};

// Where a board was flashed: the project, and the station and its position (from 1) that ran
// it; none outside a project.
struct RecordPlace {
    std::optional<std::string> Station;
    std::optional<int> Position;
    std::optional<std::string> Project;
};

struct BoardRecord {
    std::optional<std::string> Id; // the line server's key of the record, made by the station
    std::string Command;
    std::optional<std::string> Port;
    std::optional<std::string> File; // as given; none for a command without a file
    std::optional<std::string> Sha256;
    BoardOutcome Outcome;
    std::uint32_t Requests = 0;
    double Seconds = 0;
    int ExitStatus = 0;
    std::vector<std::pair<std::string, std::string>> Tags; // --tag KEY=VALUE, in order
    RecordPlace Place;
};

// The line's object: time, host, command, port, device_path, device, file, sha256, rows,
// requests, seconds, result, exit_status, serial, serial_unverified, tags, tool_version, station,
// position, project, id. The last four came later, so they come last: a reader that takes the
// keys by their place keeps working.
nlohmann::ordered_json RecordJson(const BoardRecord& record);
