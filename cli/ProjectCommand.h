#pragma once
// tervix-flash project: locking a production line's project file to its firmware, and checking
// a project offline before it goes to the line.

#include <CLI/CLI.hpp>

#include <string>

struct ProjectCommandOptions {
    std::string File;
    bool Lock = false; // lock, else check
};

CLI::App* AddProjectCommand(CLI::App& app, ProjectCommandOptions& options);
int RunProject(const ProjectCommandOptions& options);
