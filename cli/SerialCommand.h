#pragma once
// tervix-flash serial: making a counter file and showing what its journal says.

#include <CLI/CLI.hpp>

#include <cstdint>
#include <string>

struct SerialCommandOptions {
    std::string File;
    std::uint64_t Start = 0;
    bool Init = false; // init, else status
};

CLI::App* AddSerialCommand(CLI::App& app, SerialCommandOptions& options);
int RunSerial(const SerialCommandOptions& options);
