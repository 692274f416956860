// tervix-flash: the flash job and its companions for scripts and production lines, on the same
// operations as the desktop program.

#include "cli/Commands.h"
#include "cli/ExitStatus.h"
#include "cli/HelpFormatter.h"
#include "cli/HexRefusal.h"
#include "cli/LineCommand.h"
#include "cli/LineOptions.h"
#include "cli/Messages.h"
#include "cli/ProjectCommand.h"
#include "cli/SerialCommand.h"
#include "cli/StationCommand.h"
#include "res/Version.h"
#include "target/TargetProfile.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

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
        ->option_text("MS");
}

// The options of a command that can run on several boards at once; --port may be repeated.
void AddBoardsOptions(CLI::App* command, SessionOptions& session, BoardsOptions& boards) {
    CLI::Option* port =
        command
            ->add_option("--port", boards.Ports,
                         "Use this port only: a COM name (COM3, \\\\.\\COM12) or a device "
                         "path (/dev/ttyUSB0). Repeat it for several boards at once, each run by "
                         "a process of its own in a folder named after its port (./COM3/)")
            ->allow_extra_args(false);
    CLI::Option* all = command->add_flag(
        "--all", boards.All,
        "Every board at once: each port of COM1..COM21 that opens and reports device 33; every "
        "port is listed with what it held, and a board that fails the device check fails the run");
    command
        ->add_option("--expect", boards.Expect,
                     "Stop before any board is written unless exactly N ports (of --all, or of "
                     "--port) report device 33")
        ->option_text("N")
        ->check(CLI::Range(1, 21));
    CLI::Option* yes = command->add_flag("--yes,-y", session.Choice.Yes,
                                         "Use the first port that opens, without asking");
    port->excludes(yes);
    all->excludes(port);
    all->excludes(yes);
    command->add_flag("--quiet,-q", session.Quiet, "No progress, no summary; errors only");
    command
        ->add_option("--record", boards.Record,
                     "Append one JSON line per board to this file (see README)")
        ->option_text("FILE");
    command->add_flag("--json", boards.Json,
                      "Print each board's JSON line on standard output instead of the summary");
    command
        ->add_option("--timeout-ms", session.TimeoutMs,
                     "Read time-out per byte in milliseconds (default 1500)")
        ->check(CLI::Range(1u, 60000u))
        ->option_text("MS");
    command->add_flag("--progress-for-parent", session.ForParent)->group("");
    command->add_option("--file-name", boards.FileName)->group("");
}

// The file is read once more by each board's command; only the verdict counts here.
int RefuseFile(const std::string& source, const std::string& name) {
    HexCheck check;
    return RefuseUnfitFile(source, name, check);
}

// How many boards a run may write: what the counter's numbers must reach.
std::size_t BoardCount(const BoardsOptions& boards) {
    return boards.All ? PortNameCount : std::max<std::size_t>(boards.Ports.size(), 1);
}

// Checks the serial, tag and digest options of a run on file and hands what they settle to the
// command and its boards.
int TakeLineOptions(LineOptions& line, const std::string& file, SerialSettings& serial,
                    BoardsOptions& boards) {
    if (int status = CheckLineOptions(line, file, BoardCount(boards));
        status != ExitStatus::Success) {
        return status;
    }
    serial = line.Serial;
    boards.Line = line.Line;
    boards.Tags = line.TagPairs;
    boards.ExpectSha256 = line.ExpectedSha256;
    boards.Place = RecordPlaceOf(line);
    return ExitStatus::Success;
}

// flash --project: the project's settings in place of the options it fixes, which may not be
// given beside it; or FILE, which flash needs without a project.
int TakeProjectOptions(const CLI::App* command, const CLI::Option* file, const std::string& path,
                       FlashOptions& flash, BoardsOptions& boards, LineOptions& line) {
    if (path.empty()) {
        return file->count() > 0
                   ? ExitStatus::Success
                   : Fail(ExitStatus::Usage, "flash needs FILE, or --project PROJECT");
    }
    std::string clashing;
    for (const CLI::Option* option : command->get_options()) {
        static const std::vector<std::string> Fixed = {"FILE",
                                                       "--port",
                                                       "--all",
                                                       "--yes",
                                                       "--record",
                                                       "--tag",
                                                       "--fast",
                                                       "--serial-at",
                                                       "--serial-format",
                                                       "--serial-counter",
                                                       "--serial-list",
                                                       "--serial-step",
                                                       "--serial-keep",
                                                       "--expect-sha256"};
        const std::string name = option->get_name();
        if (option->count() > 0 && std::find(Fixed.begin(), Fixed.end(), name) != Fixed.end()) {
            clashing += (clashing.empty() ? "" : ", ") + name;
        }
    }
    if (!clashing.empty()) {
        return Fail(ExitStatus::Usage, "--project " + path +
                                           " fixes the firmware, its serial "
                                           "numbers, record, tags and ports; leave out " +
                                           clashing);
    }
    ProjectRun run;
    if (int status = LoadProjectToRun(path, run); status != ExitStatus::Success) {
        return status;
    }
    const Project& project = run.Settings;
    flash.File = project.Firmware;
    flash.Fast = project.Fast;
    boards.Ports = project.Ports;
    boards.Record = project.Records;
    if (int status = ProjectLineOptions(project, line); status != ExitStatus::Success) {
        return status;
    }
    line.Station = project.Station;
    line.Project = project.Name;
    return ExitStatus::Success;
}

