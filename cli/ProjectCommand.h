#pragma once
// tervix-flash project: locking a production line's project file to its firmware, and checking
// a project offline before it goes to the line.

#include "line/HexSnapshot.h"
#include "line/Project.h"

#include <CLI/CLI.hpp>

#include <cstddef>
#include <memory>
#include <string>

struct ProjectCommandOptions {
    std::string File;
    bool Lock = false; // lock, else check
};

CLI::App* AddProjectCommand(CLI::App& app, ProjectCommandOptions& options);
int RunProject(const ProjectCommandOptions& options);

// Why the project's port at index cannot be a position of its station (not a port name, or a
// second name of a port listed before it); empty when it can.
std::string ProjectPortFault(const Project& project, std::size_t index);

// A project about to run (a station, or flash --project): its settings, and its firmware read
// once, the copy every board is flashed from.
struct ProjectRun {
    Project Settings;
    std::unique_ptr<HexSnapshot> Firmware;
};
// Reads the project and checks, before any port opens, everything its run needs: the firmware as
// locked and fit to flash, the serial numbers, the record file and the ports. Prints every
// refusal, naming the key and its line, and returns ExitStatus::File; ExitStatus::Success when the
// project may run.
int LoadProjectToRun(const std::string& path, ProjectRun& run);
