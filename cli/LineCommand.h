#pragma once
// tervix-flash line push: sends what a station's spool holds to the line server by hand, and
// says what is left.

#include <CLI/CLI.hpp>

#include <string>

struct LineCommandOptions {
    std::string Spool;
    std::string Url;       // none: each entry's own server
    std::string TokenFile; // none: TERVIX_LINE_TOKEN
};

CLI::App* AddLineCommand(CLI::App& app, LineCommandOptions& options);
int RunLine(const LineCommandOptions& options);
