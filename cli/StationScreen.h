#pragma once
// How a station looks on the terminal: the full screen (header, a tile per position, the
// counters, the last events, the keys) as lines to draw, one line per event for --plain, and the
// summary printed when the station ends.

#include "line/Station.h"

#include <chrono>
#include <string>
#include <vector>

// What the screen shows of the project, above the positions.
struct StationHeader {
    std::string Station;
    std::string Project;
    std::string Firmware; // the file's name
    std::string Sha256;
    std::string Tags;    // "lot=2026-49, product=widget"
    std::string Lot;     // the tag lot's value, "" without one
    std::string Records; // the record file's name
    ProjectStart Start = ProjectStart::Board;
    std::chrono::system_clock::time_point Started;
};

// The screen, at most rows lines of at most columns characters each (not counting the colour
// sequences added with colour).
std::vector<std::string> StationScreen(const StationHeader& header, const StationSnapshot& snapshot,
                                       int columns, int rows, bool colour);

// The first line of --plain output: the project and the station.
std::string StationStartLine(const StationHeader& header, std::size_t positions);

// An event as a line of its own: "14:03:12 2 COM4: FAIL (exit 4): verify mismatch ...".
std::string EventLine(const StationSnapshot& snapshot, const StationEvent& event);

// What the station did, printed once it has ended.
std::string StationSummary(const StationHeader& header, const StationSnapshot& snapshot);
