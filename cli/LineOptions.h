#pragma once
// The production-line options of flash and verify: the serial number, the record's tags and the
// firmware a station is locked to. Parsed here, checked once before any board is touched, and
// passed on to each board's child process.

#include "line/BoardRecord.h"
#include "line/BoardSerial.h"
#include "line/LineSettings.h"
#include "line/Project.h"

#include <CLI/CLI.hpp>

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct LineOptions {
    std::string SerialAt;
    std::string SerialFormatText;
    std::string SerialCounter;
    std::string SerialList;
    std::uint64_t SerialStep = 1;
    bool SerialKeep = false;
    std::vector<std::string> Tags; // KEY=VALUE as given
    std::string ExpectSha256;
    bool Writes = false; // flash: the number is written, so it needs a source
    // The line server: its address, the pool, the token's file, the lease and the spool.
    std::string LineUrl;
    std::string LinePool;
    std::string LineTokenFile;
    int LineLease = 60;
    std::string LineSpool = DefaultSpoolName;
    // A board's child at a station, or of flash --project: what its record names.
    std::string Station;
    int Position = 0; // from 1; 0: none
    std::string Project;

    // Filled by CheckLineOptions.
    SerialSettings Serial;
    LineSettings Line;
    std::vector<std::pair<std::string, std::string>> TagPairs;
    std::string ExpectedSha256; // lower-case; empty when not asked for
};

// flash: where the number comes from and where it goes, --tag and --expect-sha256, the line
// server.
void AddFlashLineOptions(CLI::App* command, LineOptions& options);
// verify: where the number lies, to print it; --tag and --expect-sha256.
void AddVerifyLineOptions(CLI::App* command, LineOptions& options);

// Everything refused before a board is touched: prints why and returns ExitStatus::Usage or
// ExitStatus::File; ExitStatus::Success otherwise. boards: how many boards the run writes.
int CheckLineOptions(LineOptions& options, const std::string& file, std::size_t boards);

// The station, position and project the records name; none outside a project.
RecordPlace RecordPlaceOf(const LineOptions& options);

// What is wrong with the serial number, in the words of the options.
std::string SerialFaultText(const SerialFault& fault);

// The serial options as a board's child process takes them.
std::vector<std::string> SerialChildArgs(const LineOptions& options);

// The serial, tag, digest and line server settings of a project, as though they had been given,
// into options, which hold the line server's options given beside the project (the token's
// file, the lease, the spool; the address too, for a project that names no server).
// ExitStatus::Usage, with why printed, when the options clash with the project.
int ProjectLineOptions(const Project& project, LineOptions& options);

// The line server's address and the station's token, read once for every board of the run into
// options.Line; ExitStatus::Usage, with why printed, when either is wrong or missing.
int TakeLineServer(LineOptions& options);
