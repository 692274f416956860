#pragma once
// tervix-flash station: a production line's station run from its project file, one position per
// port, on a full screen an operator reads from across the bench (or one line per event).

#include <CLI/CLI.hpp>

#include <cstddef>
#include <string>

struct StationOptions {
    std::string Project;
    bool Plain = false;
    std::size_t Until = 0; // 0: until the operator ends it
    // The line server, for a project that names none, and the station's token.
    std::string LineUrl;
    std::string LineTokenFile;
};

CLI::App* AddStationCommand(CLI::App& app, StationOptions& options);
int RunStation(const StationOptions& options);
