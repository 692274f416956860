#pragma once
// One board's job at a station's position: a flash of the board by a child process of its own,
// started as a many-board run starts each board's, in the folder of its port; the board's line
// written by the child, or by the station as a run's parent writes it when the child wrote none
// (it could not start, or was killed before).

#include "cli/Commands.h"
#include "line/BoardsRun.h"
#include "line/Station.h"

#include <cstddef>
#include <optional>
#include <string>

struct StationJobs {
    std::string Program; // tervix-flash
    BoardChildJob Child; // what every board's child is given; the port and position come per job
    // The run as a parent's records name it: the command, the file as given, the record file,
    // the tags, the station and project.
    BoardJob Run;
    std::optional<std::string> Sha256;
};

// Runs the job of the position (from 1) on port; see StationJob.
JobEnd RunStationJob(const StationJobs& jobs, std::size_t position, const std::string& port,
                     const std::function<void(const std::string& stage, int percent)>& progress);
