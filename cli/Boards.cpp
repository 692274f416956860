#include "cli/BoardRecords.h"
#include "cli/BoardsDisplay.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/ExitStatus.h"
#include "cli/Interruption.h"
#include "cli/LineCommand.h"
#include "cli/Messages.h"
#include "cli/PortAnswer.h"
#include "cli/PortMap.h"
#include "line/BoardProbe.h"
#include "line/BoardProcess.h"
#include "line/BoardRecord.h"
#include "line/BoardsRun.h"
#include "line/HexSnapshot.h"
#include "line/RecordFile.h"
#include "link/Packet.h"
#include "target/PortRefusals.h"
#include "target/TargetProfile.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// What was found, in a few words ("no answer", "device number 32"); for a refused port only the
// first line of the advice.
std::string FindingText(const ProbedPort& probed) {
    switch (probed.Finding) {
    case PortFinding::NoDevice:
        return "no device";
    case PortFinding::InUse:
        return "in use by another program";
    case PortFinding::Refused: {
        const std::string advice = PermissionAdvice(probed.Failure);
        return advice.substr(0, advice.find('\n'));
    }
    case PortFinding::NotOpened:
        return "does not open";
    case PortFinding::NoAnswer:
        return "no answer";
    case PortFinding::NotUnderstood:
        return probed.Code < 0 ? "replies not understood: " + DescribeLinkCode(probed.Code)
                               : "replies not understood: no device number in the reply";
    case PortFinding::Device:
        break;
    }
    return Format("device number %d", probed.Device);
}

// Looks at every port at once and lists each with its finding (unless quiet), so that no port is
// left out without a word; the advice for a refused port follows the list, once.
FoundBoards LookAtPorts(const std::vector<std::string>& ports, bool quiet) {
    const auto started = Clock::now();
    FoundBoards found = FindBoards(ports);
    std::vector<std::string> advice;
    for (const ProbedPort& port : found.Probed) {
        const PortRole role = RoleOf(found, port.Port);
        const char* verdict = role == PortRole::FailedCheck ? ": failed the device check"
                              : role == PortRole::Skipped   ? ": skipped"
                                                            : "";
        if (port.Finding == PortFinding::Refused) {
            const std::string text = PermissionAdvice(port.Failure);
            const std::string rest = text.substr(text.find('\n') + 1);
            if (std::find(advice.begin(), advice.end(), rest) == advice.end()) {
                advice.push_back(rest);
            }
        }
        if (!quiet) {
            const std::string device = ShownDevice(port.Port.c_str());
            std::fprintf(stderr, "%-10s %-24s %s%s\n", ShortPortName(port.Port).c_str(),
                         device.empty() ? "-" : device.c_str(), FindingText(port).c_str(), verdict);
        }
    }
    if (!quiet) {
        std::fprintf(stderr,
                     "%zu of %zu ports with device %s, %zu failed the device check (%.1f s)\n",
                     found.Boards.size(), ports.size(), TargetProfile.DeviceNumber.load(),
                     found.FailedChecks.size(), SecondsSince(started));
        for (const std::string& text : advice) {
            std::fprintf(stderr, "%s\n", text.c_str());
        }
    }
    return found;
}

// Why a board that answered the look at the ports is not run: its record's findings.
nlohmann::json FailedCheck(const ProbedPort& port) {
    nlohmann::json findings;
    const bool numbered = port.Finding == PortFinding::Device;
    findings["device"] = numbered ? nlohmann::json(port.Device) : nlohmann::json(nullptr);
    const std::string where = PortWithDevice(ShortPortName(port.Port).c_str());
    findings["result"] =
        numbered
            ? Format("wrong device on %s: device number %d, expected %s (%s)", where.c_str(),
                     port.Device, TargetProfile.DeviceNumber.load(),
                     TargetProfile.DeviceName.load())
            : Format("device check failed on %s: %s", where.c_str(), FindingText(port).c_str());
    findings["requests"] = 1;
    return findings;
}

