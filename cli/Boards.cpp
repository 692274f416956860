#include "cli/BoardProcess.h"
#include "cli/BoardRecord.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/ExitStatus.h"
#include "cli/FileDigest.h"
#include "cli/Messages.h"
#include "cli/PortAnswer.h"
#include "cli/RecordFile.h"
#include "link/Packet.h"
#include "target/Connection.h"
#include "target/TargetProfile.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

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

// The boards that answer: every port of the table that opens and reports the expected device.
// The connection's own scan offers each port once, in table order, and checks the device.
std::vector<std::string> FindBoards() {
    std::set<std::string> offered;
    SetPortQuestion(
        [&offered](const char* text, const char*) { return offered.insert(text).second; });
    std::vector<std::string> found;
    for (;;) {
        const std::int32_t result = ConnectTarget();
        if (result >= 0) {
            found.emplace_back(PortNameTable[result]);
        }
        if (DisconnectTarget() < 0 || result == ConnectResult::NoPortAccepted ||
            result == ConnectResult::CloseFailed) {
            break;
        }
    }
    SetPortQuestion({});
    return found;
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
    if (record.Outcome.Result.empty()) {
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
    return Format("FAILED (exit %d): %s", board.Status,
                  board.Record["result"].get<std::string>().substr(0, reasonWidth).c_str());
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
                Fail(board.Status, board.Port + ": " + EndText(board, std::string::npos));
            }
        }
    }

    bool quiet_;
    bool terminal_;
    std::size_t lines_ = 0;
    Clock::time_point drawn_;
    std::map<std::string, std::string> shown_;
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
// under its column.
void PrintSummary(const std::vector<Board>& boards) {
    constexpr std::size_t PortWidth = 10;
    constexpr std::size_t ResultColumn = 33;
    constexpr std::size_t ResultWidth = 80 - ResultColumn;
    std::printf("%-10s %3s %4s %6s %4s  %s\n", "Port", "Dev", "Rows", "Secs", "Exit", "Result");
    std::size_t failed = 0;
    for (const Board& board : boards) {
        const nlohmann::ordered_json& r = board.Record;
        const std::string device = r["device"].is_null() ? "-" : r["device"].dump();
        const bool longPort = board.Port.size() > PortWidth;
        if (longPort) {
            std::printf("%s\n", board.Port.c_str());
        }
        const std::vector<std::string> result =
            Wrapped(r["result"].get<std::string>(), ResultWidth);
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
}

// Writes a finished board's record where it was asked for; false when the record file refused.
bool Publish(const BoardJob& job, RecordFile* file, const nlohmann::ordered_json& record) {
    const std::string line = record.dump();
    if (job.Boards.Json) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }
    if (file != nullptr && !file->Append(line)) {
        Fail(ExitStatus::File, "cannot append to the record " + job.Boards.Record);
        return false;
    }
    return true;
}

int RunOneHere(const BoardJob& job, RecordFile* file) {
    const auto started = Clock::now();
    const std::uint32_t sentBefore = PacketsSent();
    SessionOptions session = job.Session;
    if (!job.Boards.Ports.empty()) {
        session.Choice.Port = job.Boards.Ports.front();
    }
    session.Json = job.Boards.Json;
    BoardRecord record;
    const int status = job.RunOne(session, record.Outcome);
    if (status != ExitStatus::Success) {
        record.Outcome.Result = LastFailure();
    }
    if (!job.Boards.Ports.empty()) {
        record.Port = job.Boards.Ports.front();
    } else if (record.Outcome.Device) {
        record.Port = TargetProfile.PortName.load();
    }
    record.Command = job.Command;
    record.File = job.File;
    record.Tags = job.Boards.Tags;
    record.Sha256 = job.File ? FileSha256(*job.File) : std::nullopt;
    record.Requests = PacketsSent() - sentBefore;
    record.Seconds = SecondsSince(started);
    record.ExitStatus = status;
    if ((file != nullptr || job.Boards.Json) && !Publish(job, file, RecordJson(record))) {
        return std::max(status, ExitStatus::File);
    }
    return status;
}

std::vector<std::string> ChildArgs(const BoardJob& job, const std::string& port) {
    std::vector<std::string> args{job.Command};
    args.insert(args.end(), job.ChildArgs.begin(), job.ChildArgs.end());
    if (job.File) {
        args.push_back(std::filesystem::absolute(*job.File).string());
    }
    args.insert(args.end(), {"--port", port, "--json", "--progress-for-parent"});
    if (job.Session.TimeoutMs != 0) {
        args.insert(args.end(), {"--timeout-ms", std::to_string(job.Session.TimeoutMs)});
    }
    return args;
}

} // namespace

int RunOnBoards(const BoardJob& job) {
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
    std::unique_ptr<RecordFile> file;
    if (!job.Boards.Record.empty()) {
        file = std::make_unique<RecordFile>(job.Boards.Record);
        if (!file->Ok()) {
            return Fail(ExitStatus::File, "cannot write the record " + job.Boards.Record);
        }
    }
    if (job.Boards.Ports.size() <= 1 && !job.Boards.All) {
        return RunOneHere(job, file.get());
    }

    if (int status = job.Refuse(); status != ExitStatus::Success) {
        return status;
    }
    std::vector<std::string> ports = job.Boards.Ports;
    if (job.Boards.All) {
        if (!job.Session.Quiet) {
            std::fprintf(stderr, "looking for boards on COM1 to COM21...\n");
        }
        ports = FindBoards();
        if (ports.empty()) {
            return Fail(ExitStatus::Connection,
                        Format("no board answered: no port of COM1 to COM21 opened and reported "
                               "device %s",
                               TargetProfile.DeviceNumber.load()));
        }
    }
    for (const std::string& port : ports) {
        std::error_code ec;
        std::filesystem::create_directories(FolderFor(port), ec);
        if (ec) {
            return Fail(ExitStatus::File, "cannot make the folder " + FolderFor(port) + " for " +
                                              port + ": " + ec.message());
        }
    }
    const std::optional<std::string> sha256 =
        job.File ? FileSha256(*job.File) : std::optional<std::string>();

    const std::string program = OwnProgramPath();
    std::vector<Board> boards(ports.size());
    std::vector<BoardProcess*> children;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        Board& board = boards[i];
        board.Port = ports[i];
        board.Started = Clock::now();
        board.Child =
            std::make_unique<BoardProcess>(program, ChildArgs(job, ports[i]), FolderFor(ports[i]));
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
    while (running > 0) {
        AwaitBoardOutput(children, RedrawPeriodMs);
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
                }
            }
        }
        display.Show(boards, running == 0);
    }
    if (!job.Session.Quiet && !job.Boards.Json) {
        PrintSummary(boards);
    }
    return worst;
}
