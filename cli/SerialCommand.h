#pragma once
// tervix-flash serial: making a counter or a list's journal, and showing what a journal says.

#include <CLI/CLI.hpp>

#include <cstdint>
#include <optional>
#include <string>

struct SerialCommandOptions {
    std::string File;
    std::optional<std::uint64_t> Start; // init: a counter starting here, or
    bool List = false;                  // the journal of a list
    bool Init = false;                  // init, else status
};

CLI::App* AddSerialCommand(CLI::App& app, SerialCommandOptions& options);
int RunSerial(const SerialCommandOptions& options);
