#pragma once
// The subcommands of tervix-flash. Each returns an exit status (cli/ExitStatus.h) and has
// printed why when that is not 0.

#include "cli/Session.h"

#include <cstdint>
#include <string>

struct FlashOptions {
    SessionOptions Session;
    std::string File;
    bool NoRunMode = false;
    bool Fast = false; // whole-row requests instead of the desktop program's row-by-row traffic
};
int RunFlash(const FlashOptions& options);

struct RunModeOptions {
    SessionOptions Session;
    bool Boot = false;
};
int RunRunMode(const RunModeOptions& options);

struct ReadOptions {
    SessionOptions Session;
    std::string Space;
    std::string From; // as given; empty for the space's first address
    std::string To;   // as given; empty for the space's last address
    std::string Output;
};
int RunRead(const ReadOptions& options);

struct CheckOptions {
    std::string File;
    bool Quiet = false;
};
int RunCheck(const CheckOptions& options);

int RunPorts();
