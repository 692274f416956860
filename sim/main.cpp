// tervix-sim: a simulated PIC18F452 board with its serial bootloader, served on a
// pseudo-terminal.

#include "res/Version.h"
#include "sim/BoardImage.h"
#include "sim/BoardSession.h"
#include "sim/PortLink.h"
#include "sim/PtyServer.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

std::optional<std::uint32_t> ParseNumber(const std::string& text, std::uint32_t max) {
    if (text.empty()) {
        return std::nullopt;
    }
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || text[0] == '-' || value > max) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

bool Fail(const std::string& message) {
    std::fprintf(stderr, "tervix-sim: %s\n", message.c_str());
    return false;
}

struct Options {
    std::string link;
    bool once = false;
    std::string dump;
    std::string load;
    bool stats = false;
    bool pace = false;
    PaceModel model;
    FaultPlan faults;
    std::vector<std::string> stuck;
    std::string deviceId;
};

// Device ID and stuck bytes, which live in the board itself.
bool ConfigureBoard(const Options& options, Board& board) {
    if (!options.deviceId.empty()) {
        auto word = ParseNumber(options.deviceId, 0xFFFF);
        if (!word) {
            return Fail("--device-id wants a 16-bit word, not " + options.deviceId);
        }
        board.SetDeviceId(static_cast<std::uint16_t>(*word));
    }
    for (const std::string& entry : options.stuck) {
        const std::size_t equals = entry.find('=');
        auto address = ParseNumber(entry.substr(0, equals), 0xFFFFFF);
        auto value = equals == std::string::npos ? std::nullopt
                                                 : ParseNumber(entry.substr(equals + 1), 0xFF);
        if (!address || !value) {
            return Fail("--stuck wants ADDR=VALUE (a 24-bit address, a byte), not " + entry);
        }
        board.SetStuckByte(*address, static_cast<std::uint8_t>(*value));
    }
    if (!options.load.empty()) {
        const ImageLoad load = LoadBoardImage(board, options.load.c_str());
        if (!load.Ok) {
            return Fail(load.Error);
        }
        if (load.Ignored != 0) {
            std::fprintf(stderr, "tervix-sim: %u bytes of %s lie outside the board's memories\n",
                         load.Ignored, options.load.c_str());
        }
    }
    return true;
}

