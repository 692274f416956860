// tervix-flash: the flash job and its companions for scripts and production lines, on the same
// operations as the desktop program.

#include "cli/Commands.h"
#include "cli/ExitStatus.h"
#include "res/Version.h"

#include <CLI/CLI.hpp>

#include <string>

namespace {

constexpr const char* Description =
    "Programs PIC18F452 boards through their serial bootloader: finds the board's COM port, "
    "checks the device, erases the application area (0x200-0x7FFF), writes an Intel HEX file "
    "row by row with read-back, and sets run mode.";

void AddSessionOptions(CLI::App* command, SessionOptions& options) {
    CLI::Option* port =
        command->add_option("--port", options.Choice.Port,
                            "Use this port only: a COM name (COM3, \\\\.\\COM12) or a device "
                            "path (/dev/ttyUSB0)");
    CLI::Option* yes = command->add_flag("--yes,-y", options.Choice.Yes,
                                         "Use the first port that opens, without asking");
    port->excludes(yes);
    command->add_flag("--quiet,-q", options.Quiet, "No progress, no summary; errors only");
    command
        ->add_option("--timeout-ms", options.TimeoutMs,
                     "Read time-out per byte in milliseconds (default 1500)")
        ->check(CLI::Range(1u, 60000u))
        ->group("");
}

CLI::App* AddCommand(CLI::App& app, const char* name, const char* help) {
    CLI::App* command = app.add_subcommand(name, help);
    command->footer(ExitStatusHelp);
    return command;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app(Description, "tervix-flash");
    app.set_version_flag("--version", std::string("tervix-flash ") + TervixVersion);
    app.footer(std::string("Without --port or --yes, each port that opens is offered on the\n"
                           "terminal:  Serial Port Selected? COM3 (/dev/ttyUSB0) [y/N]\n"
                           "and without a terminal the command stops before touching any port.\n"
                           "COM1..COM21 map to the links of that name in $TERVIX_PORTS, else in\n"
                           "~/.config/tervix/ports, else to the serial devices present.\n\n") +
               ExitStatusHelp);
    // Every command's options on one page, which the manual page is made from.
    app.set_help_all_flag("--help-all", "Print this help with every command's options and exit");
    app.require_subcommand(1);

    FlashOptions flash;
    CLI::App* flashCommand =
        AddCommand(app, "flash",
                   "Connect and check the device, erase, pause 1 s, write with read-back, set "
                   "run mode, disconnect");
    flashCommand->add_option("FILE", flash.File, "Intel HEX file")->required();
    flashCommand->add_flag("--no-run-mode", flash.NoRunMode, "Leave the board in boot mode");
    flashCommand->add_flag("--fast", flash.Fast,
                           "Fewer, larger requests: several erase rows, up to 128 bytes per "
                           "write and read; the same board contents and checks");
    AddSessionOptions(flashCommand, flash.Session);

    RunModeOptions runMode;
    CLI::App* runModeCommand = AddCommand(
        app, "run-mode", "Set the board's run-mode flag (EEPROM 0xFF := 0x00) without flashing");
    runModeCommand->add_flag("--boot", runMode.Boot, "Set boot mode instead (EEPROM 0xFF := 0xFF)");
    AddSessionOptions(runModeCommand, runMode.Session);

    ReadOptions read;
    CLI::App* readCommand =
        AddCommand(app, "read", "Read a memory space of the chip into Intel HEX");
    readCommand->add_option("--space", read.Space, "program, eeprom, id or config")
        ->required()
        ->check(CLI::IsMember({"program", "eeprom", "id", "config"}));
    readCommand->add_option(
        "--from", read.From,
        "First address (decimal or 0x...; default: the space's first, 0x200 for program "
        "memory)");
    readCommand->add_option("--to", read.To, "Last address, included (default: the space's last)");
    readCommand->add_option("-o,--output", read.Output, "HEX file to write")->required();
    AddSessionOptions(readCommand, read.Session);

    CheckOptions check;
    CLI::App* checkCommand = AddCommand(
        app, "check",
        "Read a HEX file as the programmer would, without a port: rows per space, and the line "
        "and code of any fault");
    checkCommand->add_option("FILE", check.File, "Intel HEX file")->required();
    checkCommand->add_flag("--quiet,-q", check.Quiet, "Only the verdict: errors and exit status");

    AddCommand(app, "ports", "List COM1..COM21 with the device each maps to and whether it opens");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? ExitStatus::Success : ExitStatus::Usage;
    }

    if (flashCommand->parsed()) {
        return RunFlash(flash);
    }
    if (runModeCommand->parsed()) {
        return RunRunMode(runMode);
    }
    if (readCommand->parsed()) {
        return RunRead(read);
    }
    if (checkCommand->parsed()) {
        return RunCheck(check);
    }
    return RunPorts(); // the one subcommand left
}
