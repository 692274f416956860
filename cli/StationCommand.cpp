#include "cli/StationCommand.h"

#include "cli/BoardsDisplay.h"
#include "cli/Console.h"
#include "cli/ExitStatus.h"
#include "cli/Interruption.h"
#include "cli/LineCommand.h"
#include "cli/LineOptions.h"
#include "cli/PortMap.h"
#include "cli/ProjectCommand.h"
#include "cli/StationJob.h"
#include "cli/StationScreen.h"
#include "cli/StationTerminal.h"
#include "line/BoardProcess.h"
#include "line/Station.h"
#include "line/StationReporter.h"
#include "target/TargetProfile.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>

namespace {

namespace fs = std::filesystem;

constexpr const char* StationFooter =
    "Keys: Enter starts every new board (start = \"key\"), 1-9 start one\n"
    "position's board (again, too), q ends the station once its running\n"
    "jobs have ended. Ctrl-C stops every job at once, each board with its\n"
    "record.\n\n"
    "Exit status:\n"
    "  0   ended by q or --until\n"
    "  2   the project was refused, or the record file or the serial\n"
    "      numbers failed and no more jobs could start\n"
    "  64  usage error\n"
    "  130 interrupted by SIGINT (Ctrl-C)\n"
    "  143 interrupted by SIGTERM or SIGHUP\n";

// What every board's child is given: the project's firmware (the station's copy, named as the
// project names it), its serial numbers, record and tags; and what the station's own lines of
// boards whose child wrote none name.
StationJobs JobsOf(const ProjectRun& run, const LineOptions& line) {
    const Project& project = run.Settings;
    StationJobs jobs;
    jobs.Program = OwnProgramPath();
    jobs.Child.Command = "flash";
    jobs.Child.Options = SerialChildArgs(line);
    if (project.Fast) {
        jobs.Child.Options.emplace_back("--fast");
    }
    jobs.Child.Options.insert(jobs.Child.Options.end(),
                              {"--station", project.Station, "--project-name", project.Name});
    jobs.Child.Source = run.Firmware->Path();
    jobs.Child.FileName = project.Firmware;
    jobs.Child.Record = fs::absolute(project.Records).string();
    jobs.Child.Tags = project.Tags;
    jobs.Run.Command = "flash";
    jobs.Run.File = project.Firmware;
    jobs.Run.Boards.Record = jobs.Child.Record;
    jobs.Run.Boards.Tags = project.Tags;
    jobs.Run.Boards.Place = {project.Station, std::nullopt, project.Name};
    jobs.Run.Boards.Line = line.Line;
    jobs.Sha256 = run.Firmware->Sha256();
    return jobs;
}

StationHeader HeaderOf(const ProjectRun& run) {
    const Project& project = run.Settings;
    StationHeader header;
    header.Station = project.Station;
    header.Project = project.Name;
    header.Firmware = fs::path(project.Firmware).filename().string();
    header.Sha256 = run.Firmware->Sha256().value_or("");
    for (const auto& [key, value] : project.Tags) {
        header.Tags += (header.Tags.empty() ? "" : ", ") + key + "=" + value;
        header.Lot = key == "lot" ? value : header.Lot;
    }
    header.Records = fs::path(project.Records).filename().string();
    header.Start = project.Start;
    header.Started = std::chrono::system_clock::now();
    return header;
}

void Draw(const std::vector<std::string>& lines) {
    std::string text = "\033[H";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        text += lines[i] + "\033[K" + (i + 1 < lines.size() ? "\r\n" : "");
    }
    text += "\033[J";
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

// Passes the operator's key on to the station.
void TakeKey(char key, Station& station) {
    if (key == 'q' || key == 'Q') {
        station.Quit();
    } else if (key == '\n') {
        station.StartAll();
    } else if (key >= '1' && key <= '9') {
        station.StartOne(static_cast<std::size_t>(key - '0'));
    }
}

} // namespace

CLI::App* AddStationCommand(CLI::App& app, StationOptions& options) {
    CLI::App* station = app.add_subcommand(
        "station", "Run a station from its project file: one position per port, each board "
                   "flashed when it answers (or by key), on a screen with the lot's counters");
    station->add_option("PROJECT", options.Project, "Project file, locked to its firmware")
        ->required();
    station->add_flag("--plain", options.Plain,
                      "One line per event instead of the full screen (logs, pipes, consoles "
                      "without VT sequences)");
    station
        ->add_option("--until", options.Until,
                     "Start no more than N jobs and end once they have ended")
        ->option_text("N")
        ->check(CLI::PositiveNumber);
    station
        ->add_option("--line", options.LineUrl,
                     "The line server, for a project without [line]: every board's record and "
                     "the station's state go there too")
        ->option_text("URL");
    station
        ->add_option("--line-token-file", options.LineTokenFile,
                     "The station's token for the line server is this file's first line "
                     "(default: $TERVIX_LINE_TOKEN)")
        ->option_text("FILE");
    station->footer(StationFooter);
    return station;
}