bool WriteDump(const std::string& path, const std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) {
        return Fail("cannot create " + path);
    }
    const bool written = std::fputs(text.c_str(), file) >= 0;
    if (std::fclose(file) != 0 || !written) {
        return Fail("cannot write " + path);
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    HoldStopSignals();

    Options o;
    CLI::App app{"A simulated PIC18F452 board running its serial bootloader, served on a "
                 "pseudo-terminal. The first line of output is the port to open (the slave "
                 "path); the board then answers until SIGINT or SIGTERM."};
    app.add_option("--link", o.link,
                   "Also make PATH a symbolic link to the port, e.g. a COM3 "
                   "entry of a ports folder; removed at the end")
        ->option_text("PATH");
    app.add_flag("--once", o.once, "End when the host closes the port after its first request");
    app.add_option("--dump", o.dump,
                   "At the end, write every memory as Intel HEX: upper address 0x0000 program "
                   "memory, 0x0020 ID locations, 0x0030 configuration, 0x00F0 data EEPROM")
        ->option_text("FILE");
    app.add_option("--load", o.load,
                   "Fill the memories from an Intel HEX file first (same upper addresses; the "
                   "boot block below 0x200 and the device ID are kept)")
        ->option_text("FILE")
        ->check(CLI::ExistingFile);
    app.add_flag("--stats", o.stats,
                 "At the end, print the statistics, one 'key: value' per line: requests, "
                 "read_program, write_program, erase_program, read_eeprom, write_eeprom, "
                 "read_config, write_config, write_other, malformed, bytes_received, "
                 "bytes_sent, violations, erases_in_run_mode, dropped_replies, "
                 "bad_checksum_replies, cut_replies, short_replies, noise_bytes, modelled_ms, "
                 "first_erase_ms (from the start, - before any erase), mode");
    app.add_flag("--pace", o.pace,
                 "Delay each reply to the modelled time: the request and reply on the wire "
                 "at the baud rate (10 bits a byte) plus the chip's programming time "
                 "(modelled_ms is reported with or without this)");
    app.add_option("--baud", o.model.Baud, "Line rate for the time model")
        ->capture_default_str()
        ->check(CLI::PositiveNumber);
    app.add_option("--erase-ms", o.model.EraseRowMs, "Time to erase one 64-byte row")
        ->capture_default_str()
        ->check(CLI::NonNegativeNumber);
    app.add_option("--write-ms", o.model.WriteBlockMs, "Time to write one 8-byte flash block")
        ->capture_default_str()
        ->check(CLI::NonNegativeNumber);
    app.add_option("--eeprom-ms", o.model.EepromByteMs,
                   "Time to write one data EEPROM or configuration byte")
        ->capture_default_str()
        ->check(CLI::NonNegativeNumber);
    app.add_option("--latency-ms", o.model.LatencyMs,
                   "Hold every reply back this long (fractions allowed), as a USB-serial "
                   "adapter's latency timer does; counted in modelled_ms")
        ->capture_default_str()
        ->check(CLI::Range(0.0, 1000.0));
    app.add_option("--drop-every", o.faults.DropEvery,
                   "Carry out every Nth request but send no reply")
        ->option_text("N");
    app.add_option("--bad-checksum-every", o.faults.BadChecksumEvery,
                   "Send every Nth reply with a wrong checksum")
        ->option_text("N");
    app.add_option("--cut-reply-every", o.faults.CutReplyEvery,
                   "Send every Nth reply without its end byte")
        ->option_text("N");
    app.add_option("--short-read-every", o.faults.ShortReadEvery,
                   "When the Nth request is a read, answer it with one byte fewer than asked")
        ->option_text("N");
    app.add_option("--noise", o.faults.NoiseBytes,
                   "Put N stray bytes (0x0F, 0x05 and 0x04 among them, never two 0x0F in a row) "
                   "before every reply")
        ->option_text("N")
        ->check(CLI::Range(0, 65535));
    app.add_option("--seed", o.faults.Seed, "Seed of the noise")->capture_default_str();
    app.add_flag("--silent", o.faults.Silent, "Read requests but never act on or answer them");
    app.add_option("--stuck", o.stuck,
                   "Program byte at ADDR always reads back VALUE (repeatable), e.g. 0x300=0x00")
        ->option_text("ADDR=VALUE");
    app.add_option("--device-id", o.deviceId,
                   "Device ID word at 0x3FFFFE/0x3FFFFF (default 0x0424, device number 33)")
        ->option_text("WORD");
    app.set_version_flag("--version", std::string("tervix-sim ") + TervixVersion);
    app.footer("Every fault counts well-formed requests from 1; 0 turns it off.");
    CLI11_PARSE(app, argc, argv);

    BoardSession session(o.faults, o.model, o.pace);
    if (!session.WithBoard([&o](Board& board) { return ConfigureBoard(o, board); })) {
        return EXIT_FAILURE;
    }

    PtyServer server;
    std::string error;
    if (!server.Open(error)) {
        Fail(error);
        return EXIT_FAILURE;
    }

    bool ok = true;
    {
        // The link is in place before the path is announced, so whoever reads the path can use
        // either.
        PortLink link;
        if (!o.link.empty() && !link.Create(o.link, server.SlavePath(), error)) {
            Fail(error);
            return EXIT_FAILURE;
        }
        std::printf("%s\n", server.SlavePath().c_str());
        std::fflush(stdout);
        if (!server.Serve(session, o.once, error)) {
            ok = Fail(error);
        }
    }
    if (!o.dump.empty()) {
        ok = WriteDump(o.dump, session.WithBoard(DumpBoardImage)) && ok;
    }
    if (o.stats) {
        std::fputs(session.StatsText().c_str(), stdout);
    }
    return ok ? EXIT_SUCCESS : EXIT_FAILURE;
}