int RunOneHere(const BoardJob& job, const HexSnapshot* snapshot,
               const std::optional<std::string>& name, RecordFile* file) {
    const BoardHere here;
    SessionOptions session = job.Session;
    if (!job.Boards.Ports.empty()) {
        session.Choice.Port = job.Boards.Ports.front();
    }
    session.Json = job.Boards.Json;
    const BoardRecorder recorder = [&](int status, BoardOutcome& outcome) {
        // A failure that the stop caused is the stop; one found before it stays what it was.
        const bool stopped =
            status != ExitStatus::Success && StopSignal() != 0 && ExchangeStopped();
        if (stopped) {
            status = InterruptedStatus();
        }
        BoardRecord record = here.Record(outcome, status);
        if (stopped) {
            record.Outcome.Result = InterruptedResult(CurrentStage());
        } else if (status != ExitStatus::Success) {
            record.Outcome.Result = LastFailure();
        }
        if (!job.Boards.Ports.empty()) {
            record.Port = ShortPortName(job.Boards.Ports.front());
        } else if (outcome.Device) {
            record.Port = ShortPortName(TargetProfile.PortName.load());
        }
        record.Command = job.Command;
        record.File = name;
        record.Tags = job.Boards.Tags;
        record.Place = job.Boards.Place;
        record.Sha256 = snapshot != nullptr ? snapshot->Sha256() : std::nullopt;
        const LineSettings& line = job.Boards.Line;
        if (line.Used()) {
            record.Id = NewRecordId(line.Station);
        }
        if (file == nullptr && !job.Boards.Json && !line.Used()) {
            return status;
        }
        outcome.Line = RecordJson(record);
        if ((file != nullptr || job.Boards.Json) && !PublishRecord(job, file, outcome.Line)) {
            return std::max(status, ExitStatus::File);
        }
        return status;
    };
    BoardOutcome outcome;
    return job.RunOne(session, snapshot != nullptr ? snapshot->Path() : std::string(),
                      name.value_or(""), outcome, recorder);
}