CLI::App* AddCommand(CLI::App& app, const char* name, const char* help) {
    CLI::App* command = app.add_subcommand(name, help);
    command->footer(ExitStatusHelp);
    return command;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app(Description, "tervix-flash");
    app.formatter(std::make_shared<HelpFormatter>());
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
    BoardsOptions flashBoards;
    CLI::App* flashCommand =
        AddCommand(app, "flash",
                   "Connect and check the device, set boot mode, erase, pause 1 s, write with "
                   "read-back, set run mode, disconnect");
    CLI::Option* flashFile = flashCommand->add_option("FILE", flash.File, "Intel HEX file");
    std::string flashProject;
    flashCommand
        ->add_option("--project", flashProject,
                     "Flash one batch with a project file's settings instead: its firmware as "
                     "locked, serial numbers, record, tags and ports")
        ->option_text("PROJECT");
    flashCommand->add_flag("--no-run-mode", flash.NoRunMode, "Leave the board in boot mode");
    flashCommand->add_flag("--fast", flash.Fast,
                           "Fewer, larger requests: several erase rows, up to 128 bytes per "
                           "write and read; the same board contents and checks");
    AddBoardsOptions(flashCommand, flash.Session, flashBoards);
    LineOptions flashLine;
    AddFlashLineOptions(flashCommand, flashLine);

    VerifyOptions verify;
    BoardsOptions verifyBoards;
    CLI::App* verifyCommand = AddCommand(
        app, "verify",
        "Read back what the file defines in the written spaces and compare; writes nothing");
    verifyCommand->add_option("FILE", verify.File, "Intel HEX file")->required();
    AddBoardsOptions(verifyCommand, verify.Session, verifyBoards);
    LineOptions verifyLine;
    AddVerifyLineOptions(verifyCommand, verifyLine);

    EraseOptions erase;
    BoardsOptions eraseBoards;
    CLI::App* eraseCommand =
        AddCommand(app, "erase",
                   "Set boot mode, then erase the application area, one 64-byte block per request");
    eraseCommand->add_option(
        "--from", erase.From,
        "First address, a multiple of 0x40 (decimal or 0x...; default 0x200, the "
        "lowest allowed)");
    eraseCommand->add_option(
        "--to", erase.To,
        "Last address, included, one below a multiple of 0x40 (default 0x7FFF, the "
        "highest allowed)");
    AddBoardsOptions(eraseCommand, erase.Session, eraseBoards);

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

    SerialCommandOptions serial;
    CLI::App* serialCommand = AddSerialCommand(app, serial);

    ProjectCommandOptions project;
    CLI::App* projectCommand = AddProjectCommand(app, project);

    LineCommandOptions line;
    CLI::App* lineCommand = AddLineCommand(app, line);

    StationOptions station;
    CLI::App* stationCommand = AddStationCommand(app, station);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? ExitStatus::Success : ExitStatus::Usage;
    }

    if (flashCommand->parsed()) {
        if (int status = TakeProjectOptions(flashCommand, flashFile, flashProject, flash,
                                            flashBoards, flashLine);
            status != ExitStatus::Success) {
            return status;
        }
        if (int status = TakeLineOptions(flashLine, flash.File, flash.Serial, flashBoards);
            status != ExitStatus::Success) {
            return status;
        }
        flash.Line = flashLine.Line;
        std::vector<std::string> own = SerialChildArgs(flashLine);
        if (!flashLine.Station.empty()) {
            own.insert(own.end(),
                       {"--station", flashLine.Station, "--project-name", flashLine.Project});
        }
        if (flash.NoRunMode) {
            own.emplace_back("--no-run-mode");
        }
        if (flash.Fast) {
            own.emplace_back("--fast");
        }
        return RunOnBoards(
            {"flash", flash.File, own, flash.Session, flashBoards, RefuseFile,
             [&flash](const SessionOptions& session, const std::string& source,
                      const std::string& name, BoardOutcome& outcome, const BoardRecorder& record) {
                 FlashOptions one = flash;
                 one.Session = session;
                 one.File = name;
                 return RunFlash(one, source, outcome, record);
             }});
    }
    if (verifyCommand->parsed()) {
        if (int status = TakeLineOptions(verifyLine, verify.File, verify.Serial, verifyBoards);
            status != ExitStatus::Success) {
            return status;
        }
        return RunOnBoards({"verify", verify.File, SerialChildArgs(verifyLine), verify.Session,
                            verifyBoards, RefuseFile,
                            [&verify](const SessionOptions& session, const std::string& source,
                                      const std::string& name, BoardOutcome& outcome,
                                      const BoardRecorder& record) {
                                VerifyOptions one = verify;
                                one.Session = session;
                                one.File = name;
                                return record(RunVerify(one, source, outcome), outcome);
                            }});
    }
    if (eraseCommand->parsed()) {
        std::vector<std::string> own;
        for (const auto& [option, value] : {std::pair{"--from", erase.From}, {"--to", erase.To}}) {
            if (!value.empty()) {
                own.insert(own.end(), {option, value});
            }
        }
        return RunOnBoards(
            {"erase", std::nullopt, own, erase.Session, eraseBoards,
             [&erase](const std::string&, const std::string&) { return CheckEraseRange(erase); },
             [&erase](const SessionOptions& session, const std::string&, const std::string&,
                      BoardOutcome& outcome, const BoardRecorder& record) {
                 EraseOptions one = erase;
                 one.Session = session;
                 return record(RunErase(one, outcome), outcome);
             }});
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
    if (serialCommand->parsed()) {
        return RunSerial(serial);
    }
    if (projectCommand->parsed()) {
        return RunProject(project);
    }
    if (lineCommand->parsed()) {
        return RunLine(line);
    }
    if (stationCommand->parsed()) {
        return RunStation(station);
    }
    return RunPorts(); // the one subcommand left
}