int RunStation(const StationOptions& options) {
    CatchStopSignals();
    ProjectRun run;
    if (int status = LoadProjectToRun(options.Project, run); status != ExitStatus::Success) {
        return status;
    }
    const Project& project = run.Settings;
    LineOptions line;
    line.LineUrl = options.LineUrl;
    line.LineTokenFile = options.LineTokenFile;
    line.Station = project.Station;
    if (int status = ProjectLineOptions(project, line); status != ExitStatus::Success) {
        return status;
    }
    if (int status = TakeLineServer(line); status != ExitStatus::Success) {
        return status;
    }
    const StationJobs jobs = JobsOf(run, line);
    // What an earlier run left in the spool goes first; the station's state from now on.
    std::optional<StationReporter> reporter;
    if (line.Line.Used()) {
        SendSpool(line.Line, !options.Plain);
        std::string why;
        reporter.emplace(LineClient(*ParseLineAddress(line.Line.Url, why), line.Line.Token),
                         project.Station);
    }

    StationSetup setup;
    setup.Project = project.Name;
    setup.Ports = project.Ports;
    for (const std::string& port : project.Ports) {
        const auto named = std::find_if(
            std::begin(PortNameTable), std::end(PortNameTable),
            [&port](const char* name) { return PlainComName(name) == PlainComName(port); });
        setup.LookNames.emplace_back(named == std::end(PortNameTable) ? port : *named);
    }
    setup.Start = project.Start;
    setup.RecordFile = project.Records;
    for (const auto& [key, value] : project.Tags) {
        setup.Tags[key] = value;
    }
    setup.Device = std::atoi(TargetProfile.DeviceNumber.load());
    setup.BaudRate = TargetProfile.BaudRate;
    setup.Until = options.Until;
    setup.StopSignal = StopSignal;
    setup.Job = [&jobs](std::size_t position, const std::string& port,
                        const std::function<void(const std::string&, int)>& progress) {
        return RunStationJob(jobs, position, port, progress);
    };

    const StationHeader header = HeaderOf(run);
    const bool screen = !options.Plain && OutputRedraws(stdout);
    const bool colour = screen && ConsoleColours(stdout);
    StationKeys keys;
    Station station(setup);
    if (screen) {
        // A screen of its own, given back as it was when the station ends.
        std::fputs("\033[?1049h\033[?25l", stdout);
    } else {
        std::printf("%s\n", StationStartLine(header, project.Ports.size()).c_str());
        std::fflush(stdout);
    }
    station.Start();
    std::uint64_t printed = 0;
    auto drawn = std::chrono::steady_clock::time_point();
    StationSnapshot snapshot;
    nlohmann::json reported;
    do {
        TakeKey(keys.Next(RedrawPeriodMs), station);
        snapshot = station.Snapshot();
        if (reporter) {
            nlohmann::json state =
                StationState(snapshot, header.Project, header.Firmware, header.Sha256);
            if (state != reported) {
                reported = state;
                reporter->Report(std::move(state));
            }
        }
        const auto now = std::chrono::steady_clock::now();
        if (screen &&
            (now - drawn >= std::chrono::milliseconds(RedrawPeriodMs) || snapshot.Finished)) {
            int columns = 0;
            int rows = 0;
            ConsoleSize(stdout, columns, rows);
            Draw(StationScreen(header, snapshot, columns, rows, colour));
            drawn = now;
        }
        for (const StationEvent& event : snapshot.Events) {
            if (!screen && event.Number > printed) {
                std::printf("%s\n", EventLine(snapshot, event).c_str());
                std::fflush(stdout);
            }
            printed = std::max(printed, event.Number);
        }
    } while (!snapshot.Finished);
    if (screen) {
        std::fputs("\033[?25h\033[?1049l", stdout);
    }
    reporter.reset();
    if (line.Line.Used()) {
        SendSpool(line.Line, false);
    }
    std::printf("%s", StationSummary(header, snapshot).c_str());
    std::fflush(stdout);
    if (StopSignal() != 0) {
        return InterruptedStatus();
    }
    return snapshot.Halt.empty() ? ExitStatus::Success : ExitStatus::File;
}
