#pragma once
// tervix-flash line push: sends what a station's spool holds to the line server by hand, and
// says what is left.

#include "line/LineSettings.h"

#include <CLI/CLI.hpp>

#include <string>

struct LineCommandOptions {
    std::string Spool;
    std::string Url;       // none: each entry's own server
    std::string TokenFile; // none: TERVIX_LINE_TOKEN
};

CLI::App* AddLineCommand(CLI::App& app, LineCommandOptions& options);
int RunLine(const LineCommandOptions& options);

// What a run's spool holds, sent to the server: before the run's first board (what an earlier
// run left) and after its last (what its boards could not send). Says on standard error what
// was sent unless quiet, and what is left in any case.
void SendSpool(const LineSettings& line, bool quiet);