int RunBoards(const BoardJob& job) {
    LoadDefaults();
    if (job.Session.TimeoutMs != 0) {
        TargetProfile.ReadTimeoutMs = job.Session.TimeoutMs;
    }
    std::map<std::string, std::string> named; // identity to the name first given
    for (const std::string& port : job.Boards.Ports) {
        const auto [it, added] = named.emplace(PortIdentity(port), port);
        if (!added) {
            return Fail(ExitStatus::Usage,
                        Format("%s and %s name the same port", it->second.c_str(), port.c_str()));
        }
    }
    // A child is given the parent's copy of the file; its name is the one the user gave.
    std::optional<std::string> name = job.File;
    if (job.File && !job.Boards.FileName.empty()) {
        name = job.Boards.FileName;
    }
    std::unique_ptr<RecordFile> file;
    if (!job.Boards.Record.empty()) {
        file = std::make_unique<RecordFile>(job.Boards.Record);
        if (!file->Ok()) {
            return Fail(ExitStatus::File,
                        "cannot write the record " + job.Boards.Record + ": " + file->Error());
        }
        // Appending a record to the firmware would corrupt the file being flashed.
        if (job.File && file->IsFile(*job.File)) {
            return Fail(ExitStatus::Usage,
                        Format("the record %s is the HEX file %s; give another --record",
                               job.Boards.Record.c_str(), name->c_str()));
        }
    }
    std::unique_ptr<HexSnapshot> snapshot;
    if (job.File) {
        snapshot = std::make_unique<HexSnapshot>(*job.File);
        if (!snapshot->Ok()) {
            return Fail(ExitStatus::File, snapshot->Error());
        }
        const std::string& expected = job.Boards.ExpectSha256;
        if (!expected.empty() && snapshot->Sha256() != expected) {
            return Fail(ExitStatus::File,
                        Format("%s has the SHA-256 %s, not the expected %s; nothing was written",
                               name->c_str(), snapshot->Sha256().value_or("?").c_str(),
                               expected.c_str()));
        }
    }
    const int expect = job.Boards.Expect;
    if (expect != 0 && job.Boards.Ports.empty() && !job.Boards.All) {
        return Fail(ExitStatus::Usage, "--expect counts the boards of --all or --port");
    }
    const bool many = job.Boards.Ports.size() > 1 || job.Boards.All;
    if (!many && expect == 0) {
        return RunOneHere(job, snapshot.get(), name, file.get());
    }

    if (int status = job.Refuse(snapshot ? snapshot->Path() : std::string(), name.value_or(""));
        status != ExitStatus::Success) {
        return status;
    }
    std::vector<std::string> ports = job.Boards.Ports;
    FoundBoards found;
    if (job.Boards.All || expect != 0) {
        if (job.Boards.All) {
            ports.assign(std::begin(PortNameTable), std::end(PortNameTable));
            if (!job.Session.Quiet) {
                std::fprintf(stderr, "looking for boards on COM1 to COM21...\n");
            }
        }
        found = LookAtPorts(ports, job.Session.Quiet);
        if (expect != 0 && found.Boards.size() != static_cast<std::size_t>(expect)) {
            return Fail(ExitStatus::Connection,
                        Format("expected %d boards with device %s, found %d: no board was "
                               "written",
                               expect, TargetProfile.DeviceNumber.load(),
                               static_cast<int>(found.Boards.size())));
        }
    }
    if (!many) {
        return RunOneHere(job, snapshot.get(), name, file.get());
    }
    if (job.Boards.All) {
        // The boards that failed the check keep their place among those that passed.
        ports = AnsweredPorts(found, ports);
        if (ports.empty()) {
            return Fail(ExitStatus::Connection,
                        Format("no board answered: no port of COM1 to COM21 opened and reported "
                               "device %s",
                               TargetProfile.DeviceNumber.load()));
        }
    }
    for (const std::string& port : ports) {
        if (found.FailedChecks.contains(port)) {
            continue;
        }
        std::error_code ec;
        std::filesystem::create_directories(BoardFolder(port), ec);
        if (ec) {
            return Fail(ExitStatus::File, "cannot make the folder " + BoardFolder(port) + " for " +
                                              port + ": " + ec.message());
        }
    }
    const std::optional<std::string> sha256 =
        snapshot ? snapshot->Sha256() : std::optional<std::string>();

    // Every child reads the parent's private copy of the file, under the name the user gave.
    const BoardChildJob child{
        job.Command,          job.ChildArgs,     snapshot ? snapshot->Path() : std::string(),
        name.value_or(""),    job.Boards.Record, job.Boards.Tags,
        job.Session.TimeoutMs};
    const std::string program = OwnProgramPath();
    std::vector<RunningBoard> boards(ports.size());
    for (std::size_t i = 0; i < ports.size(); ++i) {
        RunningBoard& board = boards[i];
        board.Port = ShortPortName(ports[i]);
        board.Started = Clock::now();
        if (const auto failed = found.FailedChecks.find(ports[i]);
            failed != found.FailedChecks.end()) {
            board.Running = false;
            board.Status = ExitStatus::Connection;
            board.ChildRecord = FailedCheck(failed->second);
            continue;
        }
        if (StopSignal() != 0) {
            board.Running = false;
            board.Status = InterruptedStatus();
            continue;
        }
        if (!StartBoard(board, program, BoardChildArgs(child, board.Port))) {
            board.Status = ExitStatus::Usage;
        }
    }

    BoardsDisplay display(job.Session.Quiet, OutputRedraws(stderr));
    ParentView view(job, sha256, file.get(),
                    [&display](const std::vector<RunningBoard>& shown, bool finished) {
                        display.Show(shown, finished);
                    });
    AwaitBoards(boards, StopSignal, view, RedrawPeriodMs);
    const Unrecorded& unrecorded = view.NotRecorded();
    if (!job.Session.Quiet && !job.Boards.Json) {
        PrintSummary(boards, job.Boards.Record, unrecorded);
    }
    return view.Worst();
}

} // namespace

int RunOnBoards(const BoardJob& job) {
    CatchStopSignals();
    // The run's parent sends what an earlier run left in the spool before its first board, and
    // what its own boards could not send after the last; a board's child sends its own alone.
    const bool spool = job.Boards.Line.Used() && !job.Session.ForParent;
    if (spool) {
        SendSpool(job.Boards.Line, job.Session.Quiet);
    }
    const int status = RunBoards(job);
    if (spool) {
        SendSpool(job.Boards.Line, job.Session.Quiet);
    }
    // A child reports its board's own status; the run as a whole ends with the signal's.
    if (StopSignal() != 0 && !job.Session.ForParent) {
        return Fail(InterruptedStatus(), "interrupted: every board still running was stopped "
                                         "before its next request and its port closed");
    }
    return status;
}
