#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/ExitStatus.h"
#include "cli/Interruption.h"
#include "cli/Messages.h"
#include "cli/PortAnswer.h"
#include "cli/PortMap.h"
#include "line/BoardProbe.h"
#include "line/BoardProcess.h"
#include "line/BoardRecord.h"
#include "line/HexSnapshot.h"
#include "line/RecordFile.h"
#include "link/Packet.h"
#include "target/TargetProfile.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int RedrawPeriodMs = 100;
// A board's stage until its child reports the first one.
constexpr const char* StartStage = "start";
// A failure's words are cut to this on a board's live line, so that it fits 80 columns.
constexpr std::size_t LiveReasonWidth = 36;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// "COM3" for COM3 and "\\.\COM3"; a device path keeps its name without the slashes.
std::string FolderFor(const std::string& port) {
    std::string name = port.starts_with("\\\\.\\") ? port.substr(4) : port;
    while (!name.empty() && (name.front() == '/' || name.front() == '\\')) {
        name.erase(name.begin());
    }
    std::replace_if(
        name.begin(), name.end(), [](char c) { return c == '/' || c == '\\'; }, '_');
    return name;
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

// A board answers a device read within milliseconds; a silent port is given up on after this,
// all of them at once.
constexpr std::uint32_t ProbeTimeoutMs = 1000;

// What the ports held when they were looked at, in the order they were given: the ports whose
// board reported the expected device, and the boards that answered but failed that check.
struct Found {
    std::vector<std::string> Boards;
    std::map<std::string, ProbedPort> FailedChecks;
};

// Looks at every port at once and lists each with its finding (unless quiet), so that no port is
// left out without a word; the advice for a refused port follows the list, once.
Found FindBoards(const std::vector<std::string>& ports, bool quiet) {
    const auto started = Clock::now();
    const std::vector<ProbedPort> probed =
        ProbePorts(ports, TargetProfile.BaudRate,
                   std::min(ProbeTimeoutMs, TargetProfile.ReadTimeoutMs.load()));
    const std::string expected = TargetProfile.DeviceNumber.load();
    Found found;
    std::vector<std::string> advice;
    for (const ProbedPort& port : probed) {
        std::string verdict;
        if (port.Finding == PortFinding::Device && std::to_string(port.Device) == expected) {
            found.Boards.push_back(port.Port);
        } else if (BoardAnswered(port)) {
            found.FailedChecks.emplace(port.Port, port);
            verdict = ": failed the device check";
        } else {
            verdict = ": skipped";
        }
        if (port.Finding == PortFinding::Refused) {
            const std::string text = PermissionAdvice(port.Failure);
            const std::string rest = text.substr(text.find('\n') + 1);
            if (std::find(advice.begin(), advice.end(), rest) == advice.end()) {
                advice.push_back(rest);
            }
        }
        if (!quiet) {
            const std::string device = ShownDevice(port.Port.c_str());
            std::fprintf(stderr, "%-10s %-24s %s%s\n", port.Port.c_str(),
                         device.empty() ? "-" : device.c_str(), FindingText(port).c_str(),
                         verdict.c_str());
        }
    }
    if (!quiet) {
        std::fprintf(stderr,
                     "%zu of %zu ports with device %s, %zu failed the device check (%.1f s)\n",
                     found.Boards.size(), ports.size(), expected.c_str(), found.FailedChecks.size(),
                     SecondsSince(started));
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
    findings["result"] =
        numbered ? Format("wrong device on %s: device number %d, expected %s (%s)",
                          PortWithDevice(port.Port.c_str()).c_str(), port.Device,
                          TargetProfile.DeviceNumber.load(), TargetProfile.DeviceName.load())
                 : Format("device check failed on %s: %s",
                          PortWithDevice(port.Port.c_str()).c_str(), FindingText(port).c_str());
    findings["requests"] = 1;
    return findings;
}

struct Board {
    std::string Port;
    std::unique_ptr<BoardProcess> Child;
    Clock::time_point Started;
    std::string Pending; // output after the last line end
    std::string Stage = StartStage;
    int Percent = 0;
    std::string Reason; // the child's last failure message
    nlohmann::json ChildRecord;
    bool Running = true;
    int Status = -1;
    nlohmann::ordered_json Record;
};

// What one line of a child's output says: a stage's progress, a failure, or its record.
void TakeLine(Board& board, const std::string& line) {
    constexpr std::string_view Prefix = "tervix-flash: ";
    if (line.starts_with('{')) {
        board.ChildRecord = nlohmann::json::parse(line, nullptr, false);
        return;
    }
    if (line.starts_with(Prefix)) {
        board.Reason = line.substr(Prefix.size());
        return;
    }
    char stage[32] = {};
    int percent = 0;
    if (std::sscanf(line.c_str(), "%31[a-z]: %d %%", stage, &percent) == 2) {
        board.Stage = stage;
        board.Percent = percent;
    } else if (std::sscanf(line.c_str(), "%31[a-z]: done", stage) == 1 &&
               line.find(": done in ") != std::string::npos) {
        board.Stage = stage;
        board.Percent = 100;
    }
}

// Reads what a child wrote; true when something changed.
bool Pump(Board& board) {
    if (!board.Running) {
        return false;
    }
    const std::size_t before = board.Pending.size();
    const bool open = board.Child->ReadAvailable(board.Pending);
    bool changed = board.Pending.size() != before;
    for (std::size_t end; (end = board.Pending.find('\n')) != std::string::npos;) {
        TakeLine(board, board.Pending.substr(0, end));
        board.Pending.erase(0, end + 1);
    }
    if (!open) {
        board.Status = board.Child->Wait();
        board.Running = false;
        changed = true;
    }
    return changed;
}

template <class T> std::optional<T> Field(const nlohmann::json& record, const char* key) {
    if (!record.is_object() || !record.contains(key) || record[key].is_null()) {
        return std::nullopt;
    }
    try {
        return record[key].get<T>();
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
}

// The record as the parent knows it: the board's own findings from the child's record, the
// file as given and the exit status the child really ended with.
nlohmann::ordered_json RecordOf(const BoardJob& job, const std::optional<std::string>& sha256,
                                const Board& board) {
    BoardRecord record;
    record.Command = job.Command;
    record.Port = board.Port;
    record.File = job.File;
    record.Sha256 = sha256;
    record.Outcome.Device = Field<int>(board.ChildRecord, "device");
    record.Outcome.Serial = Field<std::string>(board.ChildRecord, "serial");
    record.Outcome.Time = Field<std::string>(board.ChildRecord, "time");
    record.Tags = job.Boards.Tags;
    record.Outcome.Rows = Field<int>(board.ChildRecord, "rows").value_or(0);
    record.Outcome.Result = Field<std::string>(board.ChildRecord, "result").value_or("");
    if (record.Outcome.Result.empty() && StopSignal() != 0) {
        // Stopped before it could say so itself.
        record.Outcome.Result = InterruptedResult(board.Stage);
    } else if (record.Outcome.Result.empty()) {
        record.Outcome.Result =
            board.Reason.empty() ? Format("ended with status %d", board.Status) : board.Reason;
    }
    record.Requests = Field<std::uint32_t>(board.ChildRecord, "requests").value_or(0);
    record.Seconds = SecondsSince(board.Started);
    record.ExitStatus = board.Status;
    return RecordJson(record);
}

// How a board ended, for its live line; the reason is cut so that the line stays one line.
std::string EndText(const Board& board, std::size_t reasonWidth) {
    if (board.Status == ExitStatus::Success) {
        return "done";
    }
    const std::string result = board.Record["result"].get<std::string>();
    return Format("FAILED (exit %d): %s", board.Status,
                  result.substr(0, std::min(result.find('\n'), reasonWidth)).c_str());
}

// One line per board, redrawn in place on a terminal; a plain line at each change of stage,
// each quarter and each end otherwise.
class BoardsDisplay {
public:
    BoardsDisplay(bool quiet, bool terminal) : quiet_(quiet), terminal_(terminal) {}

    void Show(const std::vector<Board>& boards, bool final) {
        if (quiet_) {
            ShowFailures(boards);
            return;
        }
        if (terminal_) {
            if (!final && SecondsSince(drawn_) * 1000 < RedrawPeriodMs && lines_ > 0) {
                return;
            }
            if (lines_ > 0) {
                std::fprintf(stderr, "\033[%zuA", lines_);
            }
            for (const Board& board : boards) {
                std::fprintf(stderr, "\r%-10s %-7s %3d %%  %s\033[K\n", board.Port.c_str(),
                             board.Stage.c_str(), board.Percent,
                             board.Running ? "" : EndText(board, LiveReasonWidth).c_str());
            }
            lines_ = boards.size();
            drawn_ = Clock::now();
        } else {
            for (const Board& board : boards) {
                if (board.Running && board.Stage == StartStage) {
                    continue;
                }
                const std::string line =
                    board.Running ? Format("%s: %s %d %%", board.Port.c_str(), board.Stage.c_str(),
                                           board.Percent / 25 * 25)
                                  : board.Port + ": " + EndText(board, std::string::npos);
                if (shown_[board.Port] != line) {
                    shown_[board.Port] = line;
                    std::fprintf(stderr, "%s\n", line.c_str());
                }
            }
        }
        std::fflush(stderr);
    }

private:
    // Quiet still names every board that failed, once.
    void ShowFailures(const std::vector<Board>& boards) {
        for (const Board& board : boards) {
            if (!board.Running && board.Status != ExitStatus::Success &&
                shown_.emplace(board.Port, "").second) {
                Fail(board.Status,
                     Format("%s: FAILED (exit %d): %s", board.Port.c_str(), board.Status,
                            board.Record["result"].get<std::string>().c_str()));
            }
        }
    }

    bool quiet_;
    bool terminal_;
    std::size_t lines_ = 0;
    Clock::time_point drawn_;
    std::map<std::string, std::string> shown_;
};

// The records a file refused: how many, and why the last one was.
struct Unrecorded {
    int Count = 0;
    std::string Reason;
};

// Words of text in lines of at most width characters (a longer word has a line of its own).
std::vector<std::string> Wrapped(const std::string& text, std::size_t width) {
    std::vector<std::string> lines(1);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(' ', start);
        end = end == std::string::npos ? text.size() : end;
        const std::string word = text.substr(start, end - start);
        if (!lines.back().empty() && lines.back().size() + 1 + word.size() > width) {
            lines.emplace_back();
        }
        lines.back() += (lines.back().empty() ? "" : " ") + word;
        start = end + 1;
    }
    return lines;
}

// The table fits 80 columns: a long port name takes a line of its own, and the result wraps
// under its column. A result of several lines (advice on a refused port) shows its first line in
// the table; the rest follows the table, once however many boards share it.
void PrintSummary(const std::vector<Board>& boards, const std::string& recordFile,
                  const Unrecorded& unrecorded) {
    constexpr std::size_t PortWidth = 10;
    constexpr std::size_t ResultColumn = 33;
    constexpr std::size_t ResultWidth = 80 - ResultColumn;
    std::printf("%-10s %3s %4s %6s %4s  %s\n", "Port", "Dev", "Rows", "Secs", "Exit", "Result");
    std::size_t failed = 0;
    std::vector<std::string> notes;
    for (const Board& board : boards) {
        const nlohmann::ordered_json& r = board.Record;
        const std::string device = r["device"].is_null() ? "-" : r["device"].dump();
        const bool longPort = board.Port.size() > PortWidth;
        if (longPort) {
            std::printf("%s\n", board.Port.c_str());
        }
        const std::string text = r["result"].get<std::string>();
        const std::size_t end = text.find('\n');
        if (end != std::string::npos &&
            std::find(notes.begin(), notes.end(), text.substr(end + 1)) == notes.end()) {
            notes.push_back(text.substr(end + 1));
        }
        const std::vector<std::string> result = Wrapped(text.substr(0, end), ResultWidth);
        std::printf("%-10s %3s %4d %6.1f %4d  %s\n", longPort ? "" : board.Port.c_str(),
                    device.c_str(), r["rows"].get<int>(), r["seconds"].get<double>(), board.Status,
                    result[0].c_str());
        for (std::size_t i = 1; i < result.size(); ++i) {
            std::printf("%*s%s\n", static_cast<int>(ResultColumn), "", result[i].c_str());
        }
        failed += board.Status == 0 ? 0 : 1;
    }
    std::printf("%s: %zu succeeded, %zu failed\n", Counted(boards.size(), "board").c_str(),
                boards.size() - failed, failed);
    if (unrecorded.Count > 0) {
        std::printf("the records of %d of the %s were not written to %s: %s\n", unrecorded.Count,
                    Counted(boards.size(), "board").c_str(), recordFile.c_str(),
                    unrecorded.Reason.c_str());
    }
    for (const std::string& note : notes) {
        std::printf("\n%s\n", note.c_str());
    }
}

// Writes a finished board's record where it was asked for; false when the record file refused.
// A closed standard output only loses the printed line.
bool Publish(const BoardJob& job, RecordFile* file, const nlohmann::ordered_json& record) {
    const std::string line = record.dump();
    if (job.Boards.Json) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }
    if (file != nullptr && !file->Append(line)) {
        Fail(ExitStatus::File,
             Format("cannot append to the record %s: %s; the record of %s was not written",
                    job.Boards.Record.c_str(), file->Error().c_str(),
                    record["port"].is_string() ? record["port"].get<std::string>().c_str()
                                               : "the board"));
        return false;
    }
    return true;
}

int RunOneHere(const BoardJob& job, const HexSnapshot* snapshot,
               const std::optional<std::string>& name, RecordFile* file) {
    const auto started = Clock::now();
    const std::uint32_t sentBefore = PacketsSent();
    SessionOptions session = job.Session;
    if (!job.Boards.Ports.empty()) {
        session.Choice.Port = job.Boards.Ports.front();
    }
    session.Json = job.Boards.Json;
    BoardRecord record;
    int status = job.RunOne(session, snapshot != nullptr ? snapshot->Path() : std::string(),
                            name.value_or(""), record.Outcome);
    if (status != ExitStatus::Success) {
        record.Outcome.Result = LastFailure();
    }
    // A failure that the stop caused is the stop; one found before it stays what it was.
    if (status != ExitStatus::Success && StopSignal() != 0 && ExchangeStopped()) {
        record.Outcome.Result = InterruptedResult(CurrentStage());
        status = InterruptedStatus();
    }
    if (!job.Boards.Ports.empty()) {
        record.Port = job.Boards.Ports.front();
    } else if (record.Outcome.Device) {
        record.Port = TargetProfile.PortName.load();
    }
    record.Command = job.Command;
    record.File = name;
    record.Tags = job.Boards.Tags;
    record.Sha256 = snapshot != nullptr ? snapshot->Sha256() : std::nullopt;
    record.Requests = PacketsSent() - sentBefore;
    record.Seconds = SecondsSince(started);
    record.ExitStatus = status;
    if ((file != nullptr || job.Boards.Json) && !Publish(job, file, RecordJson(record))) {
        return std::max(status, ExitStatus::File);
    }
    return status;
}

// Every child reads the parent's private copy of the file, under the name the user gave.
std::vector<std::string> ChildArgs(const BoardJob& job, const HexSnapshot* snapshot,
                                   const std::optional<std::string>& name,
                                   const std::string& port) {
    std::vector<std::string> args{job.Command};
    args.insert(args.end(), job.ChildArgs.begin(), job.ChildArgs.end());
    if (snapshot != nullptr && name) {
        args.insert(args.end(), {snapshot->Path(), "--file-name", *name});
    }
    args.insert(args.end(), {"--port", port, "--json", "--progress-for-parent"});
    if (job.Session.TimeoutMs != 0) {
        args.insert(args.end(), {"--timeout-ms", std::to_string(job.Session.TimeoutMs)});
    }
    return args;
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
    Found found;
    if (job.Boards.All || expect != 0) {
        if (job.Boards.All) {
            ports.assign(std::begin(PortNameTable), std::end(PortNameTable));
            if (!job.Session.Quiet) {
                std::fprintf(stderr, "looking for boards on COM1 to COM21...\n");
            }
        }
        found = FindBoards(ports, job.Session.Quiet);
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
        std::erase_if(ports, [&found](const std::string& port) {
            return !found.FailedChecks.contains(port) &&
                   std::find(found.Boards.begin(), found.Boards.end(), port) == found.Boards.end();
        });
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
        std::filesystem::create_directories(FolderFor(port), ec);
        if (ec) {
            return Fail(ExitStatus::File, "cannot make the folder " + FolderFor(port) + " for " +
                                              port + ": " + ec.message());
        }
    }
    const std::optional<std::string> sha256 =
        snapshot ? snapshot->Sha256() : std::optional<std::string>();

    const std::string program = OwnProgramPath();
    std::vector<Board> boards(ports.size());
    std::vector<BoardProcess*> children;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        Board& board = boards[i];
        board.Port = ports[i];
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
        board.Child = std::make_unique<BoardProcess>(
            program, ChildArgs(job, snapshot.get(), name, ports[i]), FolderFor(ports[i]));
        if (!board.Child->Started()) {
            board.Running = false;
            board.Status = ExitStatus::Usage;
            board.Reason = "could not start a process for this board";
        }
        children.push_back(board.Child.get());
    }

    BoardsDisplay display(job.Session.Quiet, OutputRedraws(stderr));
    int worst = ExitStatus::Success;
    std::size_t running = ports.size();
    std::vector<bool> published(ports.size(), false);
    Unrecorded unrecorded;
    bool passedOn = false;
    while (running > 0) {
        AwaitBoardOutput(children, RedrawPeriodMs);
        // A stop sent to the parent alone (a supervisor's SIGTERM) reaches every board too.
        if (StopSignal() != 0 && !passedOn) {
            passedOn = true;
            for (Board& board : boards) {
                if (board.Running) {
                    board.Child->Interrupt(StopSignal());
                }
            }
        }
        running = 0;
        for (std::size_t i = 0; i < boards.size(); ++i) {
            Board& board = boards[i];
            Pump(board);
            if (board.Running) {
                ++running;
                continue;
            }
            if (!published[i]) {
                published[i] = true;
                board.Record = RecordOf(job, sha256, board);
                worst = std::max(worst, board.Status);
                if (!Publish(job, file.get(), board.Record)) {
                    worst = std::max(worst, ExitStatus::File);
                    ++unrecorded.Count;
                    unrecorded.Reason = file->Error();
                }
            }
        }
        display.Show(boards, running == 0);
    }
    if (!job.Session.Quiet && !job.Boards.Json) {
        PrintSummary(boards, job.Boards.Record, unrecorded);
    }
    return worst;
}

} // namespace

int RunOnBoards(const BoardJob& job) {
    CatchStopSignals();
    const int status = RunBoards(job);
    // A child reports its board's own status; the run as a whole ends with the signal's.
    if (StopSignal() != 0 && !job.Session.ForParent) {
        return Fail(InterruptedStatus(), "interrupted: every board still running was stopped "
                                         "before its next request and its port closed");
    }
    return status;
}
