#pragma once
// What the simulated board counts while it serves, and its `key: value` rendering.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

struct BoardStats {
    // Well-formed requests by command code; index 0 is unused.
    std::array<std::uint64_t, 9> RequestsByCommand{};
    std::uint64_t Malformed = 0;
    std::uint64_t BytesReceived = 0;
    std::uint64_t BytesSent = 0;
    std::uint64_t Violations = 0;
    // Erase requests taken while the run-mode flag was set: a job that stopped there would leave
    // the bootloader to start a half-erased application.
    std::uint64_t ErasesInRunMode = 0;
    std::uint64_t DroppedReplies = 0;
    std::uint64_t BadChecksumReplies = 0;
    std::uint64_t CutReplies = 0;
    std::uint64_t ShortReplies = 0; // reads answered one data byte short
    std::uint64_t NoiseBytes = 0;
    // Wire time of every request and reply plus the chip's programming time, in microseconds.
    double ModelledMicroseconds = 0;
    // From the board's start to its first erase request: how long a host took to begin a job
    // on a board it found. None before that request.
    std::optional<double> FirstEraseMs;

    std::uint64_t Requests() const;
};

// One `key: value` line per statistic, in a fixed order; runMode says whether the run-mode flag
// is set.
std::string FormatStats(const BoardStats& stats, bool runMode);
