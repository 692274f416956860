#include "sim/BoardStats.h"

#include <cstdio>
#include <numeric>

std::uint64_t BoardStats::Requests() const {
    return std::accumulate(RequestsByCommand.begin(), RequestsByCommand.end(), std::uint64_t{0});
}

std::string FormatStats(const BoardStats& stats, bool runMode) {
    static constexpr const char* commandKeys[9] = {nullptr,         "read_program", "write_program",
                                                   "erase_program", "read_eeprom",  "write_eeprom",
                                                   "read_config",   "write_config", "write_other"};
    std::string text;
    auto line = [&text](const char* key, std::uint64_t value) {
        text += key;
        text += ": ";
        text += std::to_string(value);
        text += '\n';
    };
    line("requests", stats.Requests());
    for (int code = 1; code <= 8; ++code) {
        line(commandKeys[code], stats.RequestsByCommand[code]);
    }
    line("malformed", stats.Malformed);
    line("bytes_received", stats.BytesReceived);
    line("bytes_sent", stats.BytesSent);
    line("violations", stats.Violations);
    line("erases_in_run_mode", stats.ErasesInRunMode);
    line("dropped_replies", stats.DroppedReplies);
    line("bad_checksum_replies", stats.BadChecksumReplies);
    line("cut_replies", stats.CutReplies);
    line("short_replies", stats.ShortReplies);
    line("noise_bytes", stats.NoiseBytes);
    char modelled[64];
    std::snprintf(modelled, sizeof modelled, "modelled_ms: %.3f\n",
                  stats.ModelledMicroseconds / 1000.0);
    text += modelled;
    if (stats.FirstEraseMs) {
        std::snprintf(modelled, sizeof modelled, "first_erase_ms: %.3f\n", *stats.FirstEraseMs);
        text += modelled;
    } else {
        text += "first_erase_ms: -\n";
    }
    text += runMode ? "mode: run\n" : "mode: boot\n";
    return text;
}
