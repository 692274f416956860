#include "line/BoardsRun.h"

#include "link/Packet.h"

#include <algorithm>
#include <filesystem>
#include <optional>

namespace {

// What one line of a child's output says: a stage's progress, a failure, or its record.
void TakeLine(RunningBoard& board, const std::string& text) {
    const ChildLine line = ReadChildLine(text);
    switch (line.What) {
    case ChildLine::Record:
        board.ChildLine = line.Text;
        board.ChildRecord = nlohmann::json::parse(line.Text, nullptr, false);
        break;
    case ChildLine::Serial:
        board.Serial = line.Text;
        break;
    case ChildLine::Recorded:
        board.Recorded = ChildRecordState::Written;
        break;
    case ChildLine::NotRecorded:
        board.Recorded = ChildRecordState::NotWritten;
        board.RecordError = line.Text;
        break;
    case ChildLine::Failure:
        board.Reason = line.Text;
        break;
    case ChildLine::Progress:
        board.Stage = line.Stage;
        board.Percent = line.Percent;
        break;
    case ChildLine::Other:
        break;
    }
}

// Reads what a child wrote.
void Pump(RunningBoard& board) {
    if (!board.Running) {
        return;
    }
    const bool open = board.Child->ReadAvailable(board.Pending);
    for (std::size_t end; (end = board.Pending.find('\n')) != std::string::npos;) {
        TakeLine(board, board.Pending.substr(0, end));
        board.Pending.erase(0, end + 1);
    }
    if (!open) {
        board.Status = board.Child->Wait();
        board.Killed = board.Child->Killed();
        board.Running = false;
    }
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

} // namespace

std::string BoardFolder(const std::string& port) {
    std::string name = port.starts_with("\\\\.\\") ? port.substr(4) : port;
    while (!name.empty() && (name.front() == '/' || name.front() == '\\')) {
        name.erase(name.begin());
    }
    std::replace_if(
        name.begin(), name.end(), [](char c) { return c == '/' || c == '\\'; }, '_');
    return name;
}

std::vector<std::string> BoardChildArgs(const BoardChildJob& job, const std::string& port) {
    std::vector<std::string> args{job.Command};
    args.insert(args.end(), job.Options.begin(), job.Options.end());
    if (!job.Source.empty()) {
        args.insert(args.end(), {job.Source, "--file-name", job.FileName});
    }
    args.insert(args.end(), {"--port", port, "--json", "--progress-for-parent"});
    // A child works in a folder of its own: the record is named from here.
    if (!job.Record.empty()) {
        args.insert(args.end(), {"--record", std::filesystem::absolute(job.Record).string()});
    }
    for (const auto& [key, value] : job.Tags) {
        args.insert(args.end(), {"--tag", key + "=" + value});
    }
    if (job.TimeoutMs != 0) {
        args.insert(args.end(), {"--timeout-ms", std::to_string(job.TimeoutMs)});
    }
    return args;
}

bool StartBoard(RunningBoard& board, const std::string& program,
                const std::vector<std::string>& args) {
    board.Child = std::make_unique<BoardProcess>(program, args, BoardFolder(board.Port));
    if (!board.Child->Started()) {
        board.Running = false;
        board.Reason = "could not start a process for this board";
        return false;
    }
    return true;
}

BoardRecord ChildBoardRecord(const RunningBoard& board) {
    BoardRecord record;
    record.Port = board.Port;
    record.Outcome.Device = Field<int>(board.ChildRecord, "device");
    record.Outcome.Serial = Field<std::string>(board.ChildRecord, "serial");
    record.Outcome.SerialUnverified = Field<std::string>(board.ChildRecord, "serial_unverified");
    if (!record.Outcome.Serial && !record.Outcome.SerialUnverified && !board.Serial.empty()) {
        record.Outcome.SerialUnverified = board.Serial;
    }
    record.Outcome.Time = Field<std::string>(board.ChildRecord, "time");
    record.Outcome.Rows = Field<int>(board.ChildRecord, "rows").value_or(0);
    record.Outcome.Result = Field<std::string>(board.ChildRecord, "result").value_or("");
    record.Requests = Field<std::uint32_t>(board.ChildRecord, "requests").value_or(0);
    record.Seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - board.Started).count();
    record.ExitStatus = board.Status;
    return record;
}

BoardHere::BoardHere() : started_(std::chrono::steady_clock::now()), sentBefore_(PacketsSent()) {}

BoardRecord BoardHere::Record(const BoardOutcome& outcome, int status) const {
    BoardRecord record;
    record.Outcome = outcome;
    record.Requests = PacketsSent() - sentBefore_;
    record.Seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    record.ExitStatus = status;
    return record;
}

void AwaitBoards(std::vector<RunningBoard>& boards, const std::function<int()>& stopSignal,
                 BoardsView& view, int periodMs) {
    std::vector<BoardProcess*> children;
    for (RunningBoard& board : boards) {
        if (board.Child) {
            children.push_back(board.Child.get());
        }
    }
    std::vector<bool> ended(boards.size(), false);
    bool passedOn = false;
    std::size_t running = boards.size();
    while (running > 0) {
        AwaitBoardOutput(children, periodMs);
        if (const int signal = stopSignal(); signal != 0 && !passedOn) {
            passedOn = true;
            for (RunningBoard& board : boards) {
                if (board.Running) {
                    board.Child->Interrupt(signal);
                }
            }
        }
        running = 0;
        for (std::size_t i = 0; i < boards.size(); ++i) {
            RunningBoard& board = boards[i];
            Pump(board);
            if (board.Running) {
                ++running;
            } else if (!ended[i]) {
                ended[i] = true;
                view.Ended(board);
            }
        }
        view.Show(boards, running == 0);
    }
}
