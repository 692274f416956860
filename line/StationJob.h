#pragma once
// One board's job at a station's position: the many-board run's child process for the board
// (device check, boot mode, erase, write, serial number, run mode, its record line), started in
// the folder of its port, and the board's line written by the station itself when the child
// wrote none (it could not start, or was killed before).

#include "line/BoardRecord.h"
#include "line/Station.h"

#include <string>
#include <vector>

struct StationJobs {
    std::string Program;           // tervix-flash
    std::vector<std::string> Args; // the child's command line, but for its port and position
    std::string RecordFile;
    BoardRecord Base; // a line the station writes: the run's keys (command, file, tags, ...)
    std::function<int()> StopSignal;
};

// Runs the job of the position (from 1) on port; see StationJob.
JobEnd RunStationJob(const StationJobs& jobs, std::size_t position, const std::string& port,
                     const std::function<void(const std::string& stage, int percent)>& progress);
